// Signs a release's update list with minisign and checks the fresh signature.
#pragma once

#include <cstdint>
#include <string>

#include "publisher/release_files.h"

namespace velmora::publisher {

struct SignOptions {
  std::u16string folder;            // the release folder holding UpdateList.xml
  std::u16string secretKey;         // a minisign secret key file
  std::uint32_t expiresInDays = 0;  // 0: the signature carries no expiry
  std::u16string keyFile;           // a public key to check the new signature with; empty: none
};

// The longest validity SignRelease accepts, about a hundred years: longer is a
// typing mistake, and the sum with the timestamp stays far from overflowing.
constexpr std::uint32_t kMaxExpiryDays = 36500;

// Runs `minisign -S -s KEY -m FOLDER/UpdateList.xml -t COMMENT`, the comment
// being "timestamp:<now>" and, with an expiry, a TAB and "expires:<now + days
// * 86400>" (Unix times). minisign asks for the password of an encrypted key
// on the terminal. With a key file the new signature must verify and carry
// those values. False with errors in `messages` otherwise.
bool SignRelease(const SignOptions& options, std::uint64_t now, Messages* messages);

}  // namespace velmora::publisher
