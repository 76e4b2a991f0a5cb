// The update key compiled into this build with the CMake option VELMORA_UPDATE_KEY.
#include "trust/signature.h"

#include <string_view>

namespace velmora::trust {
namespace {

// CMake always defines VELMORA_UPDATE_KEY for this file, empty when no key is set.
constexpr std::string_view kCompiledKey = VELMORA_UPDATE_KEY;
static_assert(kCompiledKey.empty() || kCompiledKey.size() == 56,
              "VELMORA_UPDATE_KEY is the 56-character base64 line of a minisign public key");

}  // namespace

std::optional<PublicKey> CompiledInKey() {
  if (kCompiledKey.empty()) return std::nullopt;
  // Configure has checked the line, so reading cannot fail; were it to, the
  // all-zero key stays, which libsodium refuses to verify anything with, so a
  // broken build fails closed instead of falling back to the key file.
  PublicKey key;
  ReadPublicKey(kCompiledKey, &key);
  return key;
}

}  // namespace velmora::trust
