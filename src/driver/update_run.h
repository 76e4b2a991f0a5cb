// One update run: from the remote update list to the restart of the host.
#pragma once

#include <cstdint>
#include <string>

#include "manifest/update_list.h"

namespace velmora::driver {

// The values a run derives once, in this order. Local paths are ANSI and use
// backslashes; URLs are UTF-8.
struct RunValues {
  std::string baseUrl;             // command-line argument 2 as UTF-8
  std::string installDir;          // the updater's folder, with its separator
  std::string tempDir;             // installDir + "temp\"
  std::string recycleDir;          // where installed files are moved aside
  std::string localListPath;       // installDir + "UpdateList.xml"
  std::string listUrl;             // baseUrl + "UpdateList.xml"
  std::string downloadedListPath;  // tempDir + "UpdateList.xml"
};

RunValues DeriveRunValues(const std::u16string& baseUrlArgument);

// A list key with every doubled backslash collapsed to one.
std::string CollapseName(const std::string& key);

// Brings the installation up to date with the list at the base URL, stopping
// the host (by id) only after every file is in place and starting it again.
// Every outcome is logged; nothing is returned.
void RunUpdate(const std::u16string& baseUrlArgument, std::uint32_t hostProcessId);

// Replaces the updater's own executable with entry `self` of the plan,
// records its version and starts the new updater with the same base URL.
void RunSelfUpdate(const manifest::FileEntry& self, const RunValues& values,
                   const std::u16string& baseUrlArgument, manifest::UpdateListWriter& writer);

}  // namespace velmora::driver
