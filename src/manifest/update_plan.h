// Decides whether a run goes on and which files it fetches.
#pragma once

#include <string>

#include "manifest/update_list.h"

namespace velmora::manifest {

// Compares the application versions of the local and the downloaded list.
// True when the local list has no version, when both texts are identical, or
// when IsUpToDate(remote, local) is false; false when the remote list has no
// version while the local one does, or when the local version is not older.
bool ShouldRunUpdate(const std::u16string& localListPath, const std::u16string& downloadedListPath);

// The files to fetch: copies of remote entries whose name the local table
// lacks (isNew true) or holds in a version that is not up to date (isNew
// false). Files only the local table names never enter the plan.
FileTable BuildUpdatePlan(FileTable local, FileTable remote);

}  // namespace velmora::manifest
