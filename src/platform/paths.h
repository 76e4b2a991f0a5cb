// The updater's own folder, folder chains and separator clean-up.
#pragma once

#include <string>

namespace velmora::platform {

// The folder of the running executable with its trailing separator ("\" on
// Windows, "/" on POSIX, where symlinks are resolved); empty if unknown.
std::u16string GetModuleDirectory();

// Creates, outermost first, every missing folder before the last separator
// ("\\" or "/") of a path. The search for separators starts at index 3 so that
// a drive root never ends a folder name. Failures are passed over silently.
void CreateDirectoryChain(const std::u16string& path);

// The ending of an executable's file name: ".exe" on Windows, none on POSIX.
extern const char16_t kExecutableEnding[];

// True where the file system finds a name whatever its letter case
// (Windows); false on POSIX.
extern const bool kNamesIgnoreCase;

// Replaces every occurrence of a non-empty search text, resuming after each
// inserted replacement, so "\\\" with "\\" -> "\" gives "\\".
void ReplaceAll(std::string& target, std::string search, std::string replacement);


}  // namespace velmora::platform
