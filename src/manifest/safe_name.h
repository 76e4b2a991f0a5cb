// Tells whether a name from an update list stays inside the installation folder.
#pragma once

#include <string>

namespace velmora::manifest {

// False for a name that is empty, starts with "\" or "/", contains ":" (a
// drive or an alternate data stream), or has a ".." component when split on
// both "\" and "/". Doubled separators ("a\\b") and names such as "..x" pass.
bool IsSafeListName(const std::string& name);

}  // namespace velmora::manifest
