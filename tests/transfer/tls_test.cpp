// Tests of a TransferSession over https: trusted authorities, names, redirects, and HTTP/2 through nginx.
#include "transfer/session.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "support/process_support.h"
#include "support/temp_folder.h"
#include "transfer/test_certificates.h"
#include "transfer/test_routes.h"
#include "transfer/test_server.h"

namespace velmora::transfer {
namespace {

using namespace velmora::transfer::testing;

// Sets an environment variable for the lifetime of the object.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) { setenv(name, value.c_str(), 1); }
  ~ScopedVariable() { unsetenv(name_); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
};

TEST(TransferSessionTls, OnlyTheGivenAuthorityTheRightNameAndHttpsRedirectsAreAccepted) {
  velmora::testing::TempFolder folder;
  TestServer plain;
  AddRoutes(plain);
  ASSERT_TRUE(plain.Start());
  TestServer good(TestServer::Kind::kHttps);
  TestServer misnamed(TestServer::Kind::kHttps, "DNS:elsewhere.invalid");
  AddRoutes(good);
  AddRoutes(misnamed);
  const std::string plainUrl = plain.BaseUrl();
  good.Routes().Get("/to-http", [plainUrl](const httplib::Request&, httplib::Response& res) {
    res.set_redirect(plainUrl + "hello.bin");
  });
  ASSERT_TRUE(good.Start());
  ASSERT_TRUE(misnamed.Start());

  const auto goodCa = folder.Path() / "good-ca.pem";
  const auto otherCa = folder.Path() / "other-ca.pem";
  WriteAll(goodCa, good.AuthorityPem());
  WriteAll(otherCa, misnamed.AuthorityPem());
  // What the system store is told through the environment must not count.
  const ScopedVariable certFile("SSL_CERT_FILE", goodCa.string());
  const ScopedVariable certDir("SSL_CERT_DIR", folder.Dir());
  const ScopedVariable bundle("CURL_CA_BUNDLE", goodCa.string());

  const std::u16string none, good16 = goodCa.u16string(), other16 = otherCa.u16string(),
                             missing16 = (folder.Path() / "missing.pem").u16string();
  struct Case {
    const char* label;
    const TestServer& server;
    const char* path;
    const std::u16string& caFile;
    bool verifyPeer;
    DownloadStatus status;
    int transferError;
  } cases[] = {
      {"trusted authority", good, "hello.bin", good16, true, DownloadStatus::kOk, CURLE_OK},
      {"redirects within https", good, "r/2", good16, true, DownloadStatus::kOk, CURLE_OK},
      {"system store", good, "hello.bin", none, true, DownloadStatus::kFailed, CURLE_PEER_FAILED_VERIFICATION},
      {"another authority", good, "hello.bin", other16, true, DownloadStatus::kFailed,
       CURLE_PEER_FAILED_VERIFICATION},
      {"unreadable authority file", good, "hello.bin", missing16, true, DownloadStatus::kFailed,
       CURLE_SSL_CACERT_BADFILE},
      {"name not in the certificate", misnamed, "hello.bin", other16, true, DownloadStatus::kFailed,
       CURLE_PEER_FAILED_VERIFICATION},
      {"redirect to http", good, "to-http", good16, true, DownloadStatus::kFailed, CURLE_UNSUPPORTED_PROTOCOL},
      {"redirect to file", good, "to-file", good16, true, DownloadStatus::kFailed, CURLE_UNSUPPORTED_PROTOCOL},
      {"checks off", misnamed, "hello.bin", none, false, DownloadStatus::kOk, CURLE_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TransferOptions options = DefaultTransferOptions();
    options.caFile = c.caFile;
    options.verifyPeer = c.verifyPeer;
    TransferSession session(options);
    std::string body;
    DownloadRequest request;
    request.url = c.server.BaseUrl() + c.path;
    request.body = &body;
    const DownloadOutcome outcome = session.Download(request);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.transferError, c.transferError);
    EXPECT_EQ(body == (c.path[0] == 'r' ? "arrived" : "hello, velmora"), c.status == DownloadStatus::kOk);
  }
  EXPECT_TRUE(plain.Requests().empty());
}

TEST(TransferSessionHttp2, ABatchSharesOneConnectionWithAServerThatOffersIt) {
  if ((curl_version_info(CURLVERSION_NOW)->features & CURL_VERSION_HTTP2) == 0) {
    GTEST_SKIP() << "this libcurl speaks no HTTP/2";
  }
  velmora::testing::TempFolder folder;
  const auto www = folder.Path() / "www";
  std::filesystem::create_directories(www);
  constexpr int kFiles = 40;  // more than run at once over one connection
  for (int i = 0; i < kFiles; ++i) WriteAll(www / std::to_string(i), "file " + std::to_string(i));
  TestAuthority authority;
  KeyAndCertificate server;
  ASSERT_TRUE(authority.Issue("IP:127.0.0.1", &server));
  WriteAll(folder.Path() / "ca.pem", authority.CertificatePem());
  WriteAll(folder.Path() / "cert.pem", server.CertificatePem());
  WriteAll(folder.Path() / "key.pem", server.KeyPem());
  const int port = velmora::testing::UnusedPort();
  velmora::testing::Nginx nginx;
  ASSERT_TRUE(nginx.Start(folder.Dir() + "nginx", www.string(),
                          "        listen 127.0.0.1:" + std::to_string(port) + " ssl http2;\n" +
                              "        ssl_certificate " + folder.Dir() + "cert.pem;\n" +
                              "        ssl_certificate_key " + folder.Dir() + "key.pem;\n"))
      << nginx.ErrorLog();

  TransferOptions options = DefaultTransferOptions();
  options.caFile = (folder.Path() / "ca.pem").u16string();
  TransferSession session(options);
  std::vector<std::string> bodies(kFiles);
  std::vector<DownloadRequest> requests(kFiles);
  for (int i = 0; i < kFiles; ++i) {
    requests[i].url = "https://127.0.0.1:" + std::to_string(port) + "/" + std::to_string(i);
    requests[i].body = &bodies[i];
  }
  const BatchResult result = session.DownloadBatch(requests);
  EXPECT_TRUE(result.ok) << result.failed.transferError;
  for (int i = 0; i < kFiles; ++i) EXPECT_EQ(bodies[i], "file " + std::to_string(i));
  // The session keeps its connections: one is all the batch opened.
  EXPECT_EQ(EstablishedClientPorts(port).size(), 1u);
}

}  // namespace
}  // namespace velmora::transfer
