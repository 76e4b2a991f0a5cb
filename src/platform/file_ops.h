// The file-system steps of an update: put a new file in place, remove a folder tree, check a size.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::platform {

// Moves the installed file aside to `retiredPath` (a copy retired earlier is
// deleted first), then moves `newPath` into `installedPath`, creating the
// folders along each.
// True when the new file is now at the installed path. When the installed
// file cannot be moved aside nothing else happens; when the new file cannot be
// moved in, the installed file is moved back from the retired location. On
// POSIX the new file takes over the replaced file's permission bits.
bool ReplaceInstalledFile(const std::u16string& retiredPath, const std::u16string& installedPath,
                          const std::u16string& newPath);

// Puts `incoming` at `installed`, keeping what was installed at `retired` (a
// copy retired earlier is deleted first; the folders along both paths are
// created). `*hadInstalled` tells whether there was an installed file. On
// POSIX the installed name never goes missing: the old file is hard-linked to
// `retired` and the new one renamed over it. On Windows the old file moves
// aside first. False when the new file is not in place; the installed file is
// then where it was. The new file takes over the old one's permission bits
// unless `keepOwnPermissions` (files unpacked with a mode of their own).
bool PlaceFile(const std::u16string& retired, const std::u16string& installed,
               const std::u16string& incoming, bool* hadInstalled, bool keepOwnPermissions = false);

// Undoes PlaceFile (or RetireFile): the retired copy goes back to the
// installed name, or, where nothing was installed before, the installed name
// is removed. True when the installed name is as it was.
bool RestoreFile(const std::u16string& retired, const std::u16string& installed, bool hadInstalled);

// Moves an installed file aside to `retired` with no successor (a file a new
// package no longer has), creating the retire folders.
bool RetireFile(const std::u16string& retired, const std::u16string& installed);

// Removes a folder with everything in it, innermost first. The folder may end
// with a backslash or not. Links inside it are removed as links; nothing they
// point to is touched. True when the folder itself was removed; false when it
// cannot be read or is not empty at the end (a file could not be deleted).
bool DeleteDirectoryTree(std::u16string folder);

// Reads a whole file of at most `maxBytes` into `*content`. False when it
// cannot be read or is larger.
bool ReadWholeFile(const std::u16string& path, std::uint64_t maxBytes, std::string* content);

// Replaces a small file's content atomically: a temporary file beside it is
// written, flushed to the disk and renamed over it, so a crash leaves the
// old content or the new one.
bool ReplaceFileContent(const std::u16string& path, const std::string& content);

// True when the file can be opened and its size equals `expectedSize`, or
// `expectedSize` is 0. The file is not held open afterwards.
bool CheckFileSize(const std::u16string& path, std::uint64_t expectedSize);

}  // namespace velmora::platform
