// A logging HTTP proxy on 127.0.0.1 for the tests: forwards absolute-URI requests, tunnels CONNECT, records request lines.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velmora::testing {

// Listens on a free port of 127.0.0.1 from construction to the destructor,
// which ends every connection within a bounded time. Each connection serves
// one request: a plain-HTTP request with an absolute URI goes on to its
// server with "Connection: close", CONNECT becomes a tunnel. Only targets at
// 127.0.0.1 are reached; any other gets 502, a malformed request 400.
class LoggingProxy {
 public:
  LoggingProxy();
  ~LoggingProxy();
  LoggingProxy(const LoggingProxy&) = delete;
  LoggingProxy& operator=(const LoggingProxy&) = delete;

  // False when no port could be had; the proxy then serves nothing.
  bool Running() const { return port_ > 0; }
  // "127.0.0.1:<port>", as proxy variables and settings name it.
  std::string Address() const;
  // The request line of every request received, in order of arrival.
  std::vector<std::string> RequestLines() const;
  void ClearRequestLines();

 private:
  void AcceptConnections();
  void Serve(int client);
  // Copies bytes both ways until either side closes, an idle limit passes or
  // the proxy stops.
  void Relay(int client, int server) const;

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  std::vector<std::thread> connections_;  // guarded by mutex_
  std::thread acceptor_;
};

}  // namespace velmora::testing
