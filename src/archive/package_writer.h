// Writes a zip package whose bytes depend only on the files put into it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::archive {

// One file for a package: its name inside the package (relative to the
// package folder, either separator) and where its content lies.
struct PackageSource {
  std::u16string entryName;
  std::u16string path;
  // The file's last write time (100 ns intervals since 1601-01-01 UTC).
  std::uint64_t writeTime = 0;
};

// Writes the package `zipPath` (narrow ANSI) with every file deflated, in
// byte-wise order of the entry names, which are stored with "/" and in the
// ANSI code page as the zip reader reads them. Each entry's time is its
// file's write time, as an MS-DOS stamp in UTC and an extended timestamp, so
// the same files give the same bytes on any machine and in any time zone.
// False when a file cannot be read or the package cannot be written; a
// partly written package is then left behind for the caller to remove.
bool WritePackage(const std::u16string& zipPath, std::vector<PackageSource> files);

}  // namespace velmora::archive
