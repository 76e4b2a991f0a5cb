// Recognising, stopping and waiting for the host by id, and starting programs detached.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::platform {

// True only when the process exists, has not ended, and runs the program at
// `programPath`, so that a recycled id never gets the host's treatment. Windows
// compares its image path with the full path of `programPath`, ignoring case.
// POSIX compares files (device and inode) of /proc/<pid>/exe, and of each
// argument after argv[0] for a script run by an interpreter. Id 0 or above INT_MAX: false.
bool ProcessRunsProgram(std::uint32_t processId, const std::u16string& programPath);

// Asks a process to end by itself: WM_CLOSE posted to each of its top-level
// windows, visible or not (true when at least one got it); SIGTERM on POSIX.
// Does not wait. Id 0 or above INT_MAX: false.
bool AskProcessToClose(std::uint32_t processId);

// True once the process has ended, waiting at most `milliseconds`. A process
// that no longer exists has ended; on POSIX so has a zombie. False when it
// still runs, or (Windows) when it may not be waited for. Id 0 or above
// INT_MAX: false.
bool WaitForProcessExit(std::uint32_t processId, std::uint32_t milliseconds);

// Forced termination of exactly one process (OpenProcess with the right to
// terminate, then TerminateProcess with exit code 0; SIGKILL on POSIX). Does
// not wait. An id of 0, or one that is not a positive process id, fails at
// once and signals nothing.
bool TerminateProcessById(std::uint32_t processId);

// ShellExecuteW(nullptr, "open", path, parameters, workingFolder, 5): starts a
// program detached and never waits for it; an empty `workingFolder` leaves the
// platform's default. The parameters are split by the Windows command-line
// rules. On POSIX the program runs in a new session with its standard streams
// on /dev/null, and gets the execute bit wherever it has the read bit first.
bool StartProgram(const std::u16string& path, const std::u16string& parameters,
                  const std::u16string& workingFolder = u"");

// Splits a parameter string the way CommandLineToArgvW splits arguments after
// the program name: blanks separate, double quotes group, backslashes escape
// quotes.
std::vector<std::u16string> SplitCommandLine(const std::u16string& parameters);

// Quotes one argument so SplitCommandLine gives it back unchanged; an argument
// without blank, tab or double quote (and not empty) is returned as it is.
std::u16string QuoteArgument(const std::u16string& argument);

}  // namespace velmora::platform
