// The file-system steps of an update: put a new file in place, remove a folder tree, check a size.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::platform {

// Moves the installed file aside to `retiredPath` (decoded as UTF-8; a copy
// retired earlier is deleted first), then moves `newPath` into
// `installedPath` (both decoded as ANSI), creating the folders along each.
// True when the new file is now at the installed path. When the installed
// file cannot be moved aside nothing else happens; when the new file cannot be
// moved in, the installed file is moved back from the retired location. On
// POSIX the new file takes over the replaced file's permission bits.
bool ReplaceInstalledFile(std::string retiredPath, std::string installedPath, std::string newPath);

// Removes a folder with everything in it, innermost first. The folder may end
// with a backslash or not. Links inside it are removed as links; nothing they
// point to is touched. True when the folder itself was removed; false when it
// cannot be read or is not empty at the end (a file could not be deleted).
bool DeleteDirectoryTree(std::u16string folder);

// True when the file (narrow ANSI path) can be opened and the low 32 bits of
// its size equal `expectedSize`, or `expectedSize` is 0. The file is not held
// open afterwards.
bool CheckFileSize(std::string path, std::uint32_t expectedSize);

}  // namespace velmora::platform
