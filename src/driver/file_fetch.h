// Fetches the files a plan names into the download folder and checks each.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/outcome.h"
#include "driver/run_values.h"
#include "manifest/update_list.h"

namespace velmora::transfer {
class TransferSession;
struct DownloadOutcome;
}

namespace velmora::driver {

// `failed` with the code that says why a transfer failed: the HTTP status
// of an answer other than 200, else the transfer library's error, else the
// system's error of a failed write.
Outcome WithTransferCode(Outcome failed, const transfer::DownloadOutcome& outcome);

// The download folder's copy of a list name (doubled backslashes as one).
std::u16string DownloadPathOf(const RunValues& values, const std::string& name);

// Fetches every entry into the download folder under its name, several at
// once, and checks each: the transfer completed, the file has the size the
// list announces (a transfer is cut off beyond it; without a size it is
// capped all the same) and the hash it gives. kContinue, with the body bytes
// in `*bytes`, when every file arrived whole; otherwise the first failure:
// kDownloadFailed or kHashMismatch naming the entry, kSizeMismatch with the
// announced size. Logs nothing.
Outcome FetchFiles(transfer::TransferSession& session, const RunValues& values,
                   const std::vector<const manifest::FileEntry*>& entries, std::uint64_t* bytes);

}  // namespace velmora::driver
