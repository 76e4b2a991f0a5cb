// File and folder names of the POSIX build.
#include "platform/names.h"

namespace velmora::platform {

const char UpdaterFileName[] = "Velmora";

// Inside the installation, so moving a file aside is a rename on the same file
// system, and writable whenever the installation is.
std::u16string RetireFolderFor(const std::u16string& installDir) { return installDir + u".RECYCLER\\"; }

}  // namespace velmora::platform
