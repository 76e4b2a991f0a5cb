// File-system steps made of several calls: remove a folder tree, read a small file whole, replace one atomically.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::platform {

// Removes a folder with everything in it, innermost first. The folder may end
// with a backslash or not. Links inside it are removed as links; nothing they
// point to is touched. True when the folder itself was removed; false when it
// cannot be read or is not empty at the end (a file could not be deleted).
bool DeleteDirectoryTree(std::u16string folder);

// Reads a whole file of at most `maxBytes` into `*content`. False when it
// cannot be read or is larger.
bool ReadWholeFile(const std::u16string& path, std::uint64_t maxBytes, std::string* content);

// Replaces a small file's content atomically: `temporary` (beside it) is
// written, flushed to the disk and renamed over it, so a crash leaves the
// old content or the new one; the file keeps its permission bits. The
// temporary is removed when any step fails.
bool ReplaceFileContent(const std::u16string& path, const std::u16string& temporary, const std::string& content);

}  // namespace velmora::platform
