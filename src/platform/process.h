// Stopping the host by id and starting programs detached.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::platform {

// Forced termination of exactly one process (OpenProcess with the right to
// terminate, then TerminateProcess with exit code 0; SIGKILL on POSIX). Does
// not wait. An id of 0, or one that is not a positive process id, fails at
// once and signals nothing.
bool TerminateProcessById(std::uint32_t processId);

// ShellExecuteW(nullptr, "open", path, parameters, nullptr, 5): starts a
// program detached and never waits for it. The parameters are split by the
// Windows command-line rules. On POSIX the program runs in a new session with
// its standard streams on /dev/null, and gets the execute bit wherever it has
// the read bit first.
bool StartProgram(const std::u16string& path, const std::u16string& parameters);

// Splits a parameter string the way CommandLineToArgvW splits arguments after
// the program name: blanks separate, double quotes group, backslashes escape
// quotes.
std::vector<std::u16string> SplitCommandLine(const std::u16string& parameters);

// Quotes one argument so SplitCommandLine gives it back unchanged; an argument
// without blank, tab or double quote (and not empty) is returned as it is.
std::u16string QuoteArgument(const std::u16string& argument);

}  // namespace velmora::platform
