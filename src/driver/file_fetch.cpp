// Fetches the files a plan names into the download folder and checks each.
#include "driver/file_fetch.h"

#include "platform/encoding.h"
#include "platform/paths.h"
#include "platform/sha256.h"
#include "transfer/session.h"
#include "transfer/url.h"

namespace velmora::driver {
namespace {

Outcome FailureOf(const manifest::FileEntry& entry, const transfer::DownloadOutcome& outcome) {
  Outcome failed;
  switch (outcome.status) {
    case transfer::DownloadStatus::kTooLarge:
      failed = Make(OutcomeKind::kSizeMismatch);
      failed.size = entry.size;
      failed.name = entry.name;
      return failed;
    case transfer::DownloadStatus::kHashMismatch: return WithName(OutcomeKind::kHashMismatch, entry.name);
    default: break;
  }
  return WithTransferCode(WithName(OutcomeKind::kDownloadFailed, entry.name), outcome);
}

}  // namespace

Outcome WithTransferCode(Outcome failed, const transfer::DownloadOutcome& outcome) {
  if (outcome.httpStatus != 0 && outcome.httpStatus != 200) {
    failed.codeKind = CodeKind::kHttp;
    failed.code = outcome.httpStatus;
  } else if (outcome.transferError != 0) {
    failed.codeKind = CodeKind::kTransfer;
    failed.code = outcome.transferError;
  } else if (outcome.osError != 0) {
    failed.codeKind = CodeKind::kSystem;
    failed.code = outcome.osError;
  }
  return failed;
}

std::u16string DownloadPathOf(const RunValues& values, const std::string& name) {
  std::string collapsed = name;
  platform::ReplaceAll(collapsed, "\\\\", "\\");
  return values.paths.downloadFolder + platform::Utf8ToWide(collapsed);
}

Outcome FetchFiles(transfer::TransferSession& session, const RunValues& values,
                   const std::vector<const manifest::FileEntry*>& entries, std::uint64_t* bytes) {
  std::vector<transfer::DownloadRequest> requests;
  requests.reserve(entries.size());
  for (const manifest::FileEntry* entry : entries) {
    transfer::DownloadRequest request;
    request.url = transfer::JoinUrl(values.baseUrl, entry->name);
    request.path = DownloadPathOf(values, entry->name);
    request.maxBytes = entry->hasSize ? entry->size : transfer::kUnannouncedSizeCap;
    request.exactlyEmpty = entry->hasSize && entry->size == 0;
    platform::Sha256Digest digest{};
    // The list reader accepts only well-formed hashes.
    if (!entry->sha256.empty() && platform::ParseSha256Hex(entry->sha256, &digest)) request.sha256 = digest;
    requests.push_back(std::move(request));
  }
  const transfer::BatchResult batch = session.DownloadBatch(requests);
  if (!batch.ok) return FailureOf(*entries[batch.failedIndex], batch.failed);
  *bytes = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    *bytes += batch.bytes[i];
    // A body shorter than announced arrives complete as far as HTTP can tell.
    if (entries[i]->hasSize && batch.bytes[i] != entries[i]->size) {
      Outcome failed = Make(OutcomeKind::kSizeMismatch);
      failed.size = entries[i]->size;
      failed.name = entries[i]->name;
      return failed;
    }
  }
  return Outcome{};
}

}  // namespace velmora::driver
