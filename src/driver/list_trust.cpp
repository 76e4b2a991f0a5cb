// Decides whether a downloaded update list comes from the publisher.
#include "driver/list_trust.h"

#include <optional>

#include "driver/update_run.h"
#include "platform/encoding.h"
#include "platform/file_ops.h"
#include "platform/names.h"
#include "transfer/session.h"
#include "trust/signature.h"

namespace velmora::driver {
namespace {

constexpr char kSignatureEnding[] = ".minisig";
// A key file or signature file is a few hundred bytes; the list itself is
// bounded too, as it is read whole for the check.
constexpr std::uint64_t kMaxSmallFileBytes = 64 * 1024;
constexpr std::uint64_t kMaxListBytes = 256 * 1024 * 1024;

// The compiled-in key wins: removing a file must never switch checks off.
std::optional<trust::PublicKey> UpdateKey(const RunValues& values) {
  if (std::optional<trust::PublicKey> compiled = trust::CompiledInKey()) return compiled;
  std::string text;
  if (!platform::ReadWholeFile(values.installFolder + platform::UpdateKeyFileName, kMaxSmallFileBytes, &text)) {
    return std::nullopt;
  }
  trust::PublicKey key;
  // A key file that is present but unreadable as a key refuses every list,
  // rather than quietly running without checks.
  if (!trust::ReadPublicKey(text, &key)) key = trust::PublicKey{};
  return key;
}

// The kept signing time; 0 when none was kept yet.
std::uint64_t KeptTimestamp(const RunValues& values) {
  std::string text;
  if (!platform::ReadWholeFile(values.installFolder + platform::ListTimestampFileName, kMaxSmallFileBytes, &text)) {
    return 0;
  }
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

}  // namespace

ListTrust CheckListTrust(const RunValues& values, transfer::TransferSession& session) {
  ListTrust result;
  const std::optional<trust::PublicKey> key = UpdateKey(values);
  if (!key) {
    result.verdict = ListTrust::Verdict::kNoKey;
    return result;
  }
  transfer::DownloadRequest request;
  request.url = values.listUrl + kSignatureEnding;
  request.path = values.downloadedListPath + platform::Utf8ToWide(kSignatureEnding);
  request.maxBytes = kMaxSmallFileBytes;
  std::string list, signature;
  if (session.Download(request).status != transfer::DownloadStatus::kOk ||
      !platform::ReadWholeFile(request.path, kMaxSmallFileBytes, &signature) ||
      !platform::ReadWholeFile(values.downloadedListPath, kMaxListBytes, &list)) {
    return result;
  }
  std::uint64_t timestamp = 0;
  if (trust::CheckSignature(*key, list, signature, &timestamp) != trust::SignatureCheck::kValid) return result;
  // An older list signed by the same key could bring back files with known
  // faults: the signing time never goes back.
  if (timestamp < KeptTimestamp(values)) return result;
  result.verdict = ListTrust::Verdict::kSigned;
  result.timestamp = timestamp;
  return result;
}

bool EveryFileIsPinned(const manifest::FileTable& remote) {
  for (const auto& [name, entry] : remote) {
    if (entry.sha256.empty()) return false;
  }
  return true;
}

bool SaveListTimestamp(const RunValues& values, std::uint64_t timestamp) {
  return platform::ReplaceFileContent(values.installFolder + platform::ListTimestampFileName,
                                      std::to_string(timestamp) + "\n");
}

}  // namespace velmora::driver
