// The built updater and the proxy variables: through a logging proxy of the test's own, or past it.
#include <cstdlib>

#include "e2e/e2e_fixture.h"
#include "support/logging_proxy.h"
#include "transfer/test_certificates.h"

namespace velmora::e2e {
namespace {

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST_F(UpdaterTest, ProxyVariablesChooseAsLibcurlDoes) {
  LoggingProxy proxy;
  ASSERT_TRUE(proxy.Running());
  // An https listener beside the plain one, its authority in UpdateCA.pem.
  transfer::testing::TestAuthority authority;
  transfer::testing::KeyAndCertificate server;
  ASSERT_TRUE(authority.ok() && authority.Issue("IP:127.0.0.1", &server));
  ASSERT_TRUE(WriteFile(root_ + "/server.pem", server.CertificatePem()) &&
              WriteFile(root_ + "/server.key", server.KeyPem()) &&
              WriteFile(App("UpdateCA.pem"), authority.CertificatePem()));
  const std::string httpsPort = std::to_string(UnusedPort());
  StartServer("        listen 127.0.0.1:" + httpsPort + " ssl;\n        ssl_certificate " + root_ +
              "/server.pem;\n        ssl_certificate_key " + root_ + "/server.key;\n");
  // A proxy sees the names as they travel: percent-encoded.
  Publish("2.0", {{"a.dll", "2.0", "two"}, {"grüße.txt", "2.0", "non-ASCII"}, {"read me.txt", "2.0", "blank"}});
  const std::string http = nginx_.BaseUrl();
  const std::string https = "https://127.0.0.1:" + httpsPort + "/";
  struct Row {
    const char* what;
    const char* variable;  // set to the proxy's URL
    const char* noProxy;   // nullptr: unset
    const std::string& base;
    std::vector<std::string> lines;  // expected among the proxy's request lines; none: it sees nothing
  } const rows[] = {
      {"http_proxy", "http_proxy", nullptr, http,
       {"GET " + http + "UpdateList.xml HTTP/1.1", "GET " + http + "gr%C3%BC%C3%9Fe.txt HTTP/1.1",
        "GET " + http + "read%20me.txt HTTP/1.1"}},
      {"no_proxy bypasses it", "http_proxy", "127.0.0.1", http, {}},
      {"upper-case HTTP_PROXY is ignored on POSIX", "HTTP_PROXY", nullptr, http, {}},
      {"https_proxy tunnels", "https_proxy", nullptr, https, {"CONNECT 127.0.0.1:" + httpsPort + " HTTP/1.1"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_TRUE(WriteFile(App("a.dll"), "one"));
    WriteLocalList("1.0", {{"1.0", "a.dll", ""}});
    proxy.ClearRequestLines();
    ::setenv(row.variable, ("http://" + proxy.Address()).c_str(), 1);
    if (row.noProxy != nullptr) ::setenv("no_proxy", row.noProxy, 1);
    const ExitStatus status = RunUpdater({"start", row.base, "0"});
    ::unsetenv(row.variable);
    ::unsetenv("no_proxy");
    EXPECT_TRUE(status.exited && status.code == 0);
    EXPECT_EQ(Status("Outcome"), "updated");
    EXPECT_EQ(ReadFile(App("grüße.txt")), "non-ASCII");
    const std::vector<std::string> seen = proxy.RequestLines();
    EXPECT_EQ(seen.empty(), row.lines.empty()) << ::testing::PrintToString(seen);
    for (const std::string& line : row.lines) EXPECT_TRUE(Contains(seen, line)) << line;
  }
}

}  // namespace
}  // namespace velmora::e2e
