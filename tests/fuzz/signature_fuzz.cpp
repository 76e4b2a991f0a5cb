// Feeds arbitrary bytes to the key reader and the signature check, raw and as edits of a valid signature.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "trust/signature.h"

namespace {

using velmora::trust::CheckSignature;
using velmora::trust::PublicKey;
using velmora::trust::ReadPublicKey;
using velmora::trust::SignatureCheck;
using velmora::trust::SignedComment;

// A throwaway minisign key and its signature of kMessage, so edits reach the
// signature checks and not only the parser.
constexpr std::string_view kKeyFile =
    "untrusted comment: minisign public key 5124B4D0461DA2B9\n"
    "RWS5oh1G0LQkUYLNcP9V+D21EGrremujQNAkygMXiCFw8W+kNZF9mSDr\n";
constexpr std::string_view kMessage = "velmora";
constexpr std::string_view kSignatureFile =
    "untrusted comment: signature from minisign secret key\n"
    "RUS5oh1G0LQkUfWqEvpftOVw3T/bqmi8h+xPRWwhHZwi0dWqN8Q1Ot9lCVfPxOAAHI3HWkL6g5TYhSa96UMtZteiehRTkOWJQgA=\n"
    "trusted comment: timestamp:1700000000\n"
    "rExN3rg2WWuhABAZUi7j4IkrJ1ztYktRJV392br8l+qgHb3iryCzBr28XskWVLEHaSPoTo9cV/F6FLpQo14PBA==\n";

void Check(bool condition) {
  if (!condition) std::abort();
}

const PublicKey& FixedKey() {
  static const PublicKey key = [] {
    PublicKey read;
    Check(ReadPublicKey(kKeyFile, &read));
    SignedComment comment;
    Check(CheckSignature(read, kMessage, kSignatureFile, &comment) == SignatureCheck::kValid);
    Check(comment.timestamp == 1700000000 && !comment.expires);
    return read;
  }();
  return key;
}

// A result other than kValid never writes the comment.
void CheckOnce(const PublicKey& key, std::string_view message, std::string_view file) {
  SignedComment comment;
  comment.timestamp = 1;
  comment.expires = 2;
  if (CheckSignature(key, message, file, &comment) != SignatureCheck::kValid) {
    Check(comment.timestamp == 1 && comment.expires == std::optional<std::uint64_t>(2));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const PublicKey& fixed = FixedKey();

  // The whole input as a key, and as a signature file over two messages.
  PublicKey key;
  if (ReadPublicKey(text, &key)) CheckOnce(key, kMessage, kSignatureFile);
  CheckOnce(fixed, kMessage, text);
  CheckOnce(fixed, text, kSignatureFile);

  // Key text, signature file and message cut at the first two NULs.
  const std::size_t first = text.find('\0');
  const std::size_t second = first == std::string_view::npos ? first : text.find('\0', first + 1);
  if (second != std::string_view::npos && ReadPublicKey(text.substr(0, first), &key)) {
    CheckOnce(key, text.substr(second + 1), text.substr(first + 1, second - first - 1));
  }

  // Byte triples (position as two bytes, value) edit the valid signature file.
  std::string edited(kSignatureFile);
  for (std::size_t i = 0; i + 2 < size; i += 3) {
    edited[(data[i] * 256u + data[i + 1]) % edited.size()] = static_cast<char>(data[i + 2]);
  }
  CheckOnce(fixed, kMessage, edited);
  return 0;
}
