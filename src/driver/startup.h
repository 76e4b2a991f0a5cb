// The updater's entry: start-up checks, then the update run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora::driver {

// Runs the whole updater for a command line (program name first): installs
// the crash handler, takes the installation's lock, checks "start <baseUrl>
// <hostPid>" (creates the download folder and runs the update) or "check
// <baseUrl>" (plans only, and prints one line). Every outcome goes to the
// log and, at the end, to the status file; the result is always 0.
int RunUpdater(const std::vector<std::u16string>& arguments);

// Reads a host process id: leading white space, an optional sign (a minus
// negates modulo 2^32), then decimal digits up to the first non-digit. Empty
// when no digit follows or the number does not fit in 32 bits.
std::optional<std::uint32_t> ReadProcessId(const std::u16string& text);

// Compares with a command word ("start", "check", in lower case), ignoring
// the case of ASCII letters only.
bool IsCommandWord(const std::u16string& text, const std::u16string& word);

}  // namespace velmora::driver
