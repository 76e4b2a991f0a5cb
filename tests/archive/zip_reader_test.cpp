// Tests of ZipReader on archives written by the tests: descriptions, positioning, attributes, times and failures.
#include "archive/zip_reader.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/entry_description.h"
#include "platform/encoding.h"
#include "support/file_support.h"
#include "support/temp_folder.h"
#include "support/zip_builder.h"

namespace velmora::archive {
namespace {

namespace fs = std::filesystem;
using velmora::testing::ExtraBlock;
using velmora::testing::ReadFile;
using velmora::testing::TempFolder;
using velmora::testing::TestEntry;
using velmora::testing::TimestampBlock;
using velmora::testing::WriteFile;
using velmora::testing::WriteZip;

std::u16string Wide(const std::string& text) { return platform::Utf8ToWide(text); }

class ZipReaderTest : public ::testing::Test {
 protected:
  // Writes the archive, lets `patch` damage its bytes, and opens a reader on
  // it that targets "out".
  template <typename Patch>
  std::unique_ptr<ZipReader> OpenWith(const std::vector<TestEntry>& entries, Patch patch) {
    const std::string zip = temp_.Dir() + "p.zip";
    EXPECT_TRUE(WriteZip(zip, entries));
    std::string bytes = ReadFile(zip);
    patch(bytes);
    WriteFile(zip, bytes);
    ZipResult result = ZipCannotOpen;
    auto reader = ZipReader::Open(Wide(zip), &result);
    EXPECT_EQ(result, ZipOk);
    if (reader) {
      EXPECT_EQ(reader->SetTargetFolder(Wide(Out())), ZipOk);
    }
    return reader;
  }
  std::unique_ptr<ZipReader> OpenWith(const std::vector<TestEntry>& entries) {
    return OpenWith(entries, [](std::string&) {});
  }
  // Describes and extracts entry `i` as the package loop does.
  static ZipResult Extract(ZipReader& reader, std::int32_t i) {
    ZipEntryInfo info;
    const ZipResult described = reader.GetEntry(i, &info);
    return described != ZipOk ? described : reader.ExtractEntry(i, info.name);
  }
  std::string Out() const { return temp_.Dir() + "out"; }
  fs::path OutPath() const { return temp_.Path() / "out"; }
  struct stat Stat(const char* name) const {
    struct stat info {};
    EXPECT_EQ(::stat((OutPath() / name).c_str(), &info), 0) << name;
    return info;
  }

  TempFolder temp_;
};

std::vector<TestEntry> FiveEntries() {
  std::vector<TestEntry> entries;
  for (int i = 0; i < 5; ++i) entries.emplace_back("f" + std::to_string(i), "data " + std::to_string(i));
  return entries;
}

TEST_F(ZipReaderTest, MinusOneCountsEntriesAndIndexesOutOfRangeAreRefused) {
  auto reader = OpenWith(FiveEntries());
  ASSERT_TRUE(reader);
  ZipEntryInfo info;
  info.name = u"stale";
  info.attributes = 7;
  ASSERT_EQ(reader->GetEntry(-1, &info), ZipOk);
  EXPECT_EQ(info.index, 5);
  EXPECT_EQ(info.name, u"");
  EXPECT_EQ(info.attributes, 0u);
  EXPECT_EQ(reader->GetEntry(5, &info), ZipBadArgument);
  EXPECT_EQ(reader->GetEntry(-2, &info), ZipBadArgument);
  EXPECT_EQ(reader->ExtractEntry(5, u"x"), ZipBadArgument);
  EXPECT_EQ(reader->ExtractEntry(-1, u"x"), ZipBadArgument);
}

TEST_F(ZipReaderTest, EntriesAreFoundInAnyOrderAndTheNameArgumentDecidesThePlace) {
  auto reader = OpenWith(FiveEntries());
  ASSERT_TRUE(reader);
  ZipEntryInfo info;
  for (std::int32_t i : {3, 1, 1, 4, 0}) {
    ASSERT_EQ(reader->GetEntry(i, &info), ZipOk);
    EXPECT_EQ(info.index, i);
    EXPECT_EQ(info.name, Wide("f" + std::to_string(i)));
    EXPECT_EQ(info.uncompressedSize, 6u);
  }
  EXPECT_EQ(reader->ExtractEntry(3, u"sub\\third.txt"), ZipOk);
  EXPECT_EQ(reader->ExtractEntry(1, u"first.txt"), ZipOk);
  EXPECT_EQ(ReadFile(Out() + "/sub/third.txt"), "data 3");
  EXPECT_EQ(ReadFile(Out() + "/first.txt"), "data 1");
}

TEST_F(ZipReaderTest, NamesLeavingTheTargetOrTooLongAreRefusedWithoutWriting) {
  auto reader = OpenWith({{std::string(300, 'n'), "x"}, {"x.txt", "x"}});
  ASSERT_TRUE(reader);
  EXPECT_EQ(Extract(*reader, 0), ZipCannotOpen);
  const std::string outside = temp_.Dir() + "escaped.txt";
  for (const std::u16string& name : std::vector<std::u16string>{
           u"../escaped.txt", u"..\\escaped.txt", u"a/../../escaped.txt", Wide(outside),
           u"\\escaped.txt", u"C:escaped.txt", std::u16string(260, u'n')}) {
    EXPECT_EQ(reader->ExtractEntry(1, name), ZipCannotOpen);
  }
  EXPECT_FALSE(fs::exists(outside));
  // The target path may have 259 units, not one more.
  const std::u16string longest(259 - Out().size() - 1, u'm');
  EXPECT_EQ(reader->ExtractEntry(1, longest + u"m"), ZipCannotOpen);
  EXPECT_EQ(reader->ExtractEntry(1, longest), ZipOk);
  EXPECT_EQ(std::distance(fs::directory_iterator(OutPath()), fs::directory_iterator()), 1);
  // A target folder is refused rather than cut to fit.
  EXPECT_EQ(reader->SetTargetFolder(std::u16string(259, u'a')), ZipBadArgument);
  EXPECT_EQ(reader->SetTargetFolder(std::u16string(258, u'a') + u"/"), ZipOk);
}

TEST_F(ZipReaderTest, DirectoryEntriesCreateFoldersAndAFileNameEndingInASeparatorFails) {
  auto reader = OpenWith({{"a/b/", "", 0, 0x10}, {"c/", "", 3, 040755u << 16}, {"d/", "", 0, 0x20}});
  ASSERT_TRUE(reader);
  EXPECT_EQ(Extract(*reader, 0), ZipOk);
  EXPECT_EQ(Extract(*reader, 1), ZipOk);
  EXPECT_TRUE(fs::is_directory(OutPath() / "a" / "b"));
  EXPECT_TRUE(fs::is_directory(OutPath() / "c"));
  EXPECT_EQ(Extract(*reader, 2), ZipCannotOpen);
}

TEST_F(ZipReaderTest, AttributesFollowTheHostThatMadeTheEntry) {
  auto reader = OpenWith({{"dos-ro", "x", 0, 0x21},
                          {"ntfs-ro", "x", 11, 0x21},
                          {"unix-644", "x", 3, 0100644u << 16},
                          {"unix-444", "x", 3, 0100444u << 16},
                          {"unix-750", "x", 3, 0100750u << 16},
                          {"dos-rw", "x", 0, 0x20}});
  ASSERT_TRUE(reader);
  const std::uint32_t expected[] = {0x21, 0x21, 0x20, 0x21, 0x20, 0x20};
  for (std::int32_t i = 0; i < 6; ++i) {
    ZipEntryInfo info;
    ASSERT_EQ(reader->GetEntry(i, &info), ZipOk);
    EXPECT_EQ(info.attributes, expected[i]) << i;
    EXPECT_EQ(reader->ExtractEntry(i, info.name), ZipOk);
  }
  // Read-only means no write bit; an entry from a Unix host keeps its bits.
  EXPECT_EQ(Stat("dos-ro").st_mode & 0222, 0u);
  EXPECT_EQ(Stat("ntfs-ro").st_mode & 0222, 0u);
  EXPECT_EQ(Stat("unix-644").st_mode & 0777, 0644u);
  EXPECT_EQ(Stat("unix-444").st_mode & 0777, 0444u);
  EXPECT_EQ(Stat("unix-750").st_mode & 0777, 0750u);
  EXPECT_NE(Stat("dos-rw").st_mode & 0200, 0u);
}

TEST_F(ZipReaderTest, DosStampIsLocalTimeAndTheTimestampBlockOverridesIt) {
  auto reader = OpenWith({
      {"dos.txt", "x"},
      TestEntry("ut.txt", "x", 0, 0x20).Extra(TimestampBlock(0x01, {1600000000})),
      TestEntry("late-ut.txt", "x", 0, 0x20)
          .Extra(ExtraBlock("ab", std::string(300, 'q')) + TimestampBlock(0x03, {1500000000, 1400000000})),
      TestEntry("empty.txt", "", 0, 0x20).Extra(TimestampBlock(0x01, {1300000000})),
  });
  ASSERT_TRUE(reader);
  std::uint64_t dos = 0;
  ASSERT_TRUE(DosDateTimeToFileTime(velmora::testing::kDosStamp, &dos));
  ZipEntryInfo info;
  ASSERT_EQ(reader->GetEntry(1, &info), ZipOk);
  EXPECT_EQ(info.writeTime, UnixTimeToFileTime(1600000000));
  EXPECT_EQ(info.accessTime, dos);
  EXPECT_EQ(info.creationTime, dos);

  for (std::int32_t i = 0; i < 4; ++i) ASSERT_EQ(Extract(*reader, i), ZipOk);
  EXPECT_EQ(Stat("dos.txt").st_mtime, static_cast<time_t>(dos / 10000000 - 11644473600ULL));
  EXPECT_EQ(Stat("dos.txt").st_atime, Stat("dos.txt").st_mtime);
  EXPECT_EQ(Stat("late-ut.txt").st_mtime, 1500000000);
  EXPECT_EQ(Stat("late-ut.txt").st_atime, 1400000000);
  EXPECT_EQ(Stat("empty.txt").st_mtime, 1300000000);
  EXPECT_EQ(Stat("empty.txt").st_size, 0);
}

TEST_F(ZipReaderTest, ExtractingOverAnExistingFileReplacesItsContent) {
  fs::create_directories(OutPath());
  WriteFile(Out() + "/x.txt", "a much longer old content");
  auto reader = OpenWith({{"x.txt", "new"}});
  ASSERT_TRUE(reader);
  EXPECT_EQ(Extract(*reader, 0), ZipOk);
  EXPECT_EQ(ReadFile(Out() + "/x.txt"), "new");
}

TEST_F(ZipReaderTest, EncryptedEntryGivesPasswordMismatchAndLeavesAnEmptyFile) {
  auto reader = OpenWith({TestEntry("secret.txt", "secret data", 0, 0x20).Password("pw")});
  ASSERT_TRUE(reader);
  EXPECT_EQ(Extract(*reader, 0), ZipPasswordMismatch);
  EXPECT_EQ(fs::file_size(OutPath() / "secret.txt"), 0u);
}

TEST_F(ZipReaderTest, DamagedDataFailsToInflate) {
  const std::string payload(5000, 'A');
  std::string text;
  for (int i = 0; i < 2000; ++i) text += std::to_string(i * 7919 % 1000) + "\n";
  auto reader = OpenWith(
      {{"good.txt", "fine"}, TestEntry("crc.bin", payload, 0, 0x20).Stored(),
       {"t.txt", text}, TestEntry("method.bin", "made by another method", 0, 0x20).Stored()},
      [&](std::string& bytes) {
        bytes[bytes.find(payload) + 2500] = 'B';  // only the CRC can tell
        const std::size_t deflated = bytes.find("t.txt") + 5;
        for (std::size_t i = deflated; i < deflated + 64; ++i) bytes[i] = '\xFF';
        // bzip2 (12), in the last local header and central-directory record
        bytes[bytes.rfind("PK\x03\x04", bytes.find("method.bin")) + 8] = 12;
        bytes[bytes.rfind("method.bin") - 46 + 10] = 12;
      });
  ASSERT_TRUE(reader);
  EXPECT_EQ(Extract(*reader, 0), ZipOk);
  EXPECT_EQ(Extract(*reader, 1), ZipInflateFailed);
  EXPECT_EQ(Extract(*reader, 2), ZipInflateFailed);
  // minizip would hand out another method's data unprocessed as the file.
  EXPECT_EQ(Extract(*reader, 3), ZipInflateFailed);
}

TEST_F(ZipReaderTest, DamagedHeadersFailTheDescription) {
  auto reader = OpenWith(FiveEntries(), [](std::string& bytes) {
    bytes[bytes.find("PK\x03\x04", 4) + 2] = 'X';  // second local header
    const std::size_t first = bytes.find("PK\x01\x02");
    bytes[bytes.find("PK\x01\x02", bytes.find("PK\x01\x02", first + 4) + 4) + 3] = 9;  // third record
  });
  ASSERT_TRUE(reader);
  ZipEntryInfo info;
  EXPECT_EQ(reader->GetEntry(0, &info), ZipOk);
  EXPECT_EQ(reader->GetEntry(1, &info), ZipBadLocalHeader);
  EXPECT_EQ(reader->ExtractEntry(1, u"f1"), ZipBadLocalHeader);
  EXPECT_FALSE(fs::exists(OutPath() / "f1"));
  // A central-directory record that cannot be read ends the positioning.
  EXPECT_EQ(reader->GetEntry(4, &info), ZipReadFailed);
  EXPECT_EQ(reader->GetEntry(2, &info), ZipReadFailed);
  EXPECT_EQ(reader->GetEntry(0, &info), ZipOk);
}

TEST_F(ZipReaderTest, MissingOrForeignFilesCannotBeOpened) {
  WriteFile(temp_.Dir() + "text.zip", std::string(1000, 't'));
  for (const std::string& path : {temp_.Dir() + "none.zip", temp_.Dir() + "text.zip", temp_.Dir()}) {
    ZipResult result = ZipOk;
    EXPECT_FALSE(ZipReader::Open(Wide(path), &result));
    EXPECT_EQ(result, ZipCannotOpen);
  }
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
  EXPECT_EQ(ReadFile(temp_.Dir() + "here.txt"), "here");
  EXPECT_EQ(reader->Close(), ZipOk);
  ZipEntryInfo info;
  EXPECT_EQ(reader->GetEntry(0, &info), ZipBadArgument);
}

}  // namespace
}  // namespace velmora::archive
