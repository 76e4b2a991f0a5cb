// Stopping a process by id and starting programs detached, on POSIX.
#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/encoding.h"
#include "platform/posix/native.h"

namespace velmora::platform {

bool TerminateProcessById(std::uint32_t processId) {
  // 0 and anything beyond a positive pid_t would name a whole process group
  // (kill(0), kill(-1), kill(-n)): those never reach kill().
  if (processId == 0 || processId > static_cast<std::uint32_t>(INT_MAX)) return false;
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

[[noreturn]] void RunDetached(const std::string& path, char* const* argv, int errorPipe) {
  ::setsid();
  const pid_t grandchild = ::fork();
  if (grandchild < 0) {
    const int error = errno;
    [[maybe_unused]] const ssize_t ignored = ::write(errorPipe, &error, sizeof(error));
    ::_exit(127);
  }
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
  ::execv(path.c_str(), argv);
  const int error = errno;
  [[maybe_unused]] const ssize_t ignored = ::write(errorPipe, &error, sizeof(error));
  ::_exit(127);
}

}  // namespace

bool StartProgram(const std::u16string& path, const std::u16string& parameters) {
  const std::string program = posix::ToNative(path);
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
    RunDetached(program, argv.data(), pipeEnds[1]);
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
