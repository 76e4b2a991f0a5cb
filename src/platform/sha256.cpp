// The backend-independent part of SHA-256: files through ReadableFile, and the hexadecimal form.
#include "platform/sha256.h"

#include <vector>

#include "platform/file_system.h"

namespace velmora::platform {

namespace {

// Large enough that a big file costs few reads, small enough to stay off
// the peak memory of a run.
constexpr std::uint32_t kReadChunkBytes = 64 * 1024;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool HashFileSha256(const std::u16string& path, Sha256Digest* digest) {
  ReadableFile file;
  if (!file.Open(path)) return false;
  std::vector<char> buffer(kReadChunkBytes);
  Sha256Hasher hasher;
  for (;;) {
    std::uint32_t read = 0;
    if (!file.Read(buffer.data(), kReadChunkBytes, &read)) return false;
    if (read == 0) break;
    if (!hasher.Update(buffer.data(), read)) return false;
  }
  return hasher.Finish(digest);
}

bool ParseSha256Hex(std::string_view hex, Sha256Digest* digest) {
  Sha256Digest value{};
  if (hex.size() != value.size() * 2) return false;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const int high = HexValue(hex[2 * i]);
    const int low = HexValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    value[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  if (digest != nullptr) *digest = value;
  return true;
}

std::string Sha256Hex(const Sha256Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(digest.size() * 2);
  for (const std::uint8_t byte : digest) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
  }
  return text;
}

}  // namespace velmora::platform
