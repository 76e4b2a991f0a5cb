// The Windows names of the updater's executable and of the retire folder.
#include "platform/names.h"

namespace velmora::platform {

const char UpdaterFileName[] = "Velmora.exe";

std::u16string RetireFolderFor(const std::u16string& installDir) {
  // The retire folder must lie on the installation's volume so that moving a
  // file aside is a rename. A drive-letter path uses the drive's root.
  const bool hasDriveLetter = installDir.size() >= 2 && installDir[1] == u':';
  if (hasDriveLetter) return installDir.substr(0, 1) + u":\\RECYCLER\\";
  // No drive letter (a network share, or nothing at all): the drive letter
  // rule would give an unusable path, so the installation keeps its own.
  if (installDir.empty()) return std::u16string();
  return installDir + u".RECYCLER\\";
}

}  // namespace velmora::platform
