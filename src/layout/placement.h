// Puts one new file in place of an installed one, keeping the installed one aside, and undoes that.
#pragma once

#include <string>

namespace velmora::layout {

// Puts `incoming` at `installed`, keeping what was installed at `retired` (a
// copy retired earlier is deleted first; the folders along both paths are
// created). `*hadInstalled` tells whether there was an installed file. On
// POSIX the installed name never goes missing: the old file is hard-linked to
// `retired` and the new one renamed over it. On Windows the old file moves
// aside first. False when the new file is not in place; the installed file is
// then where it was. The new file takes over the old one's permission bits
// unless `keepOwnPermissions` (files unpacked with a mode of their own).
bool PlaceFile(const std::u16string& retired, const std::u16string& installed, const std::u16string& incoming,
               bool* hadInstalled, bool keepOwnPermissions = false);

// Undoes PlaceFile (or RetireFile): the retired copy goes back to the
// installed name, or, where nothing was installed before, the installed name
// is removed. Where the run put a folder in place of a file, or a file in
// place of a folder, that goes first. True when the installed name is as it
// was.
bool RestoreFile(const std::u16string& retired, const std::u16string& installed, bool hadInstalled);

// Removes whatever is at `path`: a file, a link (as the link itself, never
// what it points to) or a folder tree. False when it is not all gone.
bool RemoveItem(const std::u16string& path);

// True when `path` is a symbolic link (on Windows any reparse point,
// junctions included): an item of its own, never a way to another place.
bool IsLink(const std::u16string& path);

// True when `path` is a folder and not a link to one.
bool IsRealFolder(const std::u16string& path);

// Moves an installed file aside to `retired` with no successor (a file a new
// package no longer has), creating the retire folders.
bool RetireFile(const std::u16string& retired, const std::u16string& installed);

}  // namespace velmora::layout
