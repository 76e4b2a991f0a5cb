// Fetches the remote update list, conditionally when the last fetch left validators.
#include "driver/list_fetch.h"

#include <algorithm>

#include "driver/update_run.h"
#include "platform/encoding.h"
#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "platform/names.h"
#include "platform/sha256.h"
#include "transfer/session.h"

namespace velmora::driver {
namespace {

constexpr std::uint64_t kMaxValidatorBytes = 16 * 1024;

std::u16string ValidatorsPath(const RunValues& values) {
  return values.installFolder + platform::ListValidatorsFileName;
}

// The hash of the local list as it is now; empty when it cannot be read.
std::string LocalListHash(const RunValues& values) {
  platform::Sha256Digest digest{};
  if (!platform::HashFileSha256(values.localListPath, &digest)) return std::string();
  return platform::Sha256Hex(digest);
}

// Three lines (header values never hold a line break): the ETag, the
// Last-Modified value and the hash of the local list they were kept with.
// A local list changed since (restored, edited, replaced by hand) no longer
// matches the server's list, so its validators are not used.
bool ReadValidators(const RunValues& values, std::string* etag, std::string* lastModified) {
  std::string text;
  if (!platform::ReadWholeFile(ValidatorsPath(values), kMaxValidatorBytes, &text)) return false;
  std::string lines[3];
  std::size_t begin = 0;
  for (std::string& line : lines) {
    const std::size_t end = text.find('\n', begin);
    if (end == std::string::npos) return false;
    line = text.substr(begin, end - begin);
    begin = end + 1;
  }
  const std::string listHash = LocalListHash(values);
  if (listHash.empty() || listHash != lines[2]) return false;
  *etag = lines[0];
  *lastModified = lines[1];
  return true;
}

}  // namespace

ListFetch FetchList(const RunValues& values, transfer::TransferSession& session) {
  transfer::DownloadRequest request;
  request.url = values.listUrl;
  request.path = values.downloadedListPath;
  ReadValidators(values, &request.ifNoneMatch, &request.ifModifiedSince);
  // A new list means files to fetch, nearly always: their connections open
  // while the list is still arriving instead of after it.
  request.warmConnections = session.options().connections - 1;
  const transfer::DownloadOutcome outcome = session.Download(request);

  ListFetch fetch;
  fetch.etag = outcome.etag;
  fetch.lastModified = outcome.lastModified;
  if (outcome.status == transfer::DownloadStatus::kOk) fetch.status = ListFetch::Status::kFetched;
  if (outcome.status == transfer::DownloadStatus::kNotModified) fetch.status = ListFetch::Status::kNotModified;
  return fetch;
}

void SaveListValidators(const RunValues& values, const ListFetch& fetch) {
  if (fetch.status != ListFetch::Status::kFetched) return;
  // Validators of an older list must not outlive it: a server that sends
  // none leaves none behind.
  if (fetch.etag.empty() && fetch.lastModified.empty()) {
    platform::RemoveFile(ValidatorsPath(values));
    return;
  }
  const std::string listHash = LocalListHash(values);
  if (listHash.empty() ||
      !platform::ReplaceFileContent(ValidatorsPath(values),
                                    fetch.etag + "\n" + fetch.lastModified + "\n" + listHash + "\n")) {
    platform::RemoveFile(ValidatorsPath(values));
  }
}

}  // namespace velmora::driver
