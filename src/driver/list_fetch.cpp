// Fetches the remote update list into memory, conditionally when the last completed run left validators.
#include "driver/list_fetch.h"

#include <algorithm>

#include "driver/file_fetch.h"
#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "platform/sha256.h"
#include "transfer/session.h"

namespace velmora::driver {
namespace {

constexpr std::uint64_t kMaxValidatorBytes = 16 * 1024;
// A list names a few thousand files at the most; a server that sends more
// is cut off rather than allowed to fill the disk or the memory.
constexpr std::uint64_t kMaxListBytes = 16 * 1024 * 1024;
// The local list is one the updater wrote; this bounds a damaged one.
constexpr std::uint64_t kMaxLocalListBytes = 64 * 1024 * 1024;

std::string HashOf(const std::string& bytes) {
  platform::Sha256Hasher hasher;
  platform::Sha256Digest digest{};
  if (!hasher.Update(bytes.data(), bytes.size()) || !hasher.Finish(&digest)) return std::string();
  return platform::Sha256Hex(digest);
}

// Three lines (header values never hold a line break): the ETag, the
// Last-Modified value and the hash of the local list they were kept with.
// A local list changed since (restored, edited, replaced by hand) no longer
// matches the server's list, so its validators are not used.
bool ReadValidators(const RunValues& values, const LocalList& local, std::string* etag, std::string* lastModified) {
  if (!local.readable) return false;
  std::string text;
  if (!platform::ReadWholeFile(values.paths.validators, kMaxValidatorBytes, &text)) return false;
  std::string lines[3];
  std::size_t begin = 0;
  for (std::string& line : lines) {
    const std::size_t end = text.find('\n', begin);
    if (end == std::string::npos) return false;
    line = text.substr(begin, end - begin);
    begin = end + 1;
  }
  if (lines[2].empty() || lines[2] != HashOf(local.bytes)) return false;
  *etag = lines[0];
  *lastModified = lines[1];
  return true;
}

}  // namespace

LocalList ReadLocalList(const RunValues& values) {
  LocalList local;
  local.exists = platform::GetPathAttributes(values.paths.localList, nullptr);
  local.readable = local.exists && platform::ReadWholeFile(values.paths.localList, kMaxLocalListBytes, &local.bytes);
  if (!local.readable) local.bytes.clear();
  return local;
}

Outcome FetchList(transfer::TransferSession& session, const RunValues& values, const LocalList& local,
                  ListFetch* fetch) {
  transfer::DownloadRequest request;
  request.url = values.listUrl;
  request.body = &fetch->bytes;
  request.maxBytes = kMaxListBytes;
  ReadValidators(values, local, &request.ifNoneMatch, &request.ifModifiedSince);
  // A new list means files to fetch, nearly always: their connections open
  // while the list is still arriving instead of after it.
  request.warmConnections = std::max(session.options().connections, 1u) - 1;
  const transfer::DownloadOutcome outcome = session.Download(request);
  fetch->etag = outcome.etag;
  fetch->lastModified = outcome.lastModified;
  if (outcome.status == transfer::DownloadStatus::kOk) return Outcome{};
  if (outcome.status == transfer::DownloadStatus::kNotModified) return Make(OutcomeKind::kNotModified);
  return WithTransferCode(Make(OutcomeKind::kListDownloadFailed), outcome);
}

void SaveListValidators(const RunValues& values, const ListFetch& fetch, const std::string& localListText) {
  const std::u16string& path = values.paths.validators;
  // Validators of an older list must not outlive it: a server that sends
  // none leaves none behind.
  if (fetch.etag.empty() && fetch.lastModified.empty()) {
    platform::RemoveFile(path);
    return;
  }
  const std::string listHash = HashOf(localListText);
  if (listHash.empty() || !platform::ReplaceFileContent(path, layout::TemporaryOf(path),
                                                        fetch.etag + "\n" + fetch.lastModified + "\n" + listHash + "\n")) {
    platform::RemoveFile(path);
  }
}

}  // namespace velmora::driver
