// What SHA-256 needs beyond the backend's hash: files and hex text, the same on every platform.
#include "platform/sha256.h"

#include <vector>

#include "platform/file_system.h"

namespace velmora::platform {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ParseSha256Hex(std::string_view hex, Sha256Digest* digest) {
  Sha256Digest parsed{};
  if (hex.size() != parsed.size() * 2) return false;
  for (std::size_t i = 0; i < parsed.size(); ++i) {
    const int high = HexValue(hex[2 * i]);
    const int low = HexValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    parsed[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  *digest = parsed;
  return true;
}

std::string Sha256Hex(const Sha256Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(digest.size() * 2);
  for (std::uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

bool HashFileSha256(const std::u16string& path, Sha256Digest* digest) {
  ReadableFile file;
  if (!file.Open(path)) return false;
  Sha256Hasher hasher;
  std::vector<unsigned char> buffer(1 << 16);
  for (;;) {
    std::uint32_t read = 0;
    if (!file.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()), &read)) return false;
    if (read == 0) break;
    if (!hasher.Update(buffer.data(), read)) return false;
  }
  return hasher.Finish(digest);
}

}  // namespace velmora::platform
