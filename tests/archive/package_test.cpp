// Tests of unpacking whole packages: folders, order of failure, and nothing written outside the folder.
#include "archive/package.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/zip_builder.h"
#include "support/temp_folder.h"

namespace velmora::archive {
namespace {

namespace fs = std::filesystem;
using velmora::testing::ReadFileBytes;
using velmora::testing::TempFolder;
using velmora::testing::TestEntry;
using velmora::testing::WriteFileBytes;
using velmora::testing::WriteZip;

class UnzipPackageTest : public ::testing::Test {
 protected:
  bool Unzip(const std::vector<TestEntry>& entries) {
    EXPECT_TRUE(WriteZip(ZipFile(), entries));
    return UnzipPackage(Zip(), Folder());
  }
  std::string Zip() const { return temp_.Dir() + "app\\skin.zip"; }
  std::string ZipFile() const { return temp_.Dir() + "app/skin.zip"; }
  std::string FolderFile() const { return temp_.Dir() + "app/skin"; }
  // As the update run passes it: the package's name without ".zip".
  std::string Folder() const { return temp_.Dir() + "app\\skin"; }
  fs::path FolderPath() const { return temp_.Path() / "app" / "skin"; }
  // Everything under the temporary folder except the package and its folder.
  std::vector<std::string> Outside() const {
    std::vector<std::string> found;
    for (const auto& item : fs::recursive_directory_iterator(temp_.Path())) {
      const fs::path& p = item.path();
      if (p == temp_.Path() / "app" || p == temp_.Path() / "app" / "skin.zip") continue;
      if (p.string().rfind(FolderPath().string(), 0) == 0) continue;
      found.push_back(p.string());
    }
    return found;
  }

  void SetUp() override { fs::create_directory(temp_.Path() / "app"); }
  TempFolder temp_;
};

TEST_F(UnzipPackageTest, NestedFileCreatesThePackageFolderAndEveryLevel) {
  EXPECT_TRUE(Unzip({{"a/b/c.txt", "c"}}));
  EXPECT_EQ(ReadFileBytes(FolderFile() + "/a/b/c.txt"), "c");
}

TEST_F(UnzipPackageTest, WholePackageArrivesWithFoldersEmptyFilesAndBackslashNames) {
  EXPECT_TRUE(Unzip({
      {"docs/", "", 0, 0x10},
      {"docs/readme.txt", "read me"},
      {"empty.txt", ""},
      {"win\\style\\a.css", "body{}"},
      {"bin/tool", std::string(100000, 'z'), 3, 0100755u << 16},
      TestEntry("stored.bin", std::string(40000, '\x01'), 0, 0x20).Stored(),
  }));
  EXPECT_EQ(ReadFileBytes(FolderFile() + "/docs/readme.txt"), "read me");
  EXPECT_EQ(fs::file_size(FolderPath() / "empty.txt"), 0u);
  EXPECT_EQ(ReadFileBytes(FolderFile() + "/win/style/a.css"), "body{}");
  EXPECT_TRUE(ReadFileBytes(FolderFile() + "/bin/tool") == std::string(100000, 'z'));
  EXPECT_EQ(fs::status(FolderPath() / "bin" / "tool").permissions() & fs::perms::all, fs::perms(0755));
  EXPECT_TRUE(ReadFileBytes(FolderFile() + "/stored.bin") == std::string(40000, '\x01'));
  EXPECT_TRUE(Outside().empty());
}

TEST_F(UnzipPackageTest, EmptyArchiveSucceedsAndCreatesNothing) {
  EXPECT_TRUE(Unzip({}));
  EXPECT_FALSE(fs::exists(FolderPath()));
}

TEST_F(UnzipPackageTest, MissingOrBrokenPackageFailsBeforeCreatingTheFolder) {
  EXPECT_FALSE(UnzipPackage(Zip(), Folder()));
  WriteFileBytes(temp_.Dir() + "app/skin.zip", "PK\x05\x06 not really");
  EXPECT_FALSE(UnzipPackage(Zip(), Folder()));
  EXPECT_FALSE(fs::exists(FolderPath()));
}

TEST_F(UnzipPackageTest, AbsoluteAndDriveNamesAreTrimmedIntoTheFolder) {
  const std::string outside = temp_.Dir() + "abs.txt";
  EXPECT_TRUE(Unzip({{outside, "one"}, {"C:\\drive.txt", "two"}, {"x/../y.txt", "three"},
                     {"../../z.txt", "four"}}));
  EXPECT_FALSE(fs::exists(outside));
  EXPECT_EQ(ReadFileBytes(FolderFile() + "/" + outside.substr(1)), "one");
  EXPECT_EQ(ReadFileBytes(FolderFile() + "/drive.txt"), "two");
  EXPECT_EQ(ReadFileBytes(FolderFile() + "/y.txt"), "three");
  EXPECT_EQ(ReadFileBytes(FolderFile() + "/z.txt"), "four");
  EXPECT_TRUE(Outside().empty());
}

TEST_F(UnzipPackageTest, ParentStepsThatSurviveTrimmingStopTheUnpacking) {
  for (const char* evil : {"../evil.txt", "..\\evil.txt", "a/../../evil.txt", "a\\..\\..\\evil.txt"}) {
    fs::remove_all(FolderPath());
    EXPECT_FALSE(Unzip({{"first.txt", "1"}, {evil, "evil"}, {"last.txt", "3"}})) << evil;
    EXPECT_EQ(ReadFileBytes(FolderFile() + "/first.txt"), "1");
    EXPECT_FALSE(fs::exists(FolderPath() / "last.txt"));
    EXPECT_TRUE(Outside().empty()) << evil;
  }
}

TEST_F(UnzipPackageTest, FailingEntryStopsTheUnpackingAndKeepsEarlierFiles) {
  EXPECT_FALSE(Unzip({{"first.txt", "1"}, {"d/", "", 0, 0x20}, {"last.txt", "3"}}));
  EXPECT_EQ(ReadFileBytes(FolderFile() + "/first.txt"), "1");
  EXPECT_FALSE(fs::exists(FolderPath() / "last.txt"));
}

TEST_F(UnzipPackageTest, EncryptedOrCorruptedEntriesFail) {
  EXPECT_FALSE(Unzip({TestEntry("s.txt", "secret", 0, 0x20).Password("pw")}));
  fs::remove_all(FolderPath());
  const std::string payload(3000, 'P');
  ASSERT_TRUE(WriteZip(ZipFile(), {TestEntry("p.bin", payload, 0, 0x20).Stored()}));
  std::string bytes = ReadFileBytes(temp_.Dir() + "app/skin.zip");
  bytes[bytes.find(payload) + 10] = 'Q';
  WriteFileBytes(temp_.Dir() + "app/skin.zip", bytes);
  EXPECT_FALSE(UnzipPackage(Zip(), Folder()));
}

TEST_F(UnzipPackageTest, FolderThatDoesNotFitIsRefused) {
  ASSERT_TRUE(WriteZip(ZipFile(), {{"x.txt", "x"}}));
  EXPECT_FALSE(UnzipPackage(Zip(), temp_.Dir() + std::string(300, 'f')));
  EXPECT_TRUE(Outside().empty());
}

TEST_F(UnzipPackageTest, ArchiveFromDebiansZipToolUnpacks) {
  if (std::system("command -v zip >/dev/null 2>&1") != 0) GTEST_SKIP() << "no zip tool";
  const fs::path source = temp_.Path() / "src";
  fs::create_directories(source / "g00");
  WriteFileBytes((source / "g00" / "f.txt").string(), std::string(20000, 'f'));
  WriteFileBytes((source / "top.txt").string(), "top");
  fs::permissions(source / "top.txt", fs::perms(0640));
  fs::last_write_time(source / "top.txt",
                      fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
  const std::string command = "cd '" + source.string() + "' && zip -q -r '" + temp_.Dir() +
                              "app/skin.zip' g00 top.txt";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_TRUE(UnzipPackage(Zip(), Folder()));
  EXPECT_TRUE(ReadFileBytes(FolderFile() + "/g00/f.txt") == std::string(20000, 'f'));
  EXPECT_EQ(fs::status(FolderPath() / "top.txt").permissions() & fs::perms::all, fs::perms(0640));
  struct stat original {}, extracted {};
  ASSERT_EQ(::stat((source / "top.txt").c_str(), &original), 0);
  ASSERT_EQ(::stat((FolderPath() / "top.txt").c_str(), &extracted), 0);
  EXPECT_EQ(extracted.st_mtime, original.st_mtime);
}

}  // namespace
}  // namespace velmora::archive
