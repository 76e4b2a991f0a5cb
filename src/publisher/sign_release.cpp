// Signs a release's update list by running minisign, then reads the signature back.
#include "publisher/sign_release.h"

#include <vector>

#include "platform/child_process.h"
#include "platform/encoding.h"
#include "platform/file_system.h"
#include "layout/own_files.h"
#include "trust/signature.h"

namespace velmora::publisher {
namespace {

constexpr std::uint64_t kSecondsPerDay = 86400;
constexpr char16_t kMinisign[] = u"minisign";
constexpr char kSignatureEnding[] = ".minisig";

// Reads back what was just signed: a failure here means the key file does not
// belong to the secret key, or minisign wrote something else than was asked.
bool CheckFreshSignature(const std::u16string& listPath, const std::u16string& keyFile,
                         const trust::SignedComment& expected, Messages* messages) {
  std::string keyText, list, signature;
  trust::PublicKey key;
  if (!ReadWholeFile(keyFile, &keyText) || !trust::ReadPublicKey(keyText, &key)) {
    messages->errors.push_back("'" + platform::WideToUtf8(keyFile) + "' is not a minisign public key");
    return false;
  }
  if (!ReadWholeFile(listPath, &list) ||
      !ReadWholeFile(listPath + platform::Utf8ToWide(kSignatureEnding), &signature)) {
    messages->errors.push_back("the list or its new signature cannot be read back");
    return false;
  }
  trust::SignedComment read;
  if (trust::CheckSignature(key, list, signature, &read) != trust::SignatureCheck::kValid) {
    messages->errors.push_back("the new signature does not verify with '" + platform::WideToUtf8(keyFile) + "'");
    return false;
  }
  if (read.timestamp != expected.timestamp || read.expires != expected.expires) {
    messages->errors.push_back("the new signature's trusted comment is not the one asked for");
    return false;
  }
  return true;
}

}  // namespace

bool SignRelease(const SignOptions& options, std::uint64_t now, Messages* messages) {
  if (options.expiresInDays > kMaxExpiryDays) {
    messages->errors.push_back("an expiry of more than " + std::to_string(kMaxExpiryDays) + " days");
    return false;
  }
  trust::SignedComment comment;
  comment.timestamp = now;
  std::string text = "timestamp:" + std::to_string(now);
  if (options.expiresInDays != 0) {
    comment.expires = now + options.expiresInDays * kSecondsPerDay;
    // A TAB separates the fields, as minisign separates its own.
    text += "\texpires:" + std::to_string(*comment.expires);
  }
  // "/" joins: minisign takes it on Windows too, and the folder may be either style.
  const std::u16string listPath = options.folder + u"/" + layout::kLocalListName;
  std::uint64_t size = 0;
  if (!platform::ReadFileSize(listPath, &size)) {
    messages->errors.push_back("'" + platform::WideToUtf8(listPath) + "' is missing");
    return false;
  }
  const std::vector<std::u16string> arguments{u"-S", u"-s", options.secretKey, u"-m", listPath,
                                              u"-t", platform::Utf8ToWide(text)};
  int exitCode = -1;
  if (!platform::RunProgramAndWait(kMinisign, arguments, &exitCode)) {
    messages->errors.push_back("minisign cannot be started; is it installed and on the PATH?");
    return false;
  }
  if (exitCode != 0) {
    messages->errors.push_back("minisign failed with exit code " + std::to_string(exitCode));
    return false;
  }
  return options.keyFile.empty() || CheckFreshSignature(listPath, options.keyFile, comment, messages);
}

}  // namespace velmora::publisher
