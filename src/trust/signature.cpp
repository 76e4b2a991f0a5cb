// Reads minisign public keys and signature files and checks them with libsodium.
#include "trust/signature.h"

#include <sodium.h>

#include <algorithm>
#include <cstddef>
#include <string>

namespace velmora::trust {
namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";
constexpr std::string_view kTimestampField = "timestamp:";
constexpr std::string_view kExpiresField = "expires:";
constexpr std::size_t kKeyBlobSize = 2 + 8 + crypto_sign_PUBLICKEYBYTES;
constexpr std::size_t kSignatureBlobSize = 2 + 8 + crypto_sign_BYTES;
constexpr std::size_t kHashSize = crypto_generichash_BYTES_MAX;
static_assert(kHashSize == 64, "minisign signs the 64-byte BLAKE2b hash");
static_assert(crypto_sign_PUBLICKEYBYTES == std::tuple_size<decltype(PublicKey::key)>::value);

// The parts of a signature file that the checks need.
struct SignatureFile {
  bool hashed = false;
  std::array<std::uint8_t, 8> keyId{};
  std::array<std::uint8_t, crypto_sign_BYTES> signature{};
  std::string_view trustedComment;
  std::array<std::uint8_t, crypto_sign_BYTES> globalSignature{};
};

bool SodiumReady() {
  // sodium_init is safe to call from several threads; the static makes it once.
  static const bool ready = sodium_init() >= 0;
  return ready;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Cuts `text` into exactly `count` lines, each ended by LF or CRLF except that
// the last one's end is optional; nothing may follow it.
bool SplitLines(std::string_view text, std::string_view* lines, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) {
      if (i + 1 != count) return false;
      lines[i] = text;
      return true;
    }
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines[i] = line;
    text.remove_prefix(end + 1);
  }
  return text.empty();
}

// Decodes padded standard base64 that must hold exactly N bytes. libsodium
// refuses stray characters, missing padding and non-zero leftover bits, so one
// blob has one spelling.
template <std::size_t N>
bool DecodeExact(std::string_view base64, std::array<std::uint8_t, N>* out) {
  std::size_t length = 0;
  return sodium_base642bin(out->data(), N, base64.data(), base64.size(), nullptr, &length, nullptr,
                           sodium_base64_VARIANT_ORIGINAL) == 0 &&
         length == N;
}

bool ParseSignatureFile(std::string_view text, SignatureFile* file) {
  std::string_view lines[4];
  if (!SplitLines(text, lines, 4) || !StartsWith(lines[0], kUntrustedPrefix) ||
      !StartsWith(lines[2], kTrustedPrefix)) {
    return false;
  }
  std::array<std::uint8_t, kSignatureBlobSize> blob;
  if (!DecodeExact(lines[1], &blob) || !DecodeExact(lines[3], &file->globalSignature)) return false;
  if (blob[0] != 'E' || (blob[1] != 'D' && blob[1] != 'd')) return false;
  file->hashed = blob[1] == 'D';
  std::copy_n(blob.begin() + 2, file->keyId.size(), file->keyId.begin());
  std::copy_n(blob.begin() + 2 + file->keyId.size(), file->signature.size(), file->signature.begin());
  file->trustedComment = lines[2].substr(kTrustedPrefix.size());
  return true;
}

// 1 to 20 decimal digits whose value fits 64 bits; no sign, no blanks.
bool ParseDecimal(std::string_view digits, std::uint64_t* value) {
  if (digits.empty() || digits.size() > 20) return false;
  std::uint64_t result = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (result > (UINT64_MAX - digit) / 10) return false;
    result = result * 10 + digit;
  }
  *value = result;
  return true;
}

// The first tab-separated field named "timestamp:" decides, wherever it stands,
// so a publisher may put other fields (minisign's own "file:") before it.
bool ReadTimestamp(std::string_view comment, std::uint64_t* value) {
  while (true) {
    const std::size_t end = comment.find('\t');
    const std::string_view field = comment.substr(0, end);
    if (StartsWith(field, kTimestampField)) {
      return ParseDecimal(field.substr(kTimestampField.size()), value);
    }
    if (end == std::string_view::npos) return false;
    comment.remove_prefix(end + 1);
  }
}

// An "expires:" field may stand anywhere, but only once: were the first one to
// decide as for the timestamp, a reader that took the last one would see a
// later expiry in the same signed text. Without the field the list never expires.
bool ReadExpiry(std::string_view comment, std::optional<std::uint64_t>* expires) {
  std::optional<std::uint64_t> found;
  while (true) {
    const std::size_t end = comment.find('\t');
    const std::string_view field = comment.substr(0, end);
    if (StartsWith(field, kExpiresField)) {
      std::uint64_t value = 0;
      if (found || !ParseDecimal(field.substr(kExpiresField.size()), &value)) return false;
      found = value;
    }
    if (end == std::string_view::npos) break;
    comment.remove_prefix(end + 1);
  }
  *expires = found;
  return true;
}

const unsigned char* Bytes(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

}  // namespace

bool ReadPublicKey(std::string_view text, PublicKey* key) {
  std::string_view lines[2];
  const bool withComment = StartsWith(text, kUntrustedPrefix);
  if (!SplitLines(text, lines, withComment ? 2 : 1)) return false;
  std::array<std::uint8_t, kKeyBlobSize> blob;
  if (!DecodeExact(lines[withComment ? 1 : 0], &blob) || blob[0] != 'E' || blob[1] != 'd') {
    return false;
  }
  std::copy_n(blob.begin() + 2, key->keyId.size(), key->keyId.begin());
  std::copy_n(blob.begin() + 2 + key->keyId.size(), key->key.size(), key->key.begin());
  return true;
}

SignatureCheck CheckSignature(const PublicKey& key, std::string_view message,
                              std::string_view signatureFile, SignedComment* comment) {
  SignatureFile file;
  if (!ParseSignatureFile(signatureFile, &file)) return SignatureCheck::kMalformed;
  if (file.keyId != key.keyId) return SignatureCheck::kWrongKey;
  if (!SodiumReady()) return SignatureCheck::kBadSignature;

  std::array<unsigned char, kHashSize> hash;
  const unsigned char* signedBytes = Bytes(message);
  std::size_t signedSize = message.size();
  if (file.hashed) {
    if (crypto_generichash(hash.data(), hash.size(), Bytes(message), message.size(), nullptr, 0) != 0) {
      return SignatureCheck::kBadSignature;
    }
    signedBytes = hash.data();
    signedSize = hash.size();
  }
  if (crypto_sign_verify_detached(file.signature.data(), signedBytes, signedSize, key.key.data()) != 0) {
    return SignatureCheck::kBadSignature;
  }

  // The global signature binds the trusted comment to this very signature.
  std::string global(file.signature.begin(), file.signature.end());
  global.append(file.trustedComment);
  if (crypto_sign_verify_detached(file.globalSignature.data(), Bytes(global), global.size(),
                                  key.key.data()) != 0) {
    return SignatureCheck::kBadGlobalSignature;
  }
  SignedComment read;
  if (!ReadTimestamp(file.trustedComment, &read.timestamp)) return SignatureCheck::kNoTimestamp;
  if (!ReadExpiry(file.trustedComment, &read.expires)) return SignatureCheck::kBadExpiry;
  if (comment != nullptr) *comment = read;
  return SignatureCheck::kValid;
}


}  // namespace velmora::trust
