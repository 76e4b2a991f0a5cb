// Decides whether a run goes on and which files it fetches.
#pragma once

#include <string>

#include "manifest/update_list.h"

namespace velmora::manifest {

// Compares the application versions of the local and the remote list (the
// remote one is never empty: such a list is not read). True when the local
// version is empty, when both texts are identical (files can change without
// it), or when IsUpToDate(remote, local) is false.
bool ShouldRunUpdate(const std::string& localVersion, const std::string& remoteVersion);

// The files to fetch: copies of remote entries whose name the local table
// lacks (isNew true) or holds in a version that is not up to date (isNew
// false). Files only the local table names never enter the plan.
FileTable BuildUpdatePlan(FileTable local, FileTable remote);

}  // namespace velmora::manifest
