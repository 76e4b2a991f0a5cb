// The values an update run derives once from its command line and its folder.
#pragma once

#include <string>

#include "layout/own_files.h"

namespace velmora::driver {

// URLs are UTF-8; the paths are the installation's own (see layout).
struct RunValues {
  std::string baseUrl;  // command-line argument 2, ending with "/"
  std::string listUrl;  // baseUrl + "UpdateList.xml"
  layout::InstallationPaths paths;
};

// Set by an updater for the new updater it starts after replacing itself:
// the new one then waits, bounded, for the old one to end and free the lock.
inline constexpr char kRestartVariable[] = "VELMORA_RESTARTED";

// The values for a base URL (as given on the command line) and the folder
// the updater runs from. A base URL without a trailing "/" gets one, so that
// names are always joined below it.
RunValues DeriveRunValues(const std::u16string& baseUrlArgument, const std::u16string& installFolder);

}  // namespace velmora::driver
