// An HTTP(S) server on 127.0.0.1 for the downloader tests, recording what it is asked.
#pragma once

#include <httplib.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velmora::transfer::testing {

struct SeenRequest {
  std::string path;
  std::string userAgent;
  int clientPort = -1;  // tells connections apart
  std::string ifNoneMatch;
};

// Owns an httplib server that runs on its own thread from Start() until the
// destructor, which ends it within a bounded time.
class TestServer {
 public:
  enum class Kind { kHttp, kHttps };

  // An https server presents a certificate for `altName` from an authority
  // made for it alone.
  explicit TestServer(Kind kind = Kind::kHttp, const char* altName = "IP:127.0.0.1");
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  // Register routes before Start().
  httplib::Server& Routes() { return *server_; }
  // Binds an ephemeral port on 127.0.0.1 and waits (at most 5 s) until it
  // accepts. False when the server could not be made or started.
  bool Start();
  // "http://127.0.0.1:<port>/" (or https).
  std::string BaseUrl() const;
  std::vector<SeenRequest> Requests() const;
  // The PEM certificate of the https server's authority; empty for http.
  std::string AuthorityPem() const;

  // For handlers that stall: waits until Release() or the time-out, whichever
  // comes first. True when released.
  bool WaitForRelease(int seconds);
  void Release();

 private:
  struct Credentials;
  std::unique_ptr<Credentials> credentials_;
  std::unique_ptr<httplib::Server> server_;
  std::string scheme_;
  int port_ = -1;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable released_;
  bool isReleased_ = false;
  std::vector<SeenRequest> requests_;
};

}  // namespace velmora::transfer::testing
