// Splitting and quoting command lines by the Windows rules.
#include "platform/process.h"

#include <gtest/gtest.h>

namespace velmora::platform {
namespace {

using Arguments = std::vector<std::u16string>;

TEST(SplitCommandLine, BlanksSeparateAndQuotesGroup) {
  EXPECT_EQ(SplitCommandLine(u"start http://h/ 0"), (Arguments{u"start", u"http://h/", u"0"}));
  EXPECT_EQ(SplitCommandLine(u"  a\t\tb  "), (Arguments{u"a", u"b"}));
  EXPECT_EQ(SplitCommandLine(u"\"a b\" c"), (Arguments{u"a b", u"c"}));
  EXPECT_EQ(SplitCommandLine(u"x\"a b\"y"), (Arguments{u"xa by"}));
  EXPECT_EQ(SplitCommandLine(u"\"\" z"), (Arguments{u"", u"z"}));
  EXPECT_EQ(SplitCommandLine(u""), Arguments{});
}

TEST(SplitCommandLine, BackslashesEscapeOnlyBeforeAQuote) {
  EXPECT_EQ(SplitCommandLine(u"a\\b c\\\\"), (Arguments{u"a\\b", u"c\\\\"}));
  EXPECT_EQ(SplitCommandLine(u"a\\\"b"), (Arguments{u"a\"b"}));
  EXPECT_EQ(SplitCommandLine(u"\"a\\\\\" b"), (Arguments{u"a\\", u"b"}));
  EXPECT_EQ(SplitCommandLine(u"\"a\\\\\\\"b\""), (Arguments{u"a\\\"b"}));
}

TEST(QuoteArgument, PlainArgumentsStayAsTheyAre) {
  EXPECT_EQ(QuoteArgument(u"http://127.0.0.1:8080/app/"), u"http://127.0.0.1:8080/app/");
  EXPECT_EQ(QuoteArgument(u"a\\b"), u"a\\b");
}

TEST(QuoteArgument, SplittingTheQuotedFormGivesTheArgumentBack) {
  for (const std::u16string argument :
       {u"http://h/a b/", u"tab\there", u"say \"hi\"", u"ends\\", u"ends with blank\\", u"\\\"", u""}) {
    const Arguments split = SplitCommandLine(u"start " + QuoteArgument(argument) + u" 0");
    ASSERT_EQ(split.size(), 3u) << std::string(argument.begin(), argument.end());
    EXPECT_EQ(split[1], argument);
    EXPECT_EQ(split[2], u"0");
  }
}

}  // namespace
}  // namespace velmora::platform
