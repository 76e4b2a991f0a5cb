// The module folder, folder chains and separator replacement.
#include "platform/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/encoding.h"
#include "support/temp_folder.h"

namespace velmora::platform {
namespace {

namespace fs = std::filesystem;
using velmora::testing::TempFolder;

TEST(GetModuleDirectory, IsTheExecutablesFolderWithItsSeparator) {
  const std::string folder = WideToUtf8(GetModuleDirectory());
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(fs::path(folder).parent_path(), fs::canonical("/proc/self/exe").parent_path());
}

TEST(ReplaceAll, ResumesAfterEachReplacement) {
  std::string path = "a\\\\\\b";  // three backslashes
  ReplaceAll(path, "\\\\", "\\");
  EXPECT_EQ(path, "a\\\\b");
  path = "a\\\\\\\\b";  // four
  ReplaceAll(path, "\\\\", "\\");
  EXPECT_EQ(path, "a\\\\b");
  std::string url = "base/skin\\a.png";
  ReplaceAll(url, "\\", "/");
  EXPECT_EQ(url, "base/skin/a.png");
  std::string grows = "xx";
  ReplaceAll(grows, "x", "xx");  // never searches its own replacement
  EXPECT_EQ(grows, "xxxx");
  std::string untouched = "plain";
  ReplaceAll(untouched, "\\", "/");
  EXPECT_EQ(untouched, "plain");
}

TEST(CreateDirectoryChain, CreatesEveryFolderBeforeTheLastSeparator) {
  TempFolder temp;
  CreateDirectoryChain(Utf8ToWide(temp.Dir() + "a\\b/c\\d.bin"));
  EXPECT_TRUE(fs::is_directory(temp.Path() / "a" / "b" / "c"));
  EXPECT_FALSE(fs::exists(temp.Path() / "a" / "b" / "c" / "d.bin"));

  CreateDirectoryChain(Utf8ToWide(temp.Dir() + "x\\y\\"));
  EXPECT_TRUE(fs::is_directory(temp.Path() / "x" / "y"));
}

TEST(CreateDirectoryChain, SearchStartsAtTheFourthCharacter) {
  TempFolder temp;
  const fs::path previous = fs::current_path();
  fs::current_path(temp.Path());
  CreateDirectoryChain(u"ab\\c.bin");  // its only backslash is at index 2
  CreateDirectoryChain(u"abc\\d.bin");
  fs::current_path(previous);
  EXPECT_FALSE(fs::exists(temp.Path() / "ab"));
  EXPECT_TRUE(fs::is_directory(temp.Path() / "abc"));
}

}  // namespace
}  // namespace velmora::platform
