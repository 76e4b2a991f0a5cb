// Tells a minisign secret key file by its text, so that a release never carries one.
#pragma once

#include <string_view>

namespace velmora::trust {

// True when `text` (a file's content, or at least its first two lines) starts
// with "untrusted comment:" and its second line begins with the base64 of a
// secret key's header: "Ed" and then the KDF, "Sc" (scrypt, a password-protected
// key) or two zero bytes (a key made without password). A public key's line,
// whose key id could open with those bytes by chance, never counts.
bool LooksLikeSecretKey(std::string_view text);

}  // namespace velmora::trust
