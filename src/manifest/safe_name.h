// Tells whether a name from an update list may be installed.
#pragma once

#include <string>

namespace velmora::manifest {

// True for a list name (UTF-8) that passes the name policy, names a
// file (no trailing separator), and does not reach into the updater's own
// paths: its first component is none of them, except that the updater's
// executable may be named alone (the self-update). A package (".zip") must
// also leave a package folder that passes the same checks, so a package can
// never unpack over the installation folder or one of the updater's paths.
bool IsSafeListName(const std::string& name);

// True when a list name ends with the package ending ".zip" (exact case).
bool IsPackageName(const std::string& name);

}  // namespace velmora::manifest
