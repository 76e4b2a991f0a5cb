// A stand-in host application for tests and the demonstration: records its start, then sleeps.
//
// On start it appends its pid as one line to "host-started.log", writes it to
// "host.pid" and its working folder to "host.cwd", all in the folder of its own
// executable, then sleeps for a bounded time (120 s, or the number of seconds
// given as its first argument) and exits 0. SIGTERM ends it, as it ends most
// programs, unless the environment variable VELMORA_HOST_IGNORES_STOP is set:
// then it stands for a host that does not react. It needs nothing but the C library.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

std::string OwnFolder() {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (length <= 0) return "./";
  std::string path(buffer, static_cast<std::size_t>(length));
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

// One write call per record, so concurrent hosts never interleave a line.
bool WriteRecord(const std::string& path, int flags, const std::string& text) {
  const int fd = ::open(path.c_str(), flags | O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return ::close(fd) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  long seconds = 120;
  if (argc > 1) {
    char* end = nullptr;
    const long requested = std::strtol(argv[1], &end, 10);
    if (end != argv[1] && *end == '\0' && requested >= 0 && requested <= 3600) seconds = requested;
  }
  if (std::getenv("VELMORA_HOST_IGNORES_STOP") != nullptr) ::signal(SIGTERM, SIG_IGN);
  const std::string folder = OwnFolder();
  char workingFolder[PATH_MAX];
  if (::getcwd(workingFolder, sizeof(workingFolder)) != nullptr) {
    WriteRecord(folder + "host.cwd", O_TRUNC, std::string(workingFolder) + "\n");
  }
  const std::string line = std::to_string(::getpid()) + "\n";
  // host.pid first: whoever waits for the start log may read the pid at once.
  WriteRecord(folder + "host.pid", O_TRUNC, line);
  WriteRecord(folder + "host-started.log", O_APPEND, line);

  timespec remaining{seconds, 0};
  while (::nanosleep(&remaining, &remaining) != 0) {
  }
  return 0;
}
