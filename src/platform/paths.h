// The updater's own folder, folder chains and separator clean-up.
#pragma once

#include <string>

namespace velmora::platform {

// The folder of the running executable with its trailing separator ("\" on
// Windows, "/" on POSIX, where symlinks are resolved); empty if unknown.
std::u16string GetModuleDirectory();

// Creates, outermost first, every missing folder before the last backslash of
// a narrow ANSI path. The search for separators starts at index 3 so that a
// drive root never ends a folder name; forward slashes are not separators.
// Failures are passed over silently.
void CreateDirectoryChain(std::string path);
// The same for a wide path, with both "\\" and "/" as separators.
void CreateDirectoryChain(const std::u16string& path);

// Replaces every occurrence of a non-empty search text, resuming after each
// inserted replacement, so "\\\" with "\\" -> "\" gives "\\".
void ReplaceAll(std::string& target, std::string search, std::string replacement);

// The form of a narrow path that a library opening files by itself (stdio,
// the XML and logging libraries) must be given: unchanged on Windows, every
// "\" turned into "/" on POSIX.
std::string NativePath(std::string path);

}  // namespace velmora::platform
