// A logging HTTP proxy for the tests, one thread per connection, every wait bounded by poll.
#include "support/logging_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>

namespace velmora::testing {
namespace {

// How often a blocked connection looks whether the proxy stops.
constexpr int kPollMilliseconds = 100;
// A request head must arrive, and a relayed connection move, within this.
constexpr auto kIdleLimit = std::chrono::seconds(30);
constexpr std::size_t kMaxHeadBytes = 64 * 1024;

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool SendText(int fd, const std::string& text) { return SendAll(fd, text.data(), text.size()); }

// A connection to "127.0.0.1:<port>"; -1 for any other authority or when
// nothing answers.
int ConnectTo(const std::string& authority) {
  const std::size_t colon = authority.rfind(':');
  if (colon == std::string::npos || authority.substr(0, colon) != "127.0.0.1") return -1;
  const long port = std::strtol(authority.c_str() + colon + 1, nullptr, 10);
  if (port <= 0 || port > 65535) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

// Reads until the blank line that ends a request head; false on close,
// overflow or the idle limit. What came after the head stays in `head`.
bool ReadHead(int fd, const std::atomic<bool>& stopping, std::string* head) {
  const auto deadline = std::chrono::steady_clock::now() + kIdleLimit;
  char buffer[4096];
  while (head->find("\r\n\r\n") == std::string::npos) {
    if (stopping || head->size() > kMaxHeadBytes || std::chrono::steady_clock::now() > deadline) return false;
    pollfd waiting{fd, POLLIN, 0};
    if (::poll(&waiting, 1, kPollMilliseconds) <= 0) continue;
    const ssize_t got = ::recv(fd, buffer, sizeof(buffer), 0);
    if (got <= 0) return false;
    head->append(buffer, static_cast<std::size_t>(got));
  }
  return true;
}

// The head for the origin server: the path alone on the request line, and
// the connection closed after one answer, whatever the client asked.
std::string OriginHead(const std::string& head, const std::string& method, const std::string& path,
                       const std::string& version) {
  std::string out = method + " " + path + " " + version + "\r\n";
  std::size_t begin = head.find("\r\n") + 2;
  const std::size_t end = head.find("\r\n\r\n") + 2;
  while (begin < end) {
    const std::size_t next = head.find("\r\n", begin) + 2;
    const std::string line = head.substr(begin, next - begin);
    if (::strncasecmp(line.c_str(), "Connection:", 11) != 0 &&
        ::strncasecmp(line.c_str(), "Proxy-Connection:", 17) != 0) {
      out += line;
    }
    begin = next;
  }
  return out + "Connection: close\r\n\r\n";
}

}  // namespace

LoggingProxy::LoggingProxy() {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(listener_, 64) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    return;
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { AcceptConnections(); });
}

LoggingProxy::~LoggingProxy() {
  stopping_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  // The acceptor has ended: nobody adds a connection any more.
  for (std::thread& connection : connections_) connection.join();
  if (listener_ >= 0) ::close(listener_);
}

std::string LoggingProxy::Address() const { return "127.0.0.1:" + std::to_string(port_); }

std::vector<std::string> LoggingProxy::RequestLines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

void LoggingProxy::ClearRequestLines() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}

void LoggingProxy::AcceptConnections() {
  while (!stopping_) {
    pollfd waiting{listener_, POLLIN, 0};
    if (::poll(&waiting, 1, kPollMilliseconds) <= 0) continue;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.emplace_back([this, client] {
      Serve(client);
      ::close(client);
    });
  }
}

void LoggingProxy::Serve(int client) {
  std::string head;
  if (!ReadHead(client, stopping_, &head)) return;
  const std::string line = head.substr(0, head.find("\r\n"));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
  }
  const std::size_t space1 = line.find(' ');
  const std::size_t space2 = line.rfind(' ');
  if (space1 == std::string::npos || space2 == space1) {
    SendText(client, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
    return;
  }
  const std::string method = line.substr(0, space1);
  const std::string target = line.substr(space1 + 1, space2 - space1 - 1);
  const std::string version = line.substr(space2 + 1);
  const std::string rest = head.substr(head.find("\r\n\r\n") + 4);
  const bool tunnel = method == "CONNECT";
  static constexpr char kHttp[] = "http://";
  if (!tunnel && target.compare(0, sizeof(kHttp) - 1, kHttp) != 0) {
    SendText(client, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
    return;
  }
  const std::size_t hostStart = tunnel ? 0 : sizeof(kHttp) - 1;
  const std::size_t pathStart = tunnel ? std::string::npos : target.find('/', hostStart);
  const std::string authority =
      target.substr(hostStart, pathStart == std::string::npos ? pathStart : pathStart - hostStart);
  const std::string path = pathStart == std::string::npos ? "/" : target.substr(pathStart);
  const int server = ConnectTo(authority);
  if (server < 0) {
    SendText(client, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n");
    return;
  }
  const bool started = tunnel ? SendText(client, "HTTP/1.1 200 Connection established\r\n\r\n")
                              : SendText(server, OriginHead(head, method, path, version));
  if (started && SendText(server, rest)) Relay(client, server);
  ::close(server);
}

void LoggingProxy::Relay(int client, int server) const {
  char buffer[16384];
  auto lastMove = std::chrono::steady_clock::now();
  while (!stopping_ && std::chrono::steady_clock::now() - lastMove < kIdleLimit) {
    pollfd ends[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    if (::poll(ends, 2, kPollMilliseconds) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if ((ends[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      const ssize_t got = ::recv(ends[i].fd, buffer, sizeof(buffer), 0);
      if (got <= 0 || !SendAll(ends[1 - i].fd, buffer, static_cast<std::size_t>(got))) return;
      lastMove = std::chrono::steady_clock::now();
    }
  }
}

}  // namespace velmora::testing
