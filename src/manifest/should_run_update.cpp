// Decides from the two lists' application versions whether a run goes on.
#include "manifest/update_plan.h"

#include "manifest/version.h"

namespace velmora::manifest {

bool ShouldRunUpdate(const std::u16string& localListPath, const std::u16string& downloadedListPath) {
  const std::string local = ReadApplicationVersion(localListPath);
  if (local.empty()) return true;
  const std::string remote = ReadApplicationVersion(downloadedListPath);
  if (remote.empty()) return false;
  // An unchanged application version still leads to the file comparison, so
  // files can be updated without raising it.
  if (local == remote) return true;
  return !IsUpToDate(remote, local);
}

}  // namespace velmora::manifest
