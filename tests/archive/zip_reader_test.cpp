// Tests of ZipReader on archives written by the tests: descriptions, positioning, attributes, times and failures.
#include "archive/zip_reader.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/entry_description.h"
#include "archive/zip_builder.h"
#include "platform/encoding.h"
#include "support/temp_folder.h"

namespace velmora::archive {
namespace {

namespace fs = std::filesystem;
using velmora::testing::ReadFileBytes;
using velmora::testing::TempFolder;
using velmora::testing::TestEntry;
using velmora::testing::TimestampBlock;
using velmora::testing::WriteFileBytes;
using velmora::testing::WriteZip;

std::u16string Wide(const std::string& text) { return platform::Utf8ToWide(text); }

class ZipReaderTest : public ::testing::Test {
 protected:
  // Writes the archive and opens a reader on it, targeting "out/".
  std::unique_ptr<ZipReader> OpenWith(const std::vector<TestEntry>& entries) {
    const std::string zip = temp_.Dir() + "p.zip";
    EXPECT_TRUE(WriteZip(zip, entries));
    return OpenExisting(zip);
  }
  std::unique_ptr<ZipReader> OpenExisting(const std::string& zip) {
    ZipResult result = ZipCannotOpen;
    auto reader = ZipReader::Open(Wide(zip), &result);
    EXPECT_EQ(result, ZipOk);
    if (reader) {
      EXPECT_EQ(reader->SetTargetFolder(Wide(Out())), ZipOk);
    }
    return reader;
  }
  // Describes and extracts entry `i` as the package loop does.
  ZipResult Extract(ZipReader& reader, std::int32_t i) {
    ZipEntryInfo info;
    const ZipResult described = reader.GetEntry(i, &info);
    if (described != ZipOk) return described;
    return reader.ExtractEntry(i, info.name);
  }
  std::string Out() const { return temp_.Dir() + "out"; }
  fs::path OutPath() const { return temp_.Path() / "out"; }
  mode_t ModeOf(const fs::path& path) const {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
  }

  TempFolder temp_;
};

std::vector<TestEntry> FiveEntries() {
  std::vector<TestEntry> entries;
  for (int i = 0; i < 5; ++i) entries.push_back({"f" + std::to_string(i) + ".txt", "data " + std::to_string(i)});
  return entries;
}

TEST_F(ZipReaderTest, MinusOneGivesTheCountAndOutOfRangeIndexesAreRefused) {
  auto reader = OpenWith(FiveEntries());
  ASSERT_TRUE(reader);
  ZipEntryInfo info;
  info.name = u"stale";
  info.attributes = 7;
  ASSERT_EQ(reader->GetEntry(-1, &info), ZipOk);
  EXPECT_EQ(info.index, 5);
  EXPECT_EQ(info.name, u"");
  EXPECT_EQ(info.attributes, 0u);
  EXPECT_EQ(info.writeTime, 0u);
  EXPECT_EQ(reader->GetEntry(5, &info), ZipBadArgument);
  EXPECT_EQ(reader->GetEntry(-2, &info), ZipBadArgument);
  EXPECT_EQ(reader->ExtractEntry(5, u"x"), ZipBadArgument);
  EXPECT_EQ(reader->ExtractEntry(-1, u"x"), ZipBadArgument);
}

TEST_F(ZipReaderTest, EntriesCanBeDescribedInAnyOrder) {
  auto reader = OpenWith(FiveEntries());
  ASSERT_TRUE(reader);
  ZipEntryInfo info;
  for (std::int32_t i : {3, 1, 1, 4, 0, 2}) {
    ASSERT_EQ(reader->GetEntry(i, &info), ZipOk);
    EXPECT_EQ(info.index, i);
    EXPECT_EQ(info.name, Wide("f" + std::to_string(i) + ".txt"));
    EXPECT_EQ(info.uncompressedSize, 6u);
  }
  // Extracting out of order positions on the right entry too.
  EXPECT_EQ(reader->ExtractEntry(3, u"third.txt"), ZipOk);
  EXPECT_EQ(reader->ExtractEntry(1, u"first.txt"), ZipOk);
  EXPECT_EQ(ReadFileBytes(Out() + "/third.txt"), "data 3");
  EXPECT_EQ(ReadFileBytes(Out() + "/first.txt"), "data 1");
}

TEST_F(ZipReaderTest, NameArgumentDecidesWhereTheEntryGoes) {
  auto reader = OpenWith({{"inside/name.txt", "content"}});
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader->ExtractEntry(0, u"other\\place.txt"), ZipOk);
  EXPECT_EQ(ReadFileBytes(Out() + "/other/place.txt"), "content");
  EXPECT_FALSE(fs::exists(OutPath() / "inside"));
}

TEST_F(ZipReaderTest, NamesThatWouldLeaveTheTargetAreRefusedWithoutWriting) {
  auto reader = OpenWith({{"x.txt", "evil"}});
  ASSERT_TRUE(reader);
  const std::string outside = temp_.Dir() + "escaped.txt";
  for (const std::u16string& name : std::vector<std::u16string>{u"../escaped.txt", u"..\\escaped.txt", u"a/../../escaped.txt", Wide(outside),
        u"\\escaped.txt", u"C:escaped.txt"}) {
    EXPECT_EQ(reader->ExtractEntry(0, name), ZipCannotOpen);
  }
  EXPECT_FALSE(fs::exists(outside));
  EXPECT_FALSE(fs::exists(OutPath() / "escaped.txt"));
}

TEST_F(ZipReaderTest, TooLongNamesAndTargetPathsFailTheEntry) {
  auto reader = OpenWith({{std::string(300, 'n'), "x"}, {"short.txt", "x"}});
  ASSERT_TRUE(reader);
  EXPECT_EQ(Extract(*reader, 0), ZipCannotOpen);
  EXPECT_EQ(reader->ExtractEntry(1, std::u16string(260, u'n')), ZipCannotOpen);
  const std::u16string longName = std::u16string(259 - Out().size() - 1, u'm');
  EXPECT_EQ(reader->ExtractEntry(1, longName), ZipOk);  // exactly 259 units
  EXPECT_EQ(reader->ExtractEntry(1, longName + u"m"), ZipCannotOpen);
  std::error_code ignored;
  EXPECT_EQ(fs::directory_iterator(OutPath(), ignored)->path().filename().string().size(),
            longName.size());
}

TEST_F(ZipReaderTest, TargetFolderThatDoesNotFitIsRefused) {
  auto reader = OpenWith(FiveEntries());
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader->SetTargetFolder(std::u16string(259, u'a')), ZipBadArgument);
  EXPECT_EQ(reader->SetTargetFolder(std::u16string(258, u'a')), ZipOk);
  EXPECT_EQ(reader->SetTargetFolder(std::u16string(258, u'a') + u"/"), ZipOk);
}

TEST_F(ZipReaderTest, DirectoryEntriesCreateFoldersOnly) {
  auto reader = OpenWith({{"a/b/", "", 0, 0x10}, {"c/", "", 3, 040755u << 16}});
  ASSERT_TRUE(reader);
  EXPECT_EQ(Extract(*reader, 0), ZipOk);
  EXPECT_EQ(Extract(*reader, 1), ZipOk);
  EXPECT_TRUE(fs::is_directory(OutPath() / "a" / "b"));
  EXPECT_TRUE(fs::is_directory(OutPath() / "c"));
}

TEST_F(ZipReaderTest, SeparatorAtTheEndWithoutTheDirectoryBitCannotBeCreated) {
  auto reader = OpenWith({{"d/", "", 0, 0x20}});
  ASSERT_TRUE(reader);
  EXPECT_EQ(Extract(*reader, 0), ZipCannotOpen);
}

TEST_F(ZipReaderTest, EmptyEntryBecomesAnEmptyFileWithItsTime) {
  auto reader = OpenWith({TestEntry("empty.txt", "", 0, 0x20).Extra(TimestampBlock(0x01, {1700000000}))});
  ASSERT_TRUE(reader);
  EXPECT_EQ(Extract(*reader, 0), ZipOk);
  EXPECT_EQ(fs::file_size(OutPath() / "empty.txt"), 0u);
  struct stat info {};
  ASSERT_EQ(::stat((OutPath() / "empty.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, 1700000000);
}

TEST_F(ZipReaderTest, AttributesFollowTheHostThatMadeTheEntry) {
  auto reader = OpenWith({
      {"dos-ro.txt", "x", 0, 0x21},
      {"ntfs-ro.txt", "x", 11, 0x21},
      {"unix-644.txt", "x", 3, 0100644u << 16},
      {"unix-444.txt", "x", 3, 0100444u << 16},
      {"unix-750.sh", "x", 3, 0100750u << 16},
      {"dos-rw.txt", "x", 0, 0x20},
  });
  ASSERT_TRUE(reader);
  const std::uint32_t expected[] = {0x21, 0x21, 0x20, 0x21, 0x20, 0x20};
  for (std::int32_t i = 0; i < 6; ++i) {
    ZipEntryInfo info;
    ASSERT_EQ(reader->GetEntry(i, &info), ZipOk);
    EXPECT_EQ(info.attributes, expected[i]) << i;
    EXPECT_EQ(reader->ExtractEntry(i, info.name), ZipOk);
  }
  // Read-only means no write bit; a Unix entry keeps its own bits.
  EXPECT_EQ(ModeOf(OutPath() / "dos-ro.txt") & 0222, 0u);
  EXPECT_EQ(ModeOf(OutPath() / "ntfs-ro.txt") & 0222, 0u);
  EXPECT_EQ(ModeOf(OutPath() / "unix-644.txt"), 0644u);
  EXPECT_EQ(ModeOf(OutPath() / "unix-444.txt"), 0444u);
  EXPECT_EQ(ModeOf(OutPath() / "unix-750.sh"), 0750u);
  EXPECT_NE(ModeOf(OutPath() / "dos-rw.txt") & 0200, 0u);
}

TEST_F(ZipReaderTest, DosStampIsLocalTimeAndTheTimestampBlockOverridesIt) {
  auto reader = OpenWith({
      {"dos.txt", "x"},
      TestEntry("ut.txt", "x", 0, 0x20).Extra(TimestampBlock(0x01, {1600000000})),
      TestEntry("late-ut.txt", "x", 0, 0x20).Extra(velmora::testing::ExtraBlock("ab", std::string(300, 'q')) +
           TimestampBlock(0x03, {1500000000, 1400000000})),
  });
  ASSERT_TRUE(reader);
  std::tm local{};
  local.tm_year = 2026 - 1900;
  local.tm_mon = 11;
  local.tm_mday = 8;
  local.tm_hour = 10;
  local.tm_min = 30;
  local.tm_sec = 14;
  local.tm_isdst = -1;
  const std::uint64_t dos = UnixTimeToFileTime(static_cast<std::int32_t>(std::mktime(&local)));

  ZipEntryInfo info;
  ASSERT_EQ(reader->GetEntry(0, &info), ZipOk);
  EXPECT_EQ(info.writeTime, dos);
  EXPECT_EQ(info.accessTime, dos);
  EXPECT_EQ(info.creationTime, dos);
  ASSERT_EQ(reader->GetEntry(1, &info), ZipOk);
  EXPECT_EQ(info.writeTime, UnixTimeToFileTime(1600000000));
  EXPECT_EQ(info.accessTime, dos);
  EXPECT_EQ(info.creationTime, dos);
  ASSERT_EQ(reader->GetEntry(2, &info), ZipOk);
  EXPECT_EQ(info.writeTime, UnixTimeToFileTime(1500000000));
  EXPECT_EQ(info.accessTime, UnixTimeToFileTime(1400000000));

  for (std::int32_t i = 0; i < 3; ++i) ASSERT_EQ(Extract(*reader, i), ZipOk);
  struct stat st {};
  ASSERT_EQ(::stat((OutPath() / "dos.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, std::mktime(&local));
  ASSERT_EQ(::stat((OutPath() / "late-ut.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1500000000);
  EXPECT_EQ(st.st_atime, 1400000000);
}

TEST_F(ZipReaderTest, ExtractingOverAnExistingFileReplacesItsContent) {
  fs::create_directories(OutPath());
  WriteFileBytes(Out() + "/x.txt", "a much longer old content");
  auto reader = OpenWith({{"x.txt", "new"}});
  ASSERT_TRUE(reader);
  EXPECT_EQ(Extract(*reader, 0), ZipOk);
  EXPECT_EQ(ReadFileBytes(Out() + "/x.txt"), "new");
}

TEST_F(ZipReaderTest, EncryptedEntryGivesPasswordMismatchAndLeavesAnEmptyFile) {
  auto reader = OpenWith({TestEntry("secret.txt", "secret data", 0, 0x20).Password("pw")});
  ASSERT_TRUE(reader);
  EXPECT_EQ(Extract(*reader, 0), ZipPasswordMismatch);
  EXPECT_EQ(fs::file_size(OutPath() / "secret.txt"), 0u);
}

TEST_F(ZipReaderTest, CorruptedStoredDataFailsItsCrc) {
  const std::string zip = temp_.Dir() + "p.zip";
  const std::string payload(5000, 'A');
  ASSERT_TRUE(WriteZip(zip, {{"good.txt", "fine"}, TestEntry("bad.bin", payload, 0, 0x20).Stored()}));
  std::string bytes = ReadFileBytes(zip);
  const std::size_t at = bytes.find(payload);
  ASSERT_NE(at, std::string::npos);
  bytes[at + 2500] = 'B';
  WriteFileBytes(zip, bytes);
  auto reader = OpenExisting(zip);
  ASSERT_TRUE(reader);
  EXPECT_EQ(Extract(*reader, 0), ZipOk);
  EXPECT_EQ(Extract(*reader, 1), ZipInflateFailed);
}

TEST_F(ZipReaderTest, CorruptedDeflatedDataFailsToInflate) {
  const std::string zip = temp_.Dir() + "p.zip";
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i * 7919 % 1000) + "\n";
  ASSERT_TRUE(WriteZip(zip, {{"t.txt", text}}));
  std::string bytes = ReadFileBytes(zip);
  // The deflated data starts after the 30-byte local header and the name.
  for (std::size_t i = 30 + 5; i < 30 + 5 + 64; ++i) bytes[i] = '\xFF';
  WriteFileBytes(zip, bytes);
  auto reader = OpenExisting(zip);
  ASSERT_TRUE(reader);
  EXPECT_EQ(Extract(*reader, 0), ZipInflateFailed);
}

TEST_F(ZipReaderTest, UnsupportedCompressionMethodIsNotCopiedAsTheFile) {
  const std::string zip = temp_.Dir() + "p.zip";
  ASSERT_TRUE(WriteZip(zip, {TestEntry("b.txt", "compressed by another method").Stored()}));
  std::string bytes = ReadFileBytes(zip);
  bytes[8] = 12;  // bzip2, in the local header and in the central directory
  bytes[bytes.find("PK\x01\x02") + 10] = 12;
  WriteFileBytes(zip, bytes);
  auto reader = OpenExisting(zip);
  ASSERT_TRUE(reader);
  EXPECT_EQ(Extract(*reader, 0), ZipInflateFailed);
}

TEST_F(ZipReaderTest, LocalHeaderThatDisagreesIsABadLocalHeader) {
  const std::string zip = temp_.Dir() + "p.zip";
  ASSERT_TRUE(WriteZip(zip, {{"a.txt", "a"}, {"b.txt", "b"}}));
  std::string bytes = ReadFileBytes(zip);
  const std::size_t second = bytes.find("PK\x03\x04", 4);
  ASSERT_NE(second, std::string::npos);
  bytes[second + 2] = 'X';
  WriteFileBytes(zip, bytes);
  auto reader = OpenExisting(zip);
  ASSERT_TRUE(reader);
  ZipEntryInfo info;
  EXPECT_EQ(reader->GetEntry(0, &info), ZipOk);
  EXPECT_EQ(reader->GetEntry(1, &info), ZipBadLocalHeader);
  EXPECT_EQ(reader->ExtractEntry(1, u"b.txt"), ZipBadLocalHeader);
  EXPECT_FALSE(fs::exists(OutPath() / "b.txt"));
}

TEST_F(ZipReaderTest, UnreadableCentralDirectoryRecordEndsThePositioning) {
  const std::string zip = temp_.Dir() + "p.zip";
  ASSERT_TRUE(WriteZip(zip, FiveEntries()));
  std::string bytes = ReadFileBytes(zip);
  std::size_t record = bytes.find("PK\x01\x02");
  record = bytes.find("PK\x01\x02", record + 4);  // the second record
  ASSERT_NE(record, std::string::npos);
  bytes[record + 3] = '\x09';
  WriteFileBytes(zip, bytes);
  ZipResult result = ZipOk;
  auto reader = ZipReader::Open(Wide(zip), &result);
  ASSERT_TRUE(reader);
  ZipEntryInfo info;
  EXPECT_EQ(reader->GetEntry(0, &info), ZipOk);
  EXPECT_EQ(reader->GetEntry(3, &info), ZipReadFailed);
  EXPECT_EQ(reader->GetEntry(1, &info), ZipReadFailed);
  EXPECT_EQ(reader->GetEntry(0, &info), ZipOk);  // from the cache
}

TEST_F(ZipReaderTest, MissingOrForeignFilesCannotBeOpened) {
  ZipResult result = ZipOk;
  EXPECT_FALSE(ZipReader::Open(Wide(temp_.Dir() + "none.zip"), &result));
  EXPECT_EQ(result, ZipCannotOpen);
  WriteFileBytes(temp_.Dir() + "text.zip", std::string(1000, 't'));
  result = ZipOk;
  EXPECT_FALSE(ZipReader::Open(Wide(temp_.Dir() + "text.zip"), &result));
  EXPECT_EQ(result, ZipCannotOpen);
  result = ZipOk;
  EXPECT_FALSE(ZipReader::Open(Wide(temp_.Dir()), &result));
  EXPECT_EQ(result, ZipCannotOpen);
}

TEST_F(ZipReaderTest, DefaultTargetIsTheCurrentFolderAndCloseEndsTheReader) {
  ASSERT_TRUE(WriteZip(temp_.Dir() + "p.zip", {{"here.txt", "here"}}));
  const fs::path before = fs::current_path();
  fs::current_path(temp_.Path());
  ZipResult result = ZipCannotOpen;
  auto reader = ZipReader::Open(Wide(temp_.Dir() + "p.zip"), &result);
  ASSERT_TRUE(reader);
  EXPECT_EQ(Extract(*reader, 0), ZipOk);
  fs::current_path(before);
  EXPECT_EQ(ReadFileBytes(temp_.Dir() + "here.txt"), "here");
  EXPECT_EQ(reader->Close(), ZipOk);
  ZipEntryInfo info;
  EXPECT_EQ(reader->GetEntry(0, &info), ZipBadArgument);
  EXPECT_EQ(reader->Close(), ZipOk);
}

}  // namespace
}  // namespace velmora::archive
