// The built updater and the proxy variables: through a second nginx that forwards and logs, or past it.
#include <cstdlib>

#include "e2e/e2e_fixture.h"

namespace velmora::e2e {
namespace {

TEST_F(UpdaterTest, ProxyVariablesChooseAsLibcurlDoes) {
  StartServer();
  // A forward proxy: nginx takes absolute-URI requests and passes each URI on
  // as it came, so its log shows the names as they travel.
  Nginx proxy;
  const std::string origin = nginx_.BaseUrl();
  ASSERT_TRUE(proxy.Start(root_ + "/proxy", root_,
                          "location / { proxy_pass " + origin.substr(0, origin.size() - 1) + "; }\n"));
  const std::string proxyUrl = proxy.BaseUrl();
  Publish("2.0", {{"a.dll", "2.0", "two"}, {"grüße.txt", "2.0", "non-ASCII"}, {"read me.txt", "2.0", "blank"}});
  struct Row {
    const char* what;
    const char* variable;  // set to the proxy's URL
    const char* noProxy;   // nullptr: unset
    std::vector<std::string> uris;  // what the proxy forwards; none: it sees nothing
  } const rows[] = {
      {"http_proxy", "http_proxy", nullptr, {"/UpdateList.xml", "/a.dll", "/gr%C3%BC%C3%9Fe.txt", "/read%20me.txt"}},
      {"no_proxy bypasses it", "http_proxy", "127.0.0.1", {}},
      {"upper-case HTTP_PROXY is ignored on POSIX", "HTTP_PROXY", nullptr, {}},
      {"https_proxy is for https only", "https_proxy", nullptr, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_TRUE(WriteFile(App("a.dll"), "one"));
    WriteLocalList("1.0", {{"1.0", "a.dll", ""}});
    const std::size_t before = proxy.RequestedUris().size();
    ::setenv(row.variable, proxyUrl.c_str(), 1);
    if (row.noProxy != nullptr) ::setenv("no_proxy", row.noProxy, 1);
    const ExitStatus status = RunUpdater({"start", origin, "0"});
    ::unsetenv(row.variable);
    ::unsetenv("no_proxy");
    EXPECT_TRUE(status.exited && status.code == 0);
    EXPECT_EQ(Status("Outcome"), "updated");
    EXPECT_EQ(ReadFile(App("grüße.txt")), "non-ASCII");
    std::vector<std::string> seen = proxy.RequestedUris();
    seen.erase(seen.begin(), seen.begin() + static_cast<long>(before));
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, row.uris);
  }
}

}  // namespace
}  // namespace velmora::e2e
