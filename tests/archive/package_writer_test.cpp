// Tests of the package writer: what the zip reader finds in a written package.
#include "archive/package_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/zip_builder.h"
#include "archive/zip_reader.h"
#include "platform/encoding.h"
#include "support/file_support.h"
#include "support/temp_folder.h"

namespace velmora::archive {
namespace {

using velmora::testing::ReadFile;
using velmora::testing::WriteFile;

TEST(WritePackage, EntriesAreSortedWithSlashesAndKeepTheirTimes) {
  velmora::testing::TempFolder temp;
  WriteFile(temp.Dir() + "b", "second");
  WriteFile(temp.Dir() + "a", "first");
  constexpr std::uint64_t kSecond = 10000000;
  // 2026-12-08 10:30:14 UTC and the last second the extended timestamp holds.
  const std::uint64_t times[] = {13441199414 * kSecond + 1234, 13791957247 * kSecond};
  const std::u16string folder = temp.Path().u16string() + u"/";
  std::vector<PackageSource> sources = {{u"img\\z.png", folder + u"b", times[1]}, {u"a.txt", folder + u"a", times[0]}};
  ASSERT_TRUE(WritePackage(velmora::platform::Utf8ToWide(temp.Dir() + "one.zip"), sources));
  std::swap(sources[0], sources[1]);
  ASSERT_TRUE(WritePackage(velmora::platform::Utf8ToWide(temp.Dir() + "two.zip"), sources));
  EXPECT_EQ(ReadFile(temp.Dir() + "one.zip"), ReadFile(temp.Dir() + "two.zip"));

  ZipResult result = ZipOk;
  std::unique_ptr<ZipReader> reader = ZipReader::Open(folder + u"one.zip", &result);
  ASSERT_NE(reader, nullptr);
  const std::u16string names[] = {u"a.txt", u"img/z.png"};
  for (std::int32_t i = 0; i < 2; ++i) {
    ZipEntryInfo entry;
    ASSERT_EQ(reader->GetEntry(i, &entry), ZipOk);
    EXPECT_EQ(entry.name, names[i]);
    EXPECT_EQ(entry.writeTime, times[i] / kSecond * kSecond);
    EXPECT_EQ(entry.unixMode, 0u);
  }
  ASSERT_EQ(reader->SetTargetFolder(folder + u"out"), ZipOk);
  EXPECT_EQ(reader->ExtractEntry(1, u"img/z.png"), ZipOk);
  EXPECT_EQ(ReadFile(temp.Dir() + "out/img/z.png"), "second");
}

}  // namespace
}  // namespace velmora::archive
