// Which relative names may become files inside the installation, and the one path each name installs to.
#pragma once

#include <string>
#include <vector>

namespace velmora::layout {

// True for a relative name that names a place inside the folder it is joined
// to and that Windows would store exactly as written. Components are split on
// "\" and "/"; empty components (doubled or trailing separators) are passed
// over. Refused: an empty name, a leading separator, a component made only of
// dots and blanks, a component ending in a dot or a blank, the characters
// : * ? " < > | and control characters, the device names CON, PRN, AUX,
// NUL, COM1-COM9 and LPT1-LPT9 in any letter case, with or without an
// extension, and a component that could be a short (8.3) alias of another
// name on Windows: a "~" followed by digits up to the extension or the end.
// The same policy serves update-list names and zip entry names.
bool IsSafeRelativeName(const std::u16string& name);

// The key of the one installed path a name (UTF-8) stands for: separators
// ("\", "/", doubled) fold to one "\", and letters fold as Windows folds file
// names, on every system, so that a release behaves the same everywhere.
// Two names with one key would install to one file on Windows. False for
// text that is not valid UTF-8, which no two names could be told apart in.
bool InstalledPathKey(const std::string& name, std::u16string* key);

// True when no two keys are equal and none lies inside another ("A\B"
// inside "A"): then every key is a place of its own in the installation.
bool AreDistinctPlaces(std::vector<std::u16string> keys);

// Compares names as Windows compares file names: letter case does not count.
bool EqualsIgnoringCase(const std::u16string& a, const std::u16string& b);

// The letters of `name` in the one case Windows compares file names in.
std::u16string FoldCase(std::u16string name);

}  // namespace velmora::layout
