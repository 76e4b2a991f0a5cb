// Tests of the speed and progress texts of the download report.
#include "transfer/progress_text.h"

#include <gtest/gtest.h>

#include <limits>

namespace velmora::transfer {
namespace {

TEST(FormatSpeed, EachUnitStartsStrictlyAboveItsPowerOfTwo) {
  EXPECT_EQ(FormatSpeed(1024.0), "1024.00B");
  EXPECT_EQ(FormatSpeed(1025.0), "1.00KB");
  EXPECT_EQ(FormatSpeed(1048576.0), "1024.00KB");
  EXPECT_EQ(FormatSpeed(1048577.0), "1.00M");
  EXPECT_EQ(FormatSpeed(1073741824.0), "1024.00M");
  EXPECT_EQ(FormatSpeed(1073741825.0), "1.00G");
}

TEST(FormatSpeed, SmallAndFractionalSpeedsStayInBytes) {
  EXPECT_EQ(FormatSpeed(0.0), "0.00B");
  EXPECT_EQ(FormatSpeed(0.5), "0.50B");
  EXPECT_EQ(FormatSpeed(1536.0), "1.50KB");
  EXPECT_EQ(FormatSpeed(5.0 * 1073741824.0), "5.00G");
}

TEST(FormatSpeed, HugeValuesDoNotOverflowTheText) {
  const std::string text = FormatSpeed(std::numeric_limits<double>::max());
  EXPECT_EQ(text.substr(text.size() - 4), ".00G");
}

TEST(FormatSpeedLine, StartsWithLineFeedAndEndsWithPerSecond) {
  EXPECT_EQ(FormatSpeedLine(1536.0), "\n speed: 1.50KB /s");
}

TEST(FormatProgressLine, ShowsReceivedTotalAndPercentage) {
  EXPECT_EQ(FormatProgressLine(102400.0, 51200.0), "\n51200.00 / 102400.00 (50.00 %)");
  EXPECT_EQ(FormatProgressLine(3.0, 3.0), "\n3.00 / 3.00 (100.00 %)");
}

TEST(FormatProgressLine, UnknownTotalGivesZeroPercentNotNanOrInfinity) {
  EXPECT_EQ(FormatProgressLine(0.0, 0.0), "\n0.00 / 0.00 (0.00 %)");
  EXPECT_EQ(FormatProgressLine(0.0, 4096.0), "\n4096.00 / 0.00 (0.00 %)");
}

}  // namespace
}  // namespace velmora::transfer
