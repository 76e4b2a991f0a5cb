// Tests of unpacking whole packages: folders, stopping at a failed entry, and nothing written outside the folder.
#include "archive/package.h"
#include "platform/encoding.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/file_support.h"
#include "support/temp_folder.h"
#include "support/zip_builder.h"

namespace velmora::archive {
namespace {

namespace fs = std::filesystem;
using velmora::testing::ReadFile;
using velmora::testing::TempFolder;
using velmora::testing::TestEntry;
using velmora::testing::WriteFile;
using velmora::testing::WriteZip;

// The package and folder paths as the test forms them, handed over as UTF-16.
bool Unpack(const std::string& zipPath, const std::string& folder) {
  return UnzipPackage(platform::Utf8ToWide(zipPath), platform::Utf8ToWide(folder));
}

class UnzipPackageTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directory(temp_.Path() / "app"); }

  // The package and its folder as the update run passes them, with backslashes.
  bool Unzip(const std::vector<TestEntry>& entries) {
    EXPECT_TRUE(WriteZip(temp_.Dir() + "app/skin.zip", entries));
    return Unpack(temp_.Dir() + "app\\skin.zip", temp_.Dir() + "app\\skin");
  }
  std::string Read(const std::string& name) const { return ReadFile(temp_.Dir() + "app/skin/" + name); }
  fs::path Folder() const { return temp_.Path() / "app" / "skin"; }
  // Whatever lies outside the package folder, apart from the package.
  std::vector<std::string> Outside() const {
    std::vector<std::string> found;
    for (const auto& item : fs::recursive_directory_iterator(temp_.Path())) {
      const std::string path = item.path().string();
      if (item.path() == temp_.Path() / "app" || path == temp_.Dir() + "app/skin.zip" ||
          path.rfind(Folder().string(), 0) == 0) {
        continue;
      }
      found.push_back(path);
    }
    return found;
  }

  TempFolder temp_;
};

TEST_F(UnzipPackageTest, WholePackageArrivesWithItsFolders) {
  EXPECT_TRUE(Unzip({
      {"a/b/c.txt", "c"},  // creates the package folder, then a, then a/b
      {"docs/", "", 0, 0x10},
      {"empty.txt", ""},
      {"win\\style\\a.css", "body{}"},
      {"bin/tool", std::string(100000, 'z'), 3, 0100755u << 16},
      TestEntry("stored.bin", std::string(40000, '\x01'), 0, 0x20).Stored(),
  }));
  EXPECT_EQ(Read("a/b/c.txt"), "c");
  EXPECT_TRUE(fs::is_directory(Folder() / "docs"));
  EXPECT_EQ(fs::file_size(Folder() / "empty.txt"), 0u);
  EXPECT_EQ(Read("win/style/a.css"), "body{}");
  EXPECT_TRUE(Read("bin/tool") == std::string(100000, 'z'));
  EXPECT_EQ(fs::status(Folder() / "bin" / "tool").permissions() & fs::perms::all, fs::perms(0755));
  EXPECT_TRUE(Read("stored.bin") == std::string(40000, '\x01'));
  EXPECT_TRUE(Outside().empty());
}

TEST_F(UnzipPackageTest, EmptyArchiveSucceedsAndMissingOrBrokenOnesFailWithoutCreatingAnything) {
  EXPECT_TRUE(Unzip({}));
  EXPECT_FALSE(fs::exists(Folder()));
  WriteFile(temp_.Dir() + "app/skin.zip", "PK\x05\x06 not really");
  EXPECT_FALSE(Unpack(temp_.Dir() + "app\\skin.zip", temp_.Dir() + "app\\skin"));
  EXPECT_FALSE(Unpack(temp_.Dir() + "app\\none.zip", temp_.Dir() + "app\\skin"));
  EXPECT_FALSE(fs::exists(Folder()));
}

TEST_F(UnzipPackageTest, AbsoluteDriveAndParentNamesAreTrimmedIntoTheFolder) {
  const std::string outside = temp_.Dir() + "abs.txt";
  EXPECT_TRUE(Unzip({{outside, "1"}, {"C:\\drive.txt", "2"}, {"x/../y.txt", "3"}, {"../../z.txt", "4"}}));
  EXPECT_FALSE(fs::exists(outside));
  EXPECT_EQ(Read(outside.substr(1)), "1");
  EXPECT_EQ(Read("drive.txt"), "2");
  EXPECT_EQ(Read("y.txt"), "3");
  EXPECT_EQ(Read("z.txt"), "4");
  EXPECT_TRUE(Outside().empty());
}

TEST_F(UnzipPackageTest, ParentStepsThatSurviveTrimmingStopTheUnpacking) {
  for (const char* evil : {"../evil.txt", "..\\evil.txt", "a/../../evil.txt", "a\\..\\..\\evil.txt"}) {
    fs::remove_all(Folder());
    EXPECT_FALSE(Unzip({{"first.txt", "1"}, {evil, "evil"}, {"last.txt", "3"}})) << evil;
    EXPECT_EQ(Read("first.txt"), "1");
    EXPECT_FALSE(fs::exists(Folder() / "last.txt"));
    EXPECT_TRUE(Outside().empty()) << evil;
  }
}

TEST_F(UnzipPackageTest, FailingEntryStopsTheUnpackingAndKeepsEarlierFiles) {
  EXPECT_FALSE(Unzip({{"first.txt", "1"}, TestEntry("s.txt", "s", 0, 0x20).Password("pw"), {"last.txt", "3"}}));
  EXPECT_EQ(Read("first.txt"), "1");
  EXPECT_FALSE(fs::exists(Folder() / "last.txt"));
  EXPECT_FALSE(Unpack(temp_.Dir() + "app\\skin.zip", temp_.Dir() + std::string(300, 'f')));
}

TEST_F(UnzipPackageTest, ArchiveFromDebiansZipToolKeepsContentModeAndTime) {
  if (std::system("command -v zip >/dev/null 2>&1") != 0) GTEST_SKIP() << "no zip tool";
  const fs::path source = temp_.Path() / "src";
  fs::create_directories(source / "g00");
  WriteFile((source / "g00" / "f.txt").string(), std::string(20000, 'f'));
  WriteFile((source / "top.txt").string(), "top");
  fs::permissions(source / "top.txt", fs::perms(0640));
  fs::last_write_time(source / "top.txt", fs::file_time_type::clock::now() - std::chrono::hours(9600));
  const std::string command =
      "cd '" + source.string() + "' && zip -q -r '" + temp_.Dir() + "app/skin.zip' g00 top.txt";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_TRUE(Unpack(temp_.Dir() + "app\\skin.zip", temp_.Dir() + "app\\skin"));
  EXPECT_TRUE(Read("g00/f.txt") == std::string(20000, 'f'));
  EXPECT_EQ(fs::status(Folder() / "top.txt").permissions() & fs::perms::all, fs::perms(0640));
  struct stat original {}, extracted {};
  ASSERT_EQ(::stat((source / "top.txt").c_str(), &original), 0);
  ASSERT_EQ(::stat((Folder() / "top.txt").c_str(), &extracted), 0);
  EXPECT_EQ(extracted.st_mtime, original.st_mtime);
}

}  // namespace
}  // namespace velmora::archive
