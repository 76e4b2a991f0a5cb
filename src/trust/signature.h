// Reads the publisher's public key and checks the minisign signature of a downloaded update list.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace velmora::trust {

// An Ed25519 public key and the 8-byte key id minisign gives it (stored as in
// the key file; minisign shows it as 16 hex digits of the little-endian number).
struct PublicKey {
  std::array<std::uint8_t, 8> keyId{};
  std::array<std::uint8_t, 32> key{};
};

// Reads a public key from the text of a minisign key file ("untrusted comment: "
// line, then the base64 line) or from the base64 line alone; either may end with
// LF or CRLF. False, leaving `*key` untouched, for anything else.
bool ReadPublicKey(std::string_view text, PublicKey* key);

// The key compiled in with the CMake option VELMORA_UPDATE_KEY, or nullopt when
// the option is empty. Configure refuses a value that is not the base64 line of
// an Ed25519 key, so a non-empty option always yields a key.
std::optional<PublicKey> CompiledInKey();

// What CheckSignature found; only kValid lets a list be used.
enum class SignatureCheck {
  kValid,
  kMalformed,           // not the four lines of a minisign signature file
  kWrongKey,            // made with a key whose id is not this key's
  kBadSignature,        // the message (or a key id borrowed from another key) does not verify
  kBadGlobalSignature,  // the trusted comment was changed after signing
  kNoTimestamp,         // signed, but the trusted comment holds no readable timestamp
  kBadExpiry,           // signed, but its expires field is unreadable or given twice
};

// What the publisher put in the signed (trusted) comment, as Unix times.
struct SignedComment {
  std::uint64_t timestamp = 0;
  std::optional<std::uint64_t> expires;  // none: the signature does not expire
};

// Checks the .minisig text `signatureFile` over the list's bytes `message`: hashed
// with BLAKE2b-512 first for "ED" (minisign's default), as they are for legacy "Ed".
// Of the trusted comment's tab-separated fields, the first "timestamp:N" and the only
// "expires:N" (N: 1-20 digits, fits 64 bits) land in `*comment` only on kValid.
// Without libsodium: kBadSignature.
SignatureCheck CheckSignature(const PublicKey& key, std::string_view message,
                              std::string_view signatureFile, SignedComment* comment);


}  // namespace velmora::trust
