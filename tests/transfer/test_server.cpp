// Runs the recording test server, with a certificate from a throw-away authority for HTTPS.
#include "transfer/test_server.h"

#include <chrono>

#include "transfer/test_certificates.h"

namespace velmora::transfer::testing {

struct TestServer::Credentials {
  TestAuthority authority;
  KeyAndCertificate server;
};

TestServer::TestServer(Kind kind, const char* altName) : scheme_(kind == Kind::kHttps ? "https" : "http") {
  if (kind == Kind::kHttps) {
    credentials_ = std::make_unique<Credentials>();
    if (credentials_->authority.Issue(altName, &credentials_->server)) {
      server_ = std::make_unique<httplib::SSLServer>(credentials_->server.cert.get(),
                                                     credentials_->server.key.get());
    }
  } else {
    server_ = std::make_unique<httplib::Server>();
  }
  if (!server_) server_ = std::make_unique<httplib::Server>();  // Start() will refuse it
  // The downloader keeps its connection for the next download; a short idle
  // time lets stop() end the server's side of it quickly.
  server_->set_keep_alive_timeout(1);
  server_->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back({request.path, request.get_header_value("User-Agent"), request.remote_port,
                         request.get_header_value("If-None-Match")});
    return httplib::Server::HandlerResponse::Unhandled;
  });
}

TestServer::~TestServer() {
  Release();
  if (thread_.joinable()) {
    server_->stop();
    thread_.join();
  }
}

bool TestServer::Start() {
  if (!server_->is_valid() || (scheme_ == "https" && !credentials_->server.cert)) return false;
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) return false;
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // stop() only works once the accept loop runs.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!server_->is_running()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::string TestServer::BaseUrl() const {
  return scheme_ + "://127.0.0.1:" + std::to_string(port_) + "/";
}

std::string TestServer::AuthorityPem() const {
  return credentials_ ? credentials_->authority.CertificatePem() : std::string();
}

std::vector<SeenRequest> TestServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

bool TestServer::WaitForRelease(int seconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return released_.wait_for(lock, std::chrono::seconds(seconds), [this] { return isReleased_; });
}

void TestServer::Release() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    isReleased_ = true;
  }
  released_.notify_all();
}

}  // namespace velmora::transfer::testing
