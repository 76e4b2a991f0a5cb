// Which relative names may become files inside the installation, on every platform alike.
#pragma once

#include <string>

namespace velmora::platform {

// True for a relative name that names a place inside the folder it is joined
// to and that Windows would store exactly as written. Components are split on
// "\" and "/"; empty components (doubled or trailing separators) are passed
// over. Refused: an empty name, a leading separator, a component made only of
// dots and blanks, a component ending in a dot or a blank, the characters
// : * ? " < > | and control characters, and the device names CON, PRN, AUX,
// NUL, COM1-COM9 and LPT1-LPT9 in any letter case, with or without an
// extension. The same policy serves update-list names and zip entry names.
bool IsSafeRelativeName(const std::u16string& name);

// True when `component` (one path component, any letter case) names one of
// the updater's own paths in its installation folder: the download folder,
// the log and crash-record folders, the retire folder, the local update list,
// the update key, the updater's executable, or the staging folder and journal
// it keeps inside its download folder.
bool IsUpdaterOwnName(const std::u16string& component);

}  // namespace velmora::platform
