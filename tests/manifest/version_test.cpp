// Tests for the comparison of version texts.
#include "manifest/version.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>

namespace velmora::manifest {
namespace {

struct VersionCase {
  const char* available;
  const char* installed;
  bool upToDate;
};

// Shown in test listings instead of the case's bytes.
void PrintTo(const VersionCase& c, std::ostream* out) {
  *out << '"' << c.available << "\" against \"" << c.installed << '"';
}

class IsUpToDateTable : public ::testing::TestWithParam<VersionCase> {};

TEST_P(IsUpToDateTable, GivesTheDocumentedResult) {
  const VersionCase& c = GetParam();
  EXPECT_EQ(IsUpToDate(c.available, c.installed), c.upToDate)
      << "available \"" << c.available << "\" installed \"" << c.installed << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    DocumentedCases, IsUpToDateTable,
    ::testing::Values(VersionCase{"1.2.3", "1.2.3", true}, VersionCase{"1.2.3", "1.2.4", true},
                      VersionCase{"1.2.4", "1.2.3", false}, VersionCase{"1.10", "1.9", false},
                      VersionCase{"1.9", "1.10", true}, VersionCase{"2", "1.9", false},
                      VersionCase{"1.2", "1.2.5", true}, VersionCase{"1.2.5", "1.2", true},
                      VersionCase{"1.2", "1.2.0", true}, VersionCase{"1.02", "1.2", true},
                      VersionCase{"1.2a", "1.2", true}, VersionCase{"1.x", "1.0", false},
                      VersionCase{"1.0", "1.x", false}, VersionCase{"1.x", "2.0", true},
                      VersionCase{"", "1.0", false}, VersionCase{"2147483648", "1", false}),
    [](const ::testing::TestParamInfo<VersionCase>& info) {
      // "1.2_vs_1.10": the characters a test name cannot hold become "_".
      std::string name = std::to_string(info.index) + "_" + info.param.available + "_vs_" + info.param.installed;
      for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

TEST(IsUpToDate, LeadingZerosAndExtraComponentsCountInNeitherDirection) {
  EXPECT_TRUE(IsUpToDate("1.02", "1.2"));
  EXPECT_TRUE(IsUpToDate("1.2", "1.02"));
  EXPECT_TRUE(IsUpToDate("007", "7"));
  EXPECT_TRUE(IsUpToDate("1.2", "1.2.0.0.9"));
  EXPECT_TRUE(IsUpToDate("1.2.0.0.9", "1.2"));
}

TEST(IsUpToDate, ComponentsAreSignedNumbers) {
  EXPECT_TRUE(IsUpToDate("1.-1", "1.0"));
  EXPECT_FALSE(IsUpToDate("1.0", "1.-1"));
  EXPECT_TRUE(IsUpToDate("+3", "3"));
  EXPECT_FALSE(IsUpToDate("-", "1"));
  EXPECT_FALSE(IsUpToDate("1", "+"));
  EXPECT_FALSE(IsUpToDate("+-1", "5"));
}

TEST(IsUpToDate, BlanksBeforeANumberAreSkippedAndBlanksAfterItEndIt) {
  EXPECT_TRUE(IsUpToDate(" 1.\t2", "1.2"));
  EXPECT_TRUE(IsUpToDate("1.2", "\n\r\v\f1. 2"));
  EXPECT_TRUE(IsUpToDate("1 9.2", "1.2"));
  EXPECT_FALSE(IsUpToDate("1.3", "1. 2"));
  EXPECT_FALSE(IsUpToDate("1. ", "1.0"));
}

TEST(IsUpToDate, TrailingTextAfterDigitsIsIgnored) {
  EXPECT_TRUE(IsUpToDate("3rc1", "3"));
  EXPECT_TRUE(IsUpToDate("3", "3beta"));
  EXPECT_FALSE(IsUpToDate("4", "3z9"));
}

TEST(IsUpToDate, EmptyComponentsAreUnreadable) {
  EXPECT_FALSE(IsUpToDate("", ""));
  EXPECT_FALSE(IsUpToDate("1..2", "1.0.2"));
  EXPECT_FALSE(IsUpToDate("1.2", "1."));
  EXPECT_FALSE(IsUpToDate(".1", "0.1"));
  // The unreadable component lies beyond the first deciding pair.
  EXPECT_TRUE(IsUpToDate("1..2", "2.0"));
}

TEST(IsUpToDate, ComponentsOutsideInt32AreUnreadable) {
  EXPECT_TRUE(IsUpToDate("2147483647", "2147483647"));
  EXPECT_FALSE(IsUpToDate("1", "2147483648"));
  EXPECT_TRUE(IsUpToDate("-2147483648", "-2147483648"));
  EXPECT_FALSE(IsUpToDate("-2147483649", "1"));
  EXPECT_FALSE(IsUpToDate("1.99999999999999999999999", "1.0"));
  EXPECT_FALSE(IsUpToDate("1.0", "1.40000000000000000000000000000000000000009"));
  // Leading zeros do not push a small number out of range.
  EXPECT_TRUE(IsUpToDate("0000000000000000000000001", "1"));
}

TEST(IsUpToDate, OnlyTheComponentsBothTextsHaveAreRead) {
  EXPECT_TRUE(IsUpToDate("1.2.x", "1.2"));
  EXPECT_TRUE(IsUpToDate("1.2", "1.2.x"));
  EXPECT_FALSE(IsUpToDate("1.2.x", "1.2.0"));
}

}  // namespace
}  // namespace velmora::manifest
