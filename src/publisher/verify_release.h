// Checks a release folder as a client will see it.
#pragma once

#include <string>
#include <vector>

namespace velmora::publisher {

struct VerifyOptions {
  std::u16string folder;   // the release folder with UpdateList.xml
  std::u16string keyFile;  // a minisign public key; empty: the signature is not checked
  std::vector<std::string> allowedFiles;  // names relative to `folder` that may look like secret keys
};

// Checks that the list reads, every name passes the updater's policy, every
// file is there with the listed size and Sha256, every package unpacks into a
// scratch folder (removed again), no file of the folder or of a package is or
// is named like a secret key (unless allowed), the entry point is listed, and with a key
// that UpdateList.xml.minisig is a valid signature with a timestamp. True when
// nothing is wrong, with one line in `*summary`; otherwise false with one line
// per problem in `*problems`.
bool VerifyRelease(const VerifyOptions& options, std::vector<std::string>* problems, std::string* summary);

}  // namespace velmora::publisher
