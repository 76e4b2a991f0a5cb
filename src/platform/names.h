// File and folder names that differ between Windows and POSIX.
#pragma once

#include <string>

namespace velmora::platform {

// The updater's own executable name, and the update-list key that selects a
// self-update: "Velmora.exe" on Windows, "Velmora" on POSIX.
extern const char UpdaterFileName[];

// The folder installed files are moved aside into, on the installation's own
// volume: the drive letter of installDir + ":\RECYCLER\" on Windows,
// installDir + ".RECYCLER\" on POSIX. installDir ends with a separator.
std::string RetireFolderFor(const std::string& installDir);

}  // namespace velmora::platform
