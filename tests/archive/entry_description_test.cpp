// Tests of entry-name trimming, attribute words and time stamps of zip entries.
#include "archive/entry_description.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "archive/zip_builder.h"
#include "archive/zip_reader.h"

namespace velmora::archive {
namespace {

using velmora::testing::TimestampBlock;
using velmora::testing::ExtraBlock;

TEST(TrimEntryName, DropsDrivesLeadingSeparatorsAndEverythingBeforeAParentStep) {
  EXPECT_EQ(TrimEntryName(u"/abs/x.txt"), u"abs/x.txt");
  EXPECT_EQ(TrimEntryName(u"D:\\dir\\x.txt"), u"dir\\x.txt");
  EXPECT_EQ(TrimEntryName(u"\\\\server\\x"), u"server\\x");
  EXPECT_EQ(TrimEntryName(u"dir/../x.txt"), u"x.txt");
  EXPECT_EQ(TrimEntryName(u"dir\\..\\x.txt"), u"x.txt");
  EXPECT_EQ(TrimEntryName(u"a/b/../c.txt"), u"c.txt");
  EXPECT_EQ(TrimEntryName(u"a\\b\\..\\c.txt"), u"c.txt");
  EXPECT_EQ(TrimEntryName(u"plain.txt"), u"plain.txt");
  EXPECT_EQ(TrimEntryName(u""), u"");
}

TEST(TrimEntryName, TriesTheParentSequencesInTheirOrderOverTheWholeName) {
  // "\..\" is found first although "/../" comes earlier in the text.
  EXPECT_EQ(TrimEntryName(u"a/../b\\..\\c"), u"c");
  // Mixed separators count as well.
  EXPECT_EQ(TrimEntryName(u"a\\../b"), u"b");
  EXPECT_EQ(TrimEntryName(u"a/..\\b"), u"b");
  // Repeated: after a drive prefix, separators and parent steps go again.
  EXPECT_EQ(TrimEntryName(u"C:/x/../D:\\y"), u"y");
}

TEST(TrimEntryName, LeavesLeadingParentStepsForTheSafetyCheck) {
  EXPECT_EQ(TrimEntryName(u"../x"), u"../x");
  EXPECT_EQ(TrimEntryName(u"..\\x"), u"..\\x");
  EXPECT_EQ(TrimEntryName(u"a/../../x"), u"../x");
}

TEST(IsUnsafeEntryName, RefusesParentComponentsAndAbsoluteNames) {
  EXPECT_TRUE(IsUnsafeEntryName(u"../x"));
  EXPECT_TRUE(IsUnsafeEntryName(u"..\\x"));
  EXPECT_TRUE(IsUnsafeEntryName(u"a/.."));
  EXPECT_TRUE(IsUnsafeEntryName(u"a/../b"));
  EXPECT_TRUE(IsUnsafeEntryName(u".."));
  EXPECT_TRUE(IsUnsafeEntryName(u"a/.. /b"));   // Windows drops the blank
  EXPECT_TRUE(IsUnsafeEntryName(u"a/.../b"));   // and trailing dots
  EXPECT_TRUE(IsUnsafeEntryName(u"/etc/x"));
  EXPECT_TRUE(IsUnsafeEntryName(u"\\x"));
  EXPECT_TRUE(IsUnsafeEntryName(u"C:x"));
}

TEST(IsUnsafeEntryName, AcceptsNamesThatStayInside) {
  EXPECT_FALSE(IsUnsafeEntryName(u"x.txt"));
  EXPECT_FALSE(IsUnsafeEntryName(u"a/b/c.txt"));
  EXPECT_FALSE(IsUnsafeEntryName(u"./a/./b"));
  EXPECT_FALSE(IsUnsafeEntryName(u"a..b/..c/d.."));
  EXPECT_FALSE(IsUnsafeEntryName(u"dir/"));
  EXPECT_FALSE(IsUnsafeEntryName(u"a//b"));
}

TEST(EntryAttributes, DosHostsReadTheDosBits) {
  for (std::uint32_t host : {0u, 7u, 11u, 14u}) {
    std::uint32_t mode = 99;
    EXPECT_EQ(EntryAttributes(host << 8, 0x21, &mode), 0x21u) << host;
    EXPECT_EQ(mode, 0u);
    EXPECT_EQ(EntryAttributes(host << 8 | 20, 0x37, &mode), 0x37u) << host;
  }
}

TEST(EntryAttributes, OtherHostsReadAUnixMode) {
  std::uint32_t mode = 0;
  EXPECT_EQ(EntryAttributes(3u << 8, 0100644u << 16, &mode), 0x20u);
  EXPECT_EQ(mode, 0644u);
  EXPECT_EQ(EntryAttributes(3u << 8, 0100444u << 16, &mode), 0x21u);
  EXPECT_EQ(mode, 0444u);
  EXPECT_EQ(EntryAttributes(3u << 8, 040755u << 16, &mode), 0x30u);
  // Set-id and sticky bits never travel.
  EXPECT_EQ(EntryAttributes(3u << 8, 0106755u << 16, &mode), 0x20u);
  EXPECT_EQ(mode, 0755u);
  // Host 10 is not one of the DOS hosts: its DOS bits mean nothing.
  EXPECT_EQ(EntryAttributes(10u << 8, 0x21, &mode), 0x21u);
  EXPECT_EQ(EntryAttributes(10u << 8, 0x37, &mode), 0x21u);
}

TEST(DosDateTimeToFileTime, ReadsTheStampAsLocalTime) {
  std::uint64_t fileTime = 0;
  ASSERT_TRUE(DosDateTimeToFileTime(velmora::testing::kDosStamp, &fileTime));
  std::tm local{};
  local.tm_year = 2026 - 1900;
  local.tm_mon = 11;
  local.tm_mday = 8;
  local.tm_hour = 10;
  local.tm_min = 30;
  local.tm_sec = 14;
  local.tm_isdst = -1;
  EXPECT_EQ(fileTime, UnixTimeToFileTime(static_cast<std::int32_t>(std::mktime(&local))));
}

TEST(DosDateTimeToFileTime, RefusesAnImpossibleStamp) {
  std::uint64_t fileTime = 0;
  EXPECT_FALSE(DosDateTimeToFileTime(0, &fileTime));  // month 0, day 0
  EXPECT_FALSE(DosDateTimeToFileTime(0x5D88001E, &fileTime));  // 60 seconds
}

TEST(UnixTimeToFileTime, CountsFrom1601InHundredsOfNanoseconds) {
  EXPECT_EQ(UnixTimeToFileTime(0), 116444736000000000ULL);
  EXPECT_EQ(UnixTimeToFileTime(1), 116444736010000000ULL);
  EXPECT_EQ(UnixTimeToFileTime(-1), 116444735990000000ULL);
}

class ExtendedTimestampTest : public ::testing::Test {
 protected:
  void Apply(const std::string& field) {
    // An exact-size copy, so that any read beyond the field is caught.
    std::unique_ptr<unsigned char[]> bytes(new unsigned char[field.size() + 1]);
    std::copy(field.begin(), field.end(), bytes.get());
    ApplyExtendedTimestamp(bytes.get(), field.size(), &entry_);
  }
  ZipEntryInfo Stamped() const {
    ZipEntryInfo entry;
    entry.writeTime = entry.accessTime = entry.creationTime = kDos;
    return entry;
  }
  static constexpr std::uint64_t kDos = 1234;
  ZipEntryInfo entry_ = Stamped();
};

TEST_F(ExtendedTimestampTest, ModificationTimeOnlyKeepsTheOtherStamps) {
  Apply(TimestampBlock(0x01, {1000}));
  EXPECT_EQ(entry_.writeTime, UnixTimeToFileTime(1000));
  EXPECT_EQ(entry_.accessTime, kDos);
  EXPECT_EQ(entry_.creationTime, kDos);
}

TEST_F(ExtendedTimestampTest, AllThreeTimesInTheirOrder) {
  Apply(TimestampBlock(0x07, {1000, 2000, 3000}));
  EXPECT_EQ(entry_.writeTime, UnixTimeToFileTime(1000));
  EXPECT_EQ(entry_.accessTime, UnixTimeToFileTime(2000));
  EXPECT_EQ(entry_.creationTime, UnixTimeToFileTime(3000));
}

TEST_F(ExtendedTimestampTest, AccessTimeAloneIsTheFirstValue) {
  Apply(TimestampBlock(0x02, {2000}));
  EXPECT_EQ(entry_.writeTime, kDos);
  EXPECT_EQ(entry_.accessTime, UnixTimeToFileTime(2000));
}

TEST_F(ExtendedTimestampTest, BlockAfterA300ByteBlockIsFound) {
  Apply(ExtraBlock("\x0A\x00", std::string(300, 'x')) + TimestampBlock(0x01, {1000}));
  EXPECT_EQ(entry_.writeTime, UnixTimeToFileTime(1000));
}

TEST_F(ExtendedTimestampTest, ValuesMissingFromAShortBlockAreNotRead) {
  // The flags announce three times, the block holds one; the next block's
  // bytes must not be taken for the others.
  std::string block = ExtraBlock("UT", std::string("\x07", 1) + std::string("\xE8\x03\x00\x00", 4));
  Apply(block + ExtraBlock("zz", std::string(8, '\x7F')));
  EXPECT_EQ(entry_.writeTime, UnixTimeToFileTime(1000));
  EXPECT_EQ(entry_.accessTime, kDos);
  EXPECT_EQ(entry_.creationTime, kDos);
}

TEST_F(ExtendedTimestampTest, BlockRunningPastTheFieldIsReadOnlyUpToTheField) {
  std::string field = TimestampBlock(0x07, {1000, 2000, 3000});
  field.resize(field.size() - 6);  // the field ends inside the access time
  Apply(field);
  EXPECT_EQ(entry_.writeTime, UnixTimeToFileTime(1000));
  EXPECT_EQ(entry_.accessTime, kDos);
}

TEST_F(ExtendedTimestampTest, ShortOrForeignFieldsChangeNothing) {
  Apply(std::string("UT\x01\x00", 4));  // four bytes: below the minimum
  Apply(ExtraBlock("UT", ""));          // a block without flags
  Apply(ExtraBlock("ux", std::string(11, '\x01')));
  Apply(std::string("\x01\x02\xFF\xFF\x00", 5));  // a block size far past the end
  EXPECT_EQ(entry_.writeTime, kDos);
  EXPECT_EQ(entry_.accessTime, kDos);
  EXPECT_EQ(entry_.creationTime, kDos);
}

}  // namespace
}  // namespace velmora::archive
