// SHA-256 digests of data and files, and their hex text as update lists carry it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace velmora::platform {

using Sha256Digest = std::array<std::uint8_t, 32>;

// Hashes data fed in pieces. The backend provides the hash (libcrypto on
// POSIX, BCrypt on Windows); every call returns false once the backend failed.
class Sha256Hasher {
 public:
  Sha256Hasher();
  ~Sha256Hasher();
  Sha256Hasher(const Sha256Hasher&) = delete;
  Sha256Hasher& operator=(const Sha256Hasher&) = delete;

  // Adds `size` bytes to the hash.
  bool Update(const void* data, std::size_t size);
  // Writes the digest of everything added; the hasher is spent afterwards.
  bool Finish(Sha256Digest* digest);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The digest of the whole file at `path`; false when it cannot be read.
bool HashFileSha256(const std::u16string& path, Sha256Digest* digest);

// Reads 64 hex digits, either case; false for anything else.
bool ParseSha256Hex(std::string_view hex, Sha256Digest* digest);

// The digest as 64 lower-case hex digits.
std::string Sha256Hex(const Sha256Digest& digest);

}  // namespace velmora::platform
