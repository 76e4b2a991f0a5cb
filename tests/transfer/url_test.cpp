// Tests of JoinUrl and EncodeUrlPath, and of a download by such a URL.
#include "transfer/url.h"

#include <gtest/gtest.h>

#include <string>

#include "transfer/session.h"
#include "transfer/test_routes.h"
#include "transfer/test_server.h"

namespace velmora::transfer {
namespace {

using namespace velmora::transfer::testing;

TEST(UrlEncoding, EverySegmentIsPercentEncodedAndSeparatorsBecomeOneSlash) {
  struct Case {
    const char* base;
    const char* name;
    const char* url;   // JoinUrl
    const char* path;  // EncodeUrlPath
  } cases[] = {
      {"http://h/app/", "a.dll", "http://h/app/a.dll", "a.dll"},
      {"http://h/app", "a.dll", "http://h/app/a.dll", "a.dll"},
      {"http://h/", "Az09-._~", "http://h/Az09-._~", "Az09-._~"},
      {"http://h/", "my file.txt", "http://h/my%20file.txt", "my%20file.txt"},
      {"http://h/", "a#b%c+d&e;f", "http://h/a%23b%25c%2Bd%26e%3Bf", "a%23b%25c%2Bd%26e%3Bf"},
      {"http://h/", "?=:@!'", "http://h/%3F%3D%3A%40%21%27", "%3F%3D%3A%40%21%27"},
      {"http://h/", "caf\xC3\xA9/\xE4\xB8\xAD.txt", "http://h/caf%C3%A9/%E4%B8%AD.txt", "caf%C3%A9/%E4%B8%AD.txt"},
      {"http://h/", "plugins\\\\x\\\\y.dll", "http://h/plugins/x/y.dll", "plugins/x/y.dll"},
      {"http://h/", "\\a//b\\", "http://h/a/b", "a/b"},
      {"http://h/", "", "http://h/", ""},
      {"", "a b", "/a%20b", "a%20b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JoinUrl(c.base, c.name), c.url) << c.base << " + " << c.name;
    EXPECT_EQ(EncodeUrlPath(c.name), c.path) << c.name;
  }
}

TEST(UrlEncoding, ANameWithABlankAndANonAsciiCharacterIsFetched) {
  TestServer server;
  const std::string name = "dir\\\\my file+\xC3\xA9.bin";
  server.Routes().Get("/dir/my file\\+\xC3\xA9\\.bin", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("found by name", "application/octet-stream");
  });
  ASSERT_TRUE(server.Start());
  TransferSession session;
  std::string body;
  DownloadRequest request;
  request.url = JoinUrl(server.BaseUrl(), name);
  request.body = &body;
  EXPECT_EQ(session.Download(request).status, DownloadStatus::kOk);
  EXPECT_EQ(body, "found by name");
}

}  // namespace
}  // namespace velmora::transfer
