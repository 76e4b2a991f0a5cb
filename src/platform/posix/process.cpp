// Recognising, stopping and waiting for a process by id, and starting programs detached, on POSIX.
#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <thread>

#include "platform/encoding.h"
#include "platform/posix/native.h"

namespace velmora::platform {

namespace {

constexpr auto kExitPollInterval = std::chrono::milliseconds(10);

// 0 and anything beyond a positive pid_t would name a whole process group
// (kill(0), kill(-1), kill(-n)): those never reach kill().
bool IsSingleProcessId(std::uint32_t processId) {
  return processId != 0 && processId <= static_cast<std::uint32_t>(INT_MAX);
}

std::string ProcFile(std::uint32_t processId, const char* name) {
  return "/proc/" + std::to_string(processId) + "/" + name;
}

// The whole content of a small file, or empty when it cannot be read.
std::string ReadSmallFile(const std::string& path) {
  posix::UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  std::string content;
  char buffer[4096];
  while (file.IsValid()) {
    const ssize_t got = ::read(file.Get(), buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    content.append(buffer, static_cast<std::size_t>(got));
  }
  return content;
}

// A zombie has ended: it only waits for its parent to collect its status,
// and its id may be anyone's once that happens.
bool IsRunning(std::uint32_t processId) {
  const std::string stat = ReadSmallFile(ProcFile(processId, "stat"));
  // The command name in parentheses may hold blanks and ')': the state
  // letter follows the last ')'.
  const std::size_t close = stat.rfind(')');
  if (close != std::string::npos && close + 2 < stat.size()) {
    const char state = stat[close + 2];
    return state != 'Z' && state != 'X';
  }
  // Without /proc, existence is all that can be told.
  return ::kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM;
}

bool IsSameFile(const struct stat& file, const std::string& path) {
  struct stat other;
  return ::stat(path.c_str(), &other) == 0 && other.st_dev == file.st_dev && other.st_ino == file.st_ino;
}

}  // namespace

bool ProcessRunsProgram(std::uint32_t processId, const std::u16string& programPath) {
  if (!IsSingleProcessId(processId) || !IsRunning(processId)) return false;
  // Files, not names, are compared: links, "..", and a folder reached by two
  // paths all lead to the same device and inode.
  struct stat program;
  if (::stat(posix::ToNative(programPath).c_str(), &program) != 0) return false;
  if (IsSameFile(program, ProcFile(processId, "exe"))) return true;
  // A script's process runs its interpreter (sh, python3): the script is one
  // of the arguments after argv[0], relative ones to its working folder.
  const std::string arguments = ReadSmallFile(ProcFile(processId, "cmdline"));
  const std::string workingFolder = ProcFile(processId, "cwd") + "/";
  std::size_t end = arguments.find('\0');
  while (end != std::string::npos && end + 1 < arguments.size()) {
    const std::size_t begin = end + 1;
    end = arguments.find('\0', begin);
    const std::string argument = arguments.substr(begin, end == std::string::npos ? end : end - begin);
    if (argument.empty()) continue;
    if (IsSameFile(program, argument[0] == '/' ? argument : workingFolder + argument)) return true;
  }
  return false;
}

bool AskProcessToClose(std::uint32_t processId) {
  if (!IsSingleProcessId(processId)) return false;
  return ::kill(static_cast<pid_t>(processId), SIGTERM) == 0;
}

bool WaitForProcessExit(std::uint32_t processId, std::uint32_t milliseconds) {
  if (!IsSingleProcessId(processId)) return false;
  // Another process's end cannot be waited for on POSIX, only watched.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (IsRunning(processId)) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(kExitPollInterval, deadline - now));
  }
  return true;
}

bool TerminateProcessById(std::uint32_t processId) {
  if (!IsSingleProcessId(processId)) return false;
  return ::kill(static_cast<pid_t>(processId), SIGKILL) == 0;
}

namespace {

// A program delivered by an update may arrive without its execute bits: give
// one wherever the matching read bit is set.
void MakeStartable(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  const mode_t wanted = info.st_mode | ((info.st_mode & 0444) >> 2);
  if (wanted != info.st_mode) ::chmod(path.c_str(), wanted & 07777);
}

[[noreturn]] void ReportAndExit(int errorPipe) {
  const int error = errno;
  [[maybe_unused]] const ssize_t ignored = ::write(errorPipe, &error, sizeof(error));
  ::_exit(127);
}

// Runs in the forked child, so only async-signal-safe calls: everything it
// needs was prepared before the fork.
[[noreturn]] void RunDetached(const std::string& path, char* const* argv, const char* workingFolder,
                              int errorPipe) {
  ::setsid();
  const pid_t grandchild = ::fork();
  if (grandchild < 0) ReportAndExit(errorPipe);
  if (grandchild > 0) ::_exit(0);  // the middle child ends; the program is orphaned, never waited for
  const int null = ::open("/dev/null", O_RDWR);
  if (null >= 0) {
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    if (null > 2) ::close(null);
  }
  // Nothing of the updater's (log file, lock) stays open in the program.
  // The error pipe stays: it closes by itself on a successful exec.
  if (errorPipe > 3) ::close_range(3, static_cast<unsigned>(errorPipe) - 1, 0);
  ::close_range(static_cast<unsigned>(errorPipe) + 1, ~0U, 0);
  if (workingFolder != nullptr && ::chdir(workingFolder) != 0) ReportAndExit(errorPipe);
  ::execv(path.c_str(), argv);
  ReportAndExit(errorPipe);
}

}  // namespace

bool StartProgram(const std::u16string& path, const std::u16string& parameters,
                  const std::u16string& workingFolder) {
  const std::string program = posix::ToNative(path);
  const std::string folder = posix::ToNative(workingFolder);
  MakeStartable(program);

  std::vector<std::string> arguments{program};
  for (const std::u16string& argument : SplitCommandLine(parameters)) {
    arguments.push_back(WideToUtf8(argument));
  }
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  // The pipe closes on a successful exec; an error code arrives otherwise.
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return false;
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    return false;
  }
  if (child == 0) {
    ::close(pipeEnds[0]);
    RunDetached(program, argv.data(), folder.empty() ? nullptr : folder.c_str(), pipeEnds[1]);
  }
  ::close(pipeEnds[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t got;
  do {
    got = ::read(pipeEnds[0], &error, sizeof(error));
  } while (got < 0 && errno == EINTR);
  ::close(pipeEnds[0]);
  return got == 0;
}

}  // namespace velmora::platform
