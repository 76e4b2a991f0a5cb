// Checks the key reader and the signature check against files made by the real minisign.
#include "trust/signature.h"
#include "trust/secret_key.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sstream>

#include "trust/minisign_tool.h"

namespace velmora::trust {
namespace {

using testing::DecodeBase64;
using testing::EncodeBase64;

const std::string kMessage = "<UpdateList><File Name=\"a.dll\"/></UpdateList>\n";
const std::string kComment = "timestamp:1700000000\tfile:UpdateList.xml\thashed";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Join(const std::vector<std::string>& lines, const std::string& end = "\n") {
  std::string text;
  for (const auto& line : lines) text += line + end;
  return text;
}

// Re-encodes line `index` of `text` after `edit` changed its bytes.
std::string EditBytes(const std::string& text, std::size_t index,
                      const std::function<void(std::vector<std::uint8_t>&)>& edit) {
  auto lines = Lines(text);
  auto bytes = DecodeBase64(lines[index]);
  edit(bytes);
  lines[index] = EncodeBase64(bytes);
  return Join(lines);
}

// Two keys and the signatures the cases start from, made once for the binary.
struct Material {
  testing::Minisign tool;
  PublicKey a, b;
  std::string byA, legacyByA, byB;
  Material() {
    if (!tool.MakeKey("a") || !tool.MakeKey("b")) return;
    ReadPublicKey(tool.PublicKeyFile("a"), &a);
    ReadPublicKey(tool.PublicKeyFile("b"), &b);
    byA = tool.Sign("a", kMessage, kComment);
    legacyByA = tool.Sign("a", kMessage, kComment, true);
    byB = tool.Sign("b", kMessage, kComment);
  }
};

Material& Made() {
  static Material material;
  return material;
}

TEST(CheckSignature, JudgesEachFile) {
  const Material& m = Made();
  ASSERT_FALSE(m.byA.empty() || m.legacyByA.empty() || m.byB.empty()) << "minisign failed";
  const auto line = [&](std::size_t i) { return Lines(m.byA)[i]; };
  const auto withKeyIdOf = [](const PublicKey& key) {
    return [&key](std::vector<std::uint8_t>& b) { std::copy(key.keyId.begin(), key.keyId.end(), b.begin() + 2); };
  };
  struct Case {
    const char* what;
    std::string file;
    SignatureCheck expected;
    std::string message = kMessage;
  };
  const Case cases[] = {
      {"hashed", m.byA, SignatureCheck::kValid},
      {"legacy", m.legacyByA, SignatureCheck::kValid},
      {"CRLF", Join(Lines(m.byA), "\r\n"), SignatureCheck::kValid},
      {"no final newline", m.byA.substr(0, m.byA.size() - 1), SignatureCheck::kValid},
      {"message changed", m.byA, SignatureCheck::kBadSignature, "(" + kMessage.substr(1)},
      {"legacy, message changed", m.legacyByA, SignatureCheck::kBadSignature, kMessage + " "},
      {"other key", m.byB, SignatureCheck::kWrongKey},
      {"other key, key id forged", EditBytes(m.byB, 1, withKeyIdOf(m.a)), SignatureCheck::kBadSignature},
      {"trusted comment edited", Join({line(0), line(1), "trusted comment: timestamp:1800000000", line(3)}),
       SignatureCheck::kBadGlobalSignature},
      {"empty", "", SignatureCheck::kMalformed},
      {"three lines", Join({line(0), line(1), line(2)}), SignatureCheck::kMalformed},
      {"line 4 cut", m.byA.substr(0, m.byA.size() - 6), SignatureCheck::kMalformed},
      {"blank line after", m.byA + "\n", SignatureCheck::kMalformed},
      {"comment prefix", "Untrusted" + m.byA.substr(9), SignatureCheck::kMalformed},
      {"trusted prefix", Join({line(0), line(1), "trusted comment:" + line(2).substr(17), line(3)}),
       SignatureCheck::kMalformed},
      {"not base64", Join({line(0), "*" + line(1).substr(1), line(2), line(3)}), SignatureCheck::kMalformed},
      {"line 2 a byte short", EditBytes(m.byA, 1, [](auto& b) { b.pop_back(); }), SignatureCheck::kMalformed},
      {"line 4 a byte long", EditBytes(m.byA, 3, [](auto& b) { b.push_back(0); }), SignatureCheck::kMalformed},
      {"algorithm", EditBytes(m.byA, 1, [](auto& b) { b[1] = 'X'; }), SignatureCheck::kMalformed},
  };
  for (const Case& c : cases) {
    SignedComment comment;
    EXPECT_EQ(CheckSignature(m.a, c.message, c.file, &comment), c.expected) << c.what;
    EXPECT_EQ(comment.timestamp, c.expected == SignatureCheck::kValid ? 1700000000u : 0u) << c.what;
  }
}

TEST(CheckSignature, ReadsTheFirstTimestampAndTheOnlyExpiry) {
  constexpr std::optional<std::uint64_t> kNever;
  struct Case {
    const char* comment;
    SignatureCheck expected;
    std::uint64_t timestamp;
    std::optional<std::uint64_t> expires;
  };
  const Case cases[] = {
      {"timestamp:42", SignatureCheck::kValid, 42, kNever},
      {"file:UpdateList.xml\ttimestamp:7\ttimestamp:8", SignatureCheck::kValid, 7, kNever},
      {"timestamp:18446744073709551615", SignatureCheck::kValid, UINT64_MAX, kNever},
      {"timestamp:18446744073709551616", SignatureCheck::kNoTimestamp, 0, kNever},
      {"file:UpdateList.xml", SignatureCheck::kNoTimestamp, 0, kNever},
      {"timestamp:", SignatureCheck::kNoTimestamp, 0, kNever},
      {"timestamp:12a\ttimestamp:12", SignatureCheck::kNoTimestamp, 0, kNever},
      {"timestamp: 12", SignatureCheck::kNoTimestamp, 0, kNever},
      {"timestamp:+12", SignatureCheck::kNoTimestamp, 0, kNever},
      {"timestamp:42\texpires:2592042", SignatureCheck::kValid, 42, 2592042},
      {"expires:9\tfile:UpdateList.xml\ttimestamp:5", SignatureCheck::kValid, 5, 9},
      {"timestamp:42\texpires:18446744073709551615", SignatureCheck::kValid, 42, UINT64_MAX},
      {"timestamp:42\texpired:1", SignatureCheck::kValid, 42, kNever},
      {"expires:100", SignatureCheck::kNoTimestamp, 0, kNever},
      {"timestamp:42\texpires:", SignatureCheck::kBadExpiry, 0, kNever},
      {"timestamp:42\texpires:1e9", SignatureCheck::kBadExpiry, 0, kNever},
      {"timestamp:42\texpires:-1", SignatureCheck::kBadExpiry, 0, kNever},
      {"timestamp:42\texpires:18446744073709551616", SignatureCheck::kBadExpiry, 0, kNever},
      {"timestamp:42\texpires:100\texpires:100", SignatureCheck::kBadExpiry, 0, kNever},
      {"expires:100\ttimestamp:42\texpires:200", SignatureCheck::kBadExpiry, 0, kNever},
  };
  Material& m = Made();
  for (const Case& c : cases) {
    SignedComment comment;
    const std::string file = m.tool.Sign("a", kMessage, c.comment);
    ASSERT_FALSE(file.empty()) << c.comment;
    EXPECT_EQ(CheckSignature(m.a, kMessage, file, &comment), c.expected) << c.comment;
    EXPECT_EQ(comment.timestamp, c.timestamp) << c.comment;
    EXPECT_EQ(comment.expires, c.expires) << c.comment;
  }
}

TEST(CheckSignature, AllZeroKeyVerifiesNothing) {
  // CompiledInKey relies on this to fail closed.
  const PublicKey zero;
  ASSERT_FALSE(Made().byA.empty()) << "minisign failed";
  const std::string forged = EditBytes(Made().byA, 1, [](auto& b) { std::fill(b.begin() + 2, b.begin() + 10, 0); });
  EXPECT_EQ(CheckSignature(zero, kMessage, forged, static_cast<SignedComment*>(nullptr)),
            SignatureCheck::kBadSignature);
}

TEST(ReadPublicKey, TakesTheFileOrItsBase64Line) {
  const std::string file = Made().tool.PublicKeyFile("a");
  ASSERT_EQ(Lines(file).size(), 2u) << "minisign failed";
  const std::string bare = Lines(file)[1];
  const auto edited = [&](const std::function<void(std::vector<std::uint8_t>&)>& edit) {
    return Lines(EditBytes(file, 1, edit))[1];
  };
  const struct {
    std::string text;
    bool ok;
  } cases[] = {
      {file, true},
      {Join(Lines(file), "\r\n"), true},
      {bare, true},
      {bare + "\n", true},
      {"", false},
      {Lines(file)[0], false},
      {file + "\n", false},
      {"untrusted comment:" + file.substr(19), false},
      {bare.substr(1), false},
      {edited([](auto& b) { b[1] = 'D'; }), false},
      {edited([](auto& b) { b.pop_back(); }), false},
      {edited([](auto& b) { b.push_back(0); }), false},
      {Lines(Made().byA)[1], false},
  };
  for (const auto& c : cases) {
    PublicKey key;
    EXPECT_EQ(ReadPublicKey(c.text, &key), c.ok) << c.text;
    EXPECT_EQ(key.key, c.ok ? Made().a.key : PublicKey().key) << c.text;
    EXPECT_EQ(key.keyId, c.ok ? Made().a.keyId : PublicKey().keyId) << c.text;
  }
}

TEST(LooksLikeSecretKey, TellsSecretKeysFromOtherMinisignFiles) {
  const std::string secret = Made().tool.SecretKeyFile("a");
  ASSERT_EQ(Lines(secret).size(), 2u) << "minisign failed";
  const auto withKdf = [&](char first, char second) {
    return EditBytes(secret, 1, [=](auto& b) { b[2] = static_cast<std::uint8_t>(first), b[3] = static_cast<std::uint8_t>(second); });
  };
  const struct {
    const char* what;
    std::string text;
    bool secret;
  } cases[] = {
      {"made without password", secret, true},
      {"CRLF", Join(Lines(secret), "\r\n"), true},
      {"password-protected layout", withKdf('S', 'c'), true},
      {"cut after the header", Lines(secret)[0] + "\n" + Lines(secret)[1].substr(0, 8), true},
      {"other KDF", withKdf('X', 'y'), false},
      {"hashed signature algorithm", EditBytes(secret, 1, [](auto& b) { b[1] = 'D'; }), false},
      {"no comment line", Lines(secret)[1], false},
      {"comment not first", "\n" + secret, false},
      {"public key", Made().tool.PublicKeyFile("a"), false},
      {"signature", Made().byA, false},
  };
  for (const auto& c : cases) EXPECT_EQ(LooksLikeSecretKey(c.text), c.secret) << c.what;
}

TEST(CompiledInKey, IsTheConfiguredLine) {
  const std::string line = VELMORA_TEST_UPDATE_KEY;
  PublicKey expected;
  ASSERT_EQ(CompiledInKey().has_value(), !line.empty());
  if (line.empty()) return;
  ASSERT_TRUE(ReadPublicKey(line, &expected));
  EXPECT_EQ(CompiledInKey()->key, expected.key);
}

}  // namespace
}  // namespace velmora::trust
