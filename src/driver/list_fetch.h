// Fetches the remote update list, conditionally when the last fetch left validators.
#pragma once

#include <string>

namespace velmora::transfer {
class TransferSession;
}

namespace velmora::driver {

struct RunValues;

// How the list fetch ended, with the validators the server sent.
struct ListFetch {
  enum class Status { kFetched, kNotModified, kFailed };
  Status status = Status::kFailed;
  std::string etag;
  std::string lastModified;
};

// Downloads the list into the download folder. When the local list exists and
// a completed run kept the server's ETag and Last-Modified, they are sent as
// If-None-Match and If-Modified-Since, and a 304 answer gives kNotModified
// without downloading the list. Logs nothing.
ListFetch FetchList(const RunValues& values, transfer::TransferSession& session);

// Keeps the validators of `fetch` beside the local list, with the hash of
// the local list as it is now, for the next run.
// Called only once the installation matches the fetched list, so a 304 can
// never stand for a run that failed. A validator that cannot be saved only
// costs the next run a full fetch, so nothing is reported.
void SaveListValidators(const RunValues& values, const ListFetch& fetch);

}  // namespace velmora::driver
