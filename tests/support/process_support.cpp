// Processes and servers for the tests: spawning with bounded waits, nginx, a stalling listener.
#include "support/process_support.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>
#include <sstream>
#include <thread>

#include "support/file_support.h"

namespace velmora::testing {

bool WaitUntil(const std::function<bool()>& condition, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<long>(seconds * 1000));
  while (true) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

pid_t Spawn(const std::string& program, const std::vector<std::string>& arguments,
            const std::string& workingFolder, const std::string& outputFile) {
  std::vector<std::string> all{program};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : all) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child != 0) return child;
  // Only async-signal-safe calls from here on.
  const int in = ::open("/dev/null", O_RDONLY);
  const int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (in >= 0) ::dup2(in, 0);
  if (out >= 0) {
    ::dup2(out, 1);
    ::dup2(out, 2);
  }
  if (::chdir(workingFolder.c_str()) != 0) ::_exit(126);
  ::execv(program.c_str(), argv.data());
  ::_exit(127);
}

ExitStatus WaitForChild(pid_t child, double seconds) {
  ExitStatus result;
  int status = 0;
  pid_t reaped = 0;
  WaitUntil([&] {
    reaped = ::waitpid(child, &status, WNOHANG);
    return reaped != 0;
  }, seconds);
  if (reaped != child) return result;
  result.ended = true;
  result.exited = WIFEXITED(status);
  result.code = result.exited ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return result;
}

void KillChild(pid_t child) {
  if (child <= 0) return;
  ::kill(child, SIGKILL);
  int status = 0;
  WaitUntil([&] { return ::waitpid(child, &status, WNOHANG) != 0; }, 10);
}

bool IsAlive(pid_t pid) {
  if (pid <= 0) return false;
  // A child of ours that ended stays a zombie until it is waited for.
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t paren = stat.rfind(')');
  if (paren == std::string::npos || paren + 2 >= stat.size()) return false;
  const char state = stat[paren + 2];
  return state != 'Z' && state != 'X';
}

std::string ExecutableOf(pid_t pid) {
  char buffer[PATH_MAX];
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  const ssize_t length = ::readlink(link.c_str(), buffer, sizeof(buffer) - 1);
  return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : "";
}

std::vector<pid_t> ProcessesRunningFrom(const std::string& folder) {
  std::vector<pid_t> found;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return found;
  while (dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0' || pid == ::getpid()) continue;
    std::string exe = ExecutableOf(static_cast<pid_t>(pid));
    const std::string deleted = " (deleted)";
    if (exe.size() > deleted.size() &&
        exe.compare(exe.size() - deleted.size(), deleted.size(), deleted) == 0) {
      exe.resize(exe.size() - deleted.size());
    }
    if (exe.rfind(folder + "/", 0) == 0 && IsAlive(static_cast<pid_t>(pid))) {
      found.push_back(static_cast<pid_t>(pid));
    }
  }
  ::closedir(proc);
  return found;
}

void EndProcessesRunningFrom(const std::string& folder) {
  if (folder.size() < 6) return;  // never a whole root
  WaitUntil([&] {
    const std::vector<pid_t> left = ProcessesRunningFrom(folder);
    for (pid_t pid : left) ::kill(pid, SIGKILL);
    return left.empty();
  }, 10);
}

int UnusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

StallingListener::StallingListener() {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) == 0 && ::listen(fd_, 16) == 0 &&
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port_ = ntohs(address.sin_port);
  }
}

StallingListener::~StallingListener() {
  for (int fd : accepted_) ::close(fd);
  if (fd_ >= 0) ::close(fd_);
}

bool StallingListener::WaitForConnection(double seconds) {
  return WaitUntil([&] {
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return false;
    accepted_.push_back(fd);
    return true;
  }, seconds);
}

std::string StallingListener::BaseUrl() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

namespace {

bool Answers(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return connected;
}

}  // namespace

Nginx::~Nginx() { Stop(); }

bool Nginx::Start(const std::string& prefix, const std::string& docroot,
                  const std::string& extraLocations) {
  prefix_ = prefix;
  ::mkdir(prefix.c_str(), 0755);
  ::mkdir((prefix + "/tmp").c_str(), 0755);
  for (int attempt = 0; attempt < 3 && pid_ <= 0; ++attempt) {
    port_ = UnusedPort();
    std::ostringstream conf;
    conf << (::geteuid() == 0 ? "user root;\n" : "") << "worker_processes 1;\n"
         << "pid " << prefix << "/nginx.pid;\n"
         << "error_log " << prefix << "/error.log warn;\n"
         << "events { worker_connections 256; }\n"
         << "http {\n"
         << "    log_format e2e '$request_uri $status $body_bytes_sent $server_protocol';\n"
         << "    access_log " << prefix << "/access.log e2e;\n"
         << "    types { }\n    default_type application/octet-stream;\n"
         << "    sendfile on;\n    keepalive_timeout 65;\n    server_tokens off;\n"
         << "    client_body_temp_path " << prefix << "/tmp/body;\n"
         << "    proxy_temp_path " << prefix << "/tmp/proxy;\n"
         << "    fastcgi_temp_path " << prefix << "/tmp/fastcgi;\n"
         << "    uwsgi_temp_path " << prefix << "/tmp/uwsgi;\n"
         << "    scgi_temp_path " << prefix << "/tmp/scgi;\n"
         << "    server {\n        listen 127.0.0.1:" << port_ << ";\n"
         << "        root " << docroot << ";\n" << extraLocations << "    }\n}\n";
    WriteFile(prefix + "/nginx.conf", conf.str());
    const pid_t child = Spawn("/usr/sbin/nginx",
                              {"-p", prefix + "/", "-c", prefix + "/nginx.conf", "-e",
                               prefix + "/error.log", "-g", "daemon off;"},
                              prefix, prefix + "/nginx.out");
    if (child <= 0) continue;
    if (WaitUntil([&] { return Answers(port_) || !IsAlive(child); }, 10) && IsAlive(child)) {
      pid_ = child;
    } else {
      KillChild(child);
    }
  }
  return pid_ > 0;
}

void Nginx::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);  // fast shutdown: the master ends its worker, then itself
  if (!WaitForChild(pid_, 10).ended) KillChild(pid_);
  pid_ = -1;
}

std::string Nginx::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

std::vector<std::string> Nginx::RequestedUris() const {
  std::vector<std::string> uris;
  std::istringstream in(ReadFile(prefix_ + "/access.log"));
  std::string line;
  while (std::getline(in, line)) uris.push_back(line.substr(0, line.find(' ')));
  return uris;
}

std::vector<Nginx::Served> Nginx::Requests() const {
  std::vector<Served> requests;
  std::istringstream in(ReadFile(prefix_ + "/access.log"));
  Served served;
  while (in >> served.uri >> served.status >> served.bytes >> served.protocol) requests.push_back(served);
  return requests;
}

std::string Nginx::ErrorLog() const { return ReadFile(prefix_ + "/error.log"); }


}  // namespace velmora::testing
