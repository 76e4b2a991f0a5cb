// Tests of SHA-256 on whichever backend was built: known answers, pieces, files and the hexadecimal form.
#include "platform/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>

namespace velmora::platform {
namespace {

struct KnownAnswer {
  std::string message;
  const char* digest;
};

// FIPS 180-2 examples, plus a message longer than one 64-byte block.
const KnownAnswer kKnownAnswers[] = {
    {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
};

std::string HexOf(const std::string& message, std::size_t pieceSize) {
  Sha256Hasher hasher;
  for (std::size_t at = 0; at < message.size(); at += pieceSize) {
    if (!hasher.Update(message.data() + at, std::min(pieceSize, message.size() - at))) return "update failed";
  }
  Sha256Digest digest{};
  return hasher.Finish(&digest) ? Sha256Hex(digest) : "finish failed";
}

TEST(Sha256Hasher, KnownAnswersWholeAndInPieces) {
  for (const KnownAnswer& answer : kKnownAnswers) {
    EXPECT_EQ(HexOf(answer.message, 1000), answer.digest) << answer.message;
    EXPECT_EQ(HexOf(answer.message, 7), answer.digest) << answer.message;
  }
}

TEST(Sha256Hasher, IsSpentAfterFinishAndWhenMovedFrom) {
  Sha256Hasher hasher;
  Sha256Hasher moved = std::move(hasher);
  Sha256Digest digest{};
  EXPECT_FALSE(hasher.Update("x", 1));
  ASSERT_TRUE(moved.Finish(&digest));
  EXPECT_FALSE(moved.Update("x", 1));
  EXPECT_FALSE(moved.Finish(&digest));
}

TEST(HashFileSha256, MatchesTheHasherAndFailsForAMissingFile) {
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "velmora-sha256-test.bin";
  std::string content;
  for (int i = 0; i < 200000; ++i) content.push_back(static_cast<char>(i * 7));
  std::ofstream(path, std::ios::binary) << content;
  Sha256Digest digest{};
  EXPECT_TRUE(HashFileSha256(path.u16string(), &digest));
  EXPECT_EQ(Sha256Hex(digest), HexOf(content, content.size()));
  std::filesystem::remove(path);
  EXPECT_FALSE(HashFileSha256(path.u16string(), &digest));
}

TEST(ParseSha256Hex, AcceptsExactlySixtyFourDigitsOfEitherCase) {
  const std::string lower = kKnownAnswers[1].digest;
  std::string upper = lower;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  Sha256Digest digest{};
  ASSERT_TRUE(ParseSha256Hex(upper, &digest));
  EXPECT_EQ(Sha256Hex(digest), lower);

  const Sha256Digest before = digest;
  for (const std::string& bad : {lower.substr(1), lower + "0", "g" + lower.substr(1), std::string()}) {
    EXPECT_FALSE(ParseSha256Hex(bad, &digest)) << bad;
  }
  EXPECT_EQ(digest, before);
}

}  // namespace
}  // namespace velmora::platform
