// SHA-256 digests of data and files, computed by the operating system's cryptography library.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace velmora::platform {

using Sha256Digest = std::array<std::uint8_t, 32>;

// Hashes data handed over in pieces, for files that are hashed while they
// are written. libcrypto on POSIX, CNG (BCrypt) on Windows.
// A hasher that failed once, or has finished, refuses further calls.
class Sha256Hasher {
 public:
  Sha256Hasher();
  ~Sha256Hasher();
  Sha256Hasher(Sha256Hasher&& other) noexcept;
  Sha256Hasher& operator=(Sha256Hasher&& other) noexcept;
  Sha256Hasher(const Sha256Hasher&) = delete;
  Sha256Hasher& operator=(const Sha256Hasher&) = delete;

  // Adds `size` bytes; false when the library fails or the hasher is spent.
  bool Update(const void* data, std::size_t size);
  // Writes the digest of everything added and spends the hasher; false (and
  // `*digest` untouched) on failure.
  bool Finish(Sha256Digest* digest);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Starts the system's cryptography library lean, before anything else does:
// without its error texts and without the tables that name every legacy
// cipher and digest, which nothing here looks up by name. A library that
// starts it later (the HTTP library does, for TLS) keeps this set-up; this
// saves about 1 MiB of resident memory. POSIX only; Windows has nothing to do.
void PrepareCryptography();

// Reads a whole file with ReadableFile and writes its digest; false when the
// file cannot be opened or read.
bool HashFileSha256(const std::u16string& path, Sha256Digest* digest);

// Reads exactly 64 hexadecimal digits, upper or lower case; false (and
// `*digest` untouched) for any other text.
bool ParseSha256Hex(std::string_view hex, Sha256Digest* digest);

// The 64 lower-case hexadecimal digits of a digest.
std::string Sha256Hex(const Sha256Digest& digest);

}  // namespace velmora::platform
