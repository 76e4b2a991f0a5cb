// Builds the update plan from the local and the remote file table.
#include "manifest/update_plan.h"

#include <utility>

#include "manifest/version.h"

namespace velmora::manifest {

bool ShouldRunUpdate(const std::string& localVersion, const std::string& remoteVersion) {
  if (localVersion.empty() || localVersion == remoteVersion) return true;
  return !IsUpToDate(remoteVersion, localVersion);
}

FileTable BuildUpdatePlan(FileTable local, FileTable remote) {
  FileTable plan;
  for (const auto& [name, remoteEntry] : remote) {
    const auto found = local.find(name);
    if (found == local.end()) {
      FileEntry entry = remoteEntry;
      entry.isNew = true;
      plan.emplace(name, std::move(entry));
      continue;
    }
    // A version that cannot be compared counts as older, so the file is fetched.
    if (IsUpToDate(remoteEntry.version, found->second.version)) continue;
    FileEntry entry = remoteEntry;
    entry.isNew = false;
    plan.emplace(name, std::move(entry));
  }
  return plan;
}

}  // namespace velmora::manifest
