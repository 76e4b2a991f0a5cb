// Runs the recording test server, with a throw-away self-signed certificate for HTTPS.
#include "transfer/test_server.h"

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <chrono>

namespace velmora::transfer::testing {

namespace {

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree {
  void operator()(X509* cert) const { X509_free(cert); }
};
struct ExtensionFree {
  void operator()(X509_EXTENSION* extension) const { X509_EXTENSION_free(extension); }
};

}  // namespace

struct TestServer::Credentials {
  std::unique_ptr<EVP_PKEY, KeyFree> key;
  std::unique_ptr<X509, CertFree> cert;

  // A one-day certificate for 127.0.0.1, signed by its own key.
  bool Make() {
    key.reset(EVP_EC_gen("P-256"));
    cert.reset(X509_new());
    if (!key || !cert) return false;
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    std::unique_ptr<X509_EXTENSION, ExtensionFree> altName(X509V3_EXT_conf_nid(
        nullptr, nullptr, NID_subject_alt_name, const_cast<char*>("IP:127.0.0.1")));
    if (!altName || X509_add_ext(cert.get(), altName.get(), -1) != 1) return false;
    return X509_sign(cert.get(), key.get(), EVP_sha256()) > 0;
  }
};

TestServer::TestServer(Kind kind) : scheme_(kind == Kind::kHttps ? "https" : "http") {
  if (kind == Kind::kHttps) {
    credentials_ = std::make_unique<Credentials>();
    if (credentials_->Make()) {
      server_ = std::make_unique<httplib::SSLServer>(credentials_->cert.get(),
                                                     credentials_->key.get());
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
  if (!server_->is_valid() || (scheme_ == "https" && !credentials_->cert)) return false;
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
