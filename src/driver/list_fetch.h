// Fetches the remote update list into memory, conditionally when the last completed run left validators.
#pragma once

#include <string>

#include "driver/outcome.h"
#include "driver/run_values.h"

namespace velmora::transfer {
class TransferSession;
}

namespace velmora::driver {

// The local list as the run found it: read once, at the start.
struct LocalList {
  bool exists = false;
  bool readable = false;  // exists and was read whole
  std::string bytes;
};

// Reads the local list once. A list that is missing is no error: an empty
// installation bootstraps itself from the remote list.
LocalList ReadLocalList(const RunValues& values);

// The fetched list: its bytes, exactly as they arrived, and the validators
// the server sent with them.
struct ListFetch {
  std::string bytes;
  std::string etag;
  std::string lastModified;
};

// Fetches the list into `fetch->bytes`, cut off beyond 16 MiB. When the
// local list is the one the kept validators were saved with, they are sent
// as If-None-Match and If-Modified-Since, and a 304 answer ends the run as
// kNotModified. kListDownloadFailed (with the HTTP status or transfer error)
// for anything but a whole 200 body.
Outcome FetchList(transfer::TransferSession& session, const RunValues& values, const LocalList& local,
                  ListFetch* fetch);

// Keeps the validators of `fetch` beside the local list, with the hash of
// `localListText` (the local list as it now is on disk), for the next run.
// Called only once the installation matches the fetched list, so a 304 can
// never stand for a run that failed. A validator that cannot be saved only
// costs the next run a full fetch, so nothing is reported.
void SaveListValidators(const RunValues& values, const ListFetch& fetch, const std::string& localListText);

}  // namespace velmora::driver
