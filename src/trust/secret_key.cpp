// Recognises minisign secret key files by their header bytes.
#include "trust/secret_key.h"

#include <sodium.h>

#include <array>
#include <cstdint>

namespace velmora::trust {
namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment:";
// Eight base64 characters are the first six bytes: "Ed", the KDF and the
// checksum algorithm. Only a prefix is decoded, so that a cut or edited key,
// whose secret bytes would leak as well, is still recognised.
constexpr std::size_t kHeaderCharacters = 8;
// "Ed" + 8-byte key id + 32-byte key, base64 without line end.
constexpr std::size_t kPublicKeyLineLength = 56;

}  // namespace

bool LooksLikeSecretKey(std::string_view text) {
  if (text.substr(0, kUntrustedPrefix.size()) != kUntrustedPrefix) return false;
  const std::size_t firstEnd = text.find('\n');
  if (firstEnd == std::string_view::npos) return false;
  std::string_view line = text.substr(firstEnd + 1);
  line = line.substr(0, line.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.size() < kHeaderCharacters || line.size() == kPublicKeyLineLength) return false;

  std::array<unsigned char, kHeaderCharacters / 4 * 3> header{};
  std::size_t length = 0;
  if (sodium_base642bin(header.data(), header.size(), line.data(), kHeaderCharacters, nullptr, &length, nullptr,
                        sodium_base64_VARIANT_ORIGINAL) != 0 ||
      length != header.size()) {
    return false;
  }
  const bool ed25519 = header[0] == 'E' && header[1] == 'd';
  const bool scrypt = header[2] == 'S' && header[3] == 'c';
  const bool noKdf = header[2] == 0 && header[3] == 0;
  return ed25519 && (scrypt || noKdf);
}

}  // namespace velmora::trust
