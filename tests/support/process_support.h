// Processes and servers for the tests: spawning with bounded waits, nginx, a stalling listener.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velmora::testing {

// Polls `condition` every few milliseconds until it holds or `seconds` pass.
bool WaitUntil(const std::function<bool()>& condition, double seconds);

// Starts `program` with `arguments` (argv[1..]) in `workingFolder`, standard
// input on /dev/null and standard output and error appended to `outputFile`.
// Returns the pid, or -1.
pid_t Spawn(const std::string& program, const std::vector<std::string>& arguments,
            const std::string& workingFolder, const std::string& outputFile);

struct ExitStatus {
  bool ended = false;     // false: still running after the wait
  bool exited = false;    // ended through exit()
  int code = -1;          // exit code when exited
  int signal = 0;         // the signal that ended it otherwise
};

// Waits up to `seconds` for a child of this process; reaps it when it ended.
ExitStatus WaitForChild(pid_t child, double seconds);
// SIGKILL, then reaps the child (bounded).
void KillChild(pid_t child);

// True while a process with this id exists and is not a zombie.
bool IsAlive(pid_t pid);
// The path of a process's executable, or empty.
std::string ExecutableOf(pid_t pid);
// Every process whose executable lies in or below `folder`.
std::vector<pid_t> ProcessesRunningFrom(const std::string& folder);
// SIGKILL to each process running from `folder`, by pid, then waits (bounded)
// until none is left.
void EndProcessesRunningFrom(const std::string& folder);

// A TCP port on 127.0.0.1 that nothing listens on right now.
int UnusedPort();

// A listening socket on 127.0.0.1 that never accepts: the kernel completes the
// connection and takes the request, and no answer ever comes.
class StallingListener {
 public:
  StallingListener();
  ~StallingListener();
  StallingListener(const StallingListener&) = delete;
  StallingListener& operator=(const StallingListener&) = delete;
  int Port() const { return port_; }
  std::string BaseUrl() const;
  // Takes the next connection off the queue (and keeps it open, unanswered);
  // true once a client has connected within `seconds`.
  bool WaitForConnection(double seconds);

 private:
  int fd_ = -1;
  int port_ = 0;
  std::vector<int> accepted_;
};

// A private nginx on 127.0.0.1 and a free port, serving `docroot`, with its
// configuration, pid, logs and temporary folders in `prefix`.
class Nginx {
 public:
  Nginx() = default;
  ~Nginx();
  Nginx(const Nginx&) = delete;
  Nginx& operator=(const Nginx&) = delete;
  // `extraLocations` is inserted in the server block as it stands.
  bool Start(const std::string& prefix, const std::string& docroot,
             const std::string& extraLocations = "");
  void Stop();
  bool Running() const { return pid_ > 0; }
  // "http://127.0.0.1:<port>/"
  std::string BaseUrl() const;
  // Request URIs in the order nginx served them.
  std::vector<std::string> RequestedUris() const;
  // The same with each answer's status and body bytes sent.
  struct Served {
    std::string uri;
    int status = 0;
    std::uint64_t bytes = 0;
    std::string protocol;  // "HTTP/1.1", "HTTP/2.0"
  };
  std::vector<Served> Requests() const;
  std::string ErrorLog() const;

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string prefix_;
};

}  // namespace velmora::testing
