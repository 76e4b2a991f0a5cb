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

// Removes the partial copies in the partial folder that none of `entries`
// (the whole plan) claims: the list now announces other content for them.
void DropUnclaimedPartials(const RunValues& values, const std::vector<const manifest::FileEntry*>& entries);

// What a fetch moved: bytes on the wire, bytes of files written, and the
// names whose patch or compressed form failed, so that they came another way.
struct FetchCounts {
  std::uint64_t onWire = 0;
  std::uint64_t written = 0;
  std::vector<std::string> fellBack;
};

// Fetches every entry into the download folder under its name, several at
// once, and checks each: the transfer completed, the file has the size the
// list announces (a transfer is cut off beyond it; without a size it is
// capped all the same) and the hash it gives. Each file comes by the
// cheapest way the list offers: a patch whose base is what is installed
// (for a package, its zip as installed last), else its compressed form,
// else whole; a way that fails falls back to the next in the same run. A
// whole file of 1 MiB or more arrives through the partial folder, and one
// cut off there is resumed by the next run. kContinue, with `*counts`, when
// every file arrived whole; otherwise the first failure of a whole file:
// kDownloadFailed or kHashMismatch naming the entry, kSizeMismatch with the
// announced size. Logs nothing.
Outcome FetchFiles(transfer::TransferSession& session, const RunValues& values,
                   const std::vector<const manifest::FileEntry*>& entries, FetchCounts* counts);

}  // namespace velmora::driver
