// Reading the command line's process id and start word, and plan names.
#include <gtest/gtest.h>

#include "driver/startup.h"
#include "driver/update_run.h"

namespace velmora::driver {
namespace {

TEST(ReadProcessId, ReadsLikeAnUnsignedConversion) {
  EXPECT_EQ(ReadProcessId(u"1234"), 1234u);
  EXPECT_EQ(ReadProcessId(u"1234x"), 1234u);
  EXPECT_EQ(ReadProcessId(u"  \t+42"), 42u);
  EXPECT_EQ(ReadProcessId(u"0"), 0u);
  EXPECT_EQ(ReadProcessId(u"-1"), 4294967295u);  // negated modulo 2^32
  EXPECT_EQ(ReadProcessId(u"4294967295"), 4294967295u);
}

TEST(ReadProcessId, RefusesTextWithoutANumberOrBeyond32Bits) {
  EXPECT_FALSE(ReadProcessId(u""));
  EXPECT_FALSE(ReadProcessId(u"x12"));
  EXPECT_FALSE(ReadProcessId(u"-"));
  EXPECT_FALSE(ReadProcessId(u"+ 1"));
  EXPECT_FALSE(ReadProcessId(u"4294967296"));
  EXPECT_FALSE(ReadProcessId(u"99999999999999999999999"));
}

TEST(IsStartWord, IgnoresTheCaseOfAsciiLettersOnly) {
  EXPECT_TRUE(IsStartWord(u"start"));
  EXPECT_TRUE(IsStartWord(u"Start"));
  EXPECT_TRUE(IsStartWord(u"START"));
  EXPECT_FALSE(IsStartWord(u"start "));
  EXPECT_FALSE(IsStartWord(u"star"));
  EXPECT_FALSE(IsStartWord(u"\uFF33tart"));  // a full-width S is not an S
}

TEST(CollapseName, DoubledBackslashesBecomeOne) {
  EXPECT_EQ(CollapseName("lang\\\\zh.dll"), "lang\\zh.dll");
  EXPECT_EQ(CollapseName("a\\b.txt"), "a\\b.txt");
}

}  // namespace
}  // namespace velmora::driver
