// One update run: from the remote update list to the restart of the host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/list_trust.h"
#include "manifest/update_list.h"

namespace velmora::driver {

// The values a run derives once. Local paths are UTF-16, folders end with a
// separator; URLs are UTF-8.
struct RunValues {
  std::string baseUrl;                // command-line argument 2 as UTF-8
  std::string listUrl;                // baseUrl + "UpdateList.xml"
  std::u16string installFolder;       // the updater's folder
  std::u16string tempFolder;          // installFolder + "temp\"
  std::u16string retireFolder;        // where installed files are moved aside
  std::u16string localListPath;       // installFolder + "UpdateList.xml"
  std::u16string downloadedListPath;  // tempFolder + "UpdateList.xml"
  std::u16string journalPath;         // the journal of files in flight, in tempFolder
};

RunValues DeriveRunValues(const std::u16string& baseUrlArgument);

// A list key with every doubled backslash collapsed to one.
std::string CollapseName(const std::string& key);

// Brings the installation up to date with the list at the base URL, stopping
// the host (by id) only after every file is in place and recorded, and
// starting it again. Every outcome is logged; nothing is returned.
void RunUpdate(const std::u16string& baseUrlArgument, std::uint32_t hostProcessId);

// How the fetch of planned files ended.
enum class FetchResult { kOk, kFailed, kWrongSize, kWrongHash };

// Fetches planned files into the download folder, several at once, and checks
// each: the transfer completed, the file has the size the list announces (the
// transfer is cut off beyond it) and the hash it gives. At the first failure
// `*failed` (when given) names the entry. Logs nothing.
FetchResult FetchPlannedFiles(const std::vector<const manifest::FileEntry*>& entries, const RunValues& values,
                              transfer::TransferSession& session, const manifest::FileEntry** failed);

// Records what the run applied: the signing time of a signed list, then the
// local list. False when either cannot be saved.
bool SaveRun(manifest::UpdateListWriter& writer, const RunValues& values, const ListTrust& trust);

// Replaces the updater's own executable with entry `self` of the plan,
// records its version and starts the new updater with the same base URL.
void RunSelfUpdate(const manifest::FileEntry& self, const RunValues& values, const ListTrust& trust,
                   const std::u16string& baseUrlArgument, manifest::UpdateListWriter& writer,
                   transfer::TransferSession& session);

}  // namespace velmora::driver
