// Makes real minisign keys and signatures for the trust tests, and edits them at the byte level.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace velmora::trust::testing {

// Runs the minisign program found at configure time inside a temporary folder.
class Minisign {
 public:
  // Makes the password-less key pair `name`.pub / `name`.key; false if minisign failed.
  bool MakeKey(const std::string& name);
  // The text of `name`.pub, and of `name`.key.
  std::string PublicKeyFile(const std::string& name) const;
  std::string SecretKeyFile(const std::string& name) const;
  // The .minisig text of `message` signed with key `name`; empty if minisign failed.
  std::string Sign(const std::string& name, const std::string& message, const std::string& trustedComment,
                   bool legacy = false);

 private:
  bool Run(const std::string& arguments) const;
  velmora::testing::TempFolder folder_;
};

// Standard padded base64, so tests can edit the bytes behind a line.
std::vector<std::uint8_t> DecodeBase64(const std::string& text);
std::string EncodeBase64(const std::vector<std::uint8_t>& bytes);

}  // namespace velmora::trust::testing
