// Choosing a proxy from Windows' proxy and bypass lists, as libcurl will take it.
#include "platform/system_proxy.h"

#include <gtest/gtest.h>

namespace velmora::platform {
namespace {

TEST(ChooseProxyFor, TakesTheSchemesEntryElseOneForAll) {
  struct Row {
    const char* url;
    const char* list;
    const char* proxy;  // nullptr: the URL goes direct
  } const rows[] = {
      {"http://h/", "127.0.0.1:3128", "127.0.0.1:3128"},
      {"https://h/", "http=a:1;https=b:2", "b:2"},
      {"HTTP://h/", "HTTPS=b:2; http=a:1", "a:1"},
      {"https://h/", "ftp=f:21;c:3;d:4", "c:3"},
      {"https://h/", "http=a:1", nullptr},
      {"http://h/", " ; ", nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.url) + " with " + row.list);
    SystemProxy chosen{"untouched", ""};
    EXPECT_EQ(ChooseProxyFor(row.url, row.list, "", &chosen), row.proxy != nullptr);
    EXPECT_EQ(chosen.proxy, row.proxy != nullptr ? row.proxy : "untouched");
  }
}

TEST(ChooseProxyFor, BypassListBecomesNoProxy) {
  SystemProxy chosen;
  ASSERT_TRUE(ChooseProxyFor("http://user@Updates:8080/app/", "p:1",
                             "<local>;*.Corp.example, 10.*;192.168.1.* host.example;*mid*;1.2.3.4.*", &chosen));
  EXPECT_EQ(chosen.bypass,
            "localhost,127.0.0.1,::1,updates,.corp.example,10.0.0.0/8,192.168.1.0/24,host.example");
  ASSERT_TRUE(ChooseProxyFor("http://[::1]:80/", "p:1", "<local>", &chosen));
  EXPECT_EQ(chosen.bypass, "localhost,127.0.0.1,::1");
}

}  // namespace
}  // namespace velmora::platform
