// Tests of entry-name trimming, the safety check, attribute words and time stamps of zip entries.
#include "archive/entry_description.h"

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>

#include "archive/zip_reader.h"
#include "support/zip_builder.h"

namespace velmora::archive {
namespace {

using velmora::testing::ExtraBlock;
using velmora::testing::TimestampBlock;

TEST(TrimEntryName, DropsDrivesLeadingSeparatorsAndEverythingBeforeAParentStep) {
  EXPECT_EQ(TrimEntryName(u"/abs/x.txt"), u"abs/x.txt");
  EXPECT_EQ(TrimEntryName(u"D:\\dir\\x.txt"), u"dir\\x.txt");
  EXPECT_EQ(TrimEntryName(u"\\\\server\\x"), u"server\\x");
  EXPECT_EQ(TrimEntryName(u"dir/../x.txt"), u"x.txt");
  EXPECT_EQ(TrimEntryName(u"dir\\..\\x.txt"), u"x.txt");
  EXPECT_EQ(TrimEntryName(u"a/b/../c.txt"), u"c.txt");
  EXPECT_EQ(TrimEntryName(u"plain.txt"), u"plain.txt");
  // "\..\" is tried over the whole name before "/../"; mixed forms count.
  EXPECT_EQ(TrimEntryName(u"a/../b\\..\\c"), u"c");
  EXPECT_EQ(TrimEntryName(u"a\\../b"), u"b");
  EXPECT_EQ(TrimEntryName(u"C:/x/../D:\\y"), u"y");
  // Leading parent steps are left for the safety check.
  EXPECT_EQ(TrimEntryName(u"../x"), u"../x");
  EXPECT_EQ(TrimEntryName(u"a/../../x"), u"../x");
}

TEST(IsUnsafeEntryName, RefusesWhatTheListNamePolicyRefuses) {
  for (const char16_t* name : {u"../x", u"..\\x", u"a/..", u"..", u"a/.. /b", u"a/.../b",
                               u"/etc/x", u"\\x", u"C:x", u"./a", u"d../x", u"aux.txt", u"a*b"}) {
    EXPECT_TRUE(IsUnsafeEntryName(name));
  }
  for (const char16_t* name : {u"x.txt", u"a/b/c.txt", u"a..b/..c/d", u"dir/", u"a//b"}) {
    EXPECT_FALSE(IsUnsafeEntryName(name));
  }
}

TEST(EntryAttributes, DosHostsReadDosBitsOtherHostsAUnixMode) {
  std::uint32_t mode = 99;
  for (std::uint32_t host : {0u, 7u, 11u, 14u}) {
    EXPECT_EQ(EntryAttributes(host << 8 | 20, 0x37, &mode), 0x37u) << host;
    EXPECT_EQ(mode, 0u);
  }
  EXPECT_EQ(EntryAttributes(3u << 8, 0100644u << 16, &mode), 0x20u);
  EXPECT_EQ(mode, 0644u);
  EXPECT_EQ(EntryAttributes(3u << 8, 0100444u << 16, &mode), 0x21u);
  EXPECT_EQ(EntryAttributes(3u << 8, 040755u << 16, &mode), 0x30u);
  EXPECT_EQ(EntryAttributes(3u << 8, 0106755u << 16, &mode), 0x20u);
  EXPECT_EQ(mode, 0755u);  // set-id and sticky bits never travel
  EXPECT_EQ(EntryAttributes(10u << 8, 0x37, &mode), 0x21u);  // 10 is no DOS host
}

TEST(DosDateTimeToFileTime, ReadsTheStampAsLocalTimeAndRefusesImpossibleOnes) {
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
  EXPECT_EQ(fileTime, (std::mktime(&local) + 11644473600ULL) * 10000000ULL);
  EXPECT_FALSE(DosDateTimeToFileTime(0, &fileTime));           // month 0, day 0
  EXPECT_FALSE(DosDateTimeToFileTime(0x5D88001E, &fileTime));  // 60 seconds
}

class ExtendedTimestampTest : public ::testing::Test {
 protected:
  void Apply(const std::string& field) {
    // An exact-size copy, so that the sanitizers catch any read beyond it.
    std::unique_ptr<unsigned char[]> bytes(new unsigned char[field.size()]);
    std::copy(field.begin(), field.end(), bytes.get());
    ApplyExtendedTimestamp(bytes.get(), field.size(), &entry_);
  }
  void ExpectTimes(std::uint64_t write, std::uint64_t access, std::uint64_t creation) const {
    EXPECT_EQ(entry_.writeTime, write);
    EXPECT_EQ(entry_.accessTime, access);
    EXPECT_EQ(entry_.creationTime, creation);
  }
  static constexpr std::uint64_t kDos = 1234;
  const std::uint64_t t1 = UnixTimeToFileTime(1000);
  const std::uint64_t t2 = UnixTimeToFileTime(2000);
  ZipEntryInfo entry_ = [] {
    ZipEntryInfo entry;
    entry.writeTime = entry.accessTime = entry.creationTime = kDos;
    return entry;
  }();
};

TEST_F(ExtendedTimestampTest, FlagsChooseWhichTimesFollowInTheirOrder) {
  Apply(TimestampBlock(0x01, {1000}));
  ExpectTimes(t1, kDos, kDos);
  Apply(TimestampBlock(0x06, {2000, 1000}));
  ExpectTimes(t1, t2, t1);
  EXPECT_EQ(UnixTimeToFileTime(0), 116444736000000000ULL);
  EXPECT_EQ(UnixTimeToFileTime(-1), 116444735990000000ULL);
}

TEST_F(ExtendedTimestampTest, BlockAfterA300ByteBlockIsFound) {
  Apply(ExtraBlock("\x0A\x00", std::string(300, 'x')) + TimestampBlock(0x01, {1000}));
  ExpectTimes(t1, kDos, kDos);
}

TEST_F(ExtendedTimestampTest, NothingIsReadBeyondTheBlockOrTheField) {
  // Three times announced, one held; the next block's bytes are not taken.
  Apply(ExtraBlock("UT", std::string("\x07\xE8\x03\x00\x00", 5)) + ExtraBlock("zz", "12345678"));
  ExpectTimes(t1, kDos, kDos);
  std::string cut = TimestampBlock(0x07, {2000, 1000, 1000});
  Apply(cut.substr(0, cut.size() - 6));  // the field ends inside the access time
  ExpectTimes(t2, kDos, kDos);
  Apply(std::string("UT\x01\x00", 4));            // below the minimum
  Apply(ExtraBlock("UT", ""));                    // no flags byte
  Apply(std::string("\x01\x02\xFF\xFF\x00", 5));  // a block size far past the end
  ExpectTimes(t2, kDos, kDos);
}

}  // namespace
}  // namespace velmora::archive
