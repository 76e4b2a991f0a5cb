// Reading the command line's process id and start word.
#include <gtest/gtest.h>

#include "driver/startup.h"

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

TEST(IsCommandWord, IgnoresTheCaseOfAsciiLettersOnly) {
  EXPECT_TRUE(IsCommandWord(u"start", u"start"));
  EXPECT_TRUE(IsCommandWord(u"Start", u"start"));
  EXPECT_TRUE(IsCommandWord(u"START", u"start"));
  EXPECT_FALSE(IsCommandWord(u"start ", u"start"));
  EXPECT_FALSE(IsCommandWord(u"star", u"start"));
  EXPECT_FALSE(IsCommandWord(u"\uFF33tart", u"start"));  // a full-width S is not an S
  EXPECT_TRUE(IsCommandWord(u"CHECK", u"check"));
}

}  // namespace
}  // namespace velmora::driver
