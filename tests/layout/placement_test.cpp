// Tests of putting files in place and removing folder trees, on real files.
#include "layout/placement.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/encoding.h"
#include "platform/file_ops.h"
#include "support/file_support.h"
#include "support/temp_folder.h"

extern char** environ;

namespace velmora::layout {
namespace {

namespace fs = std::filesystem;
using velmora::testing::ReadFile;
using velmora::testing::WriteFile;
using velmora::testing::TempFolder;
using platform::DeleteDirectoryTree;
using platform::Utf8ToWide;

constexpr char kHoldMarker[] = "VELMORA_FILE_OPS_HOLD";

// Second-process role: keeps the file named by the marker open, says "ready",
// waits (bounded) for its standard input to close, then prints what it still
// reads through its open descriptor.
struct HoldFileChild {
  HoldFileChild() {
    const char* path = std::getenv(kHoldMarker);
    if (path == nullptr) return;
    const int fd = ::open(path, O_RDONLY);
    if (fd < 0) ::_exit(3);
    if (::write(1, "ready\n", 6) != 6) ::_exit(4);
    pollfd input{0, POLLIN, 0};
    ::poll(&input, 1, 10000);
    char buffer[256];
    const ssize_t got = ::pread(fd, buffer, sizeof buffer, 0);
    if (got > 0 && ::write(1, buffer, static_cast<size_t>(got)) != got) ::_exit(5);
    ::_exit(0);
  }
} holdFileChild;

// Reads from a descriptor until `count` bytes or the end arrived, waiting at
// most `timeoutMs` in all.
std::string ReadBounded(int fd, std::size_t count, int timeoutMs) {
  std::string text;
  while (text.size() < count && timeoutMs > 0) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 100) <= 0) {
      timeoutMs -= 100;
      continue;
    }
    char buffer[256];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  return text;
}

class PlaceFileTest : public ::testing::Test {
 protected:
  bool Place() {
    bool hadInstalled = false;
    return PlaceFile(Retired(), Installed(), Incoming(), &hadInstalled);
  }
  // The paths the update run builds for a file named "sub\x.bin".
  std::u16string Installed() const { return Utf8ToWide(temp_.Dir() + "sub\\x.bin"); }
  std::u16string Incoming() const { return Utf8ToWide(temp_.Dir() + "temp\\sub\\x.bin"); }
  std::u16string Retired() const { return Utf8ToWide(temp_.Dir() + ".RECYCLER\\sub\\x.bin"); }
  fs::path InstalledFile() const { return temp_.Path() / "sub" / "x.bin"; }
  fs::path IncomingFile() const { return temp_.Path() / "temp" / "sub" / "x.bin"; }
  fs::path RetiredFile() const { return temp_.Path() / ".RECYCLER" / "sub" / "x.bin"; }

  TempFolder temp_;
};

TEST_F(PlaceFileTest, NewFileArrivesWhereNothingWasInstalled) {
  WriteFile(IncomingFile(), "v2");
  EXPECT_TRUE(Place());
  EXPECT_EQ(ReadFile(InstalledFile()), "v2");
  EXPECT_FALSE(fs::exists(IncomingFile()));
  EXPECT_FALSE(fs::exists(RetiredFile()));
}

TEST_F(PlaceFileTest, InstalledFileIsRetiredInPlaceOfAnEarlierRetiredCopy) {
  WriteFile(RetiredFile(), "v0");
  WriteFile(InstalledFile(), "v1");
  WriteFile(IncomingFile(), "v2");
  EXPECT_TRUE(Place());
  EXPECT_EQ(ReadFile(InstalledFile()), "v2");
  EXPECT_EQ(ReadFile(RetiredFile()), "v1");
  EXPECT_FALSE(fs::exists(IncomingFile()));
}

TEST_F(PlaceFileTest, MissingNewFileLeavesTheInstalledFileInPlace) {
  WriteFile(InstalledFile(), "v1");
  EXPECT_FALSE(Place());
  EXPECT_EQ(ReadFile(InstalledFile()), "v1");
  EXPECT_FALSE(fs::exists(RetiredFile()));
}

TEST_F(PlaceFileTest, InstalledFileThatCannotBeRetiredIsNeitherOverwrittenNorLost) {
  // A file where the retire folder should be: nothing can be moved aside.
  WriteFile(temp_.Path() / ".RECYCLER", "in the way");
  WriteFile(InstalledFile(), "v1");
  WriteFile(IncomingFile(), "v2");
  EXPECT_FALSE(Place());
  EXPECT_EQ(ReadFile(InstalledFile()), "v1");
  EXPECT_EQ(ReadFile(IncomingFile()), "v2");
}

TEST_F(PlaceFileTest, NewFileTakesOverThePermissionBitsAndANonAsciiRetiredPathWorks) {
  const std::u16string retired = Utf8ToWide(temp_.Dir() + ".RECYCLER\\") + u"\u00e9t\u00e9.bin";
  WriteFile(InstalledFile(), "v1");
  WriteFile(IncomingFile(), "v2");
  fs::permissions(InstalledFile(), fs::perms(0750));
  fs::permissions(IncomingFile(), fs::perms(0600));
  bool hadInstalled = false;
  EXPECT_TRUE(PlaceFile(retired, Installed(), Incoming(), &hadInstalled));
  EXPECT_TRUE(hadInstalled);
  EXPECT_EQ(fs::status(InstalledFile()).permissions() & fs::perms::all, fs::perms(0750));
  EXPECT_EQ(ReadFile(temp_.Path() / ".RECYCLER" / u8"\u00e9t\u00e9.bin"), "v1");
}

TEST_F(PlaceFileTest, FileHeldOpenByAnotherProcessIsReplaced) {
  WriteFile(InstalledFile(), "old content");
  WriteFile(IncomingFile(), "new content");

  int toChild[2];
  int fromChild[2];
  ASSERT_EQ(::pipe(toChild), 0);
  ASSERT_EQ(::pipe(fromChild), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
  posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
  posix_spawn_file_actions_addclose(&actions, toChild[1]);
  posix_spawn_file_actions_addclose(&actions, fromChild[0]);
  const std::string marker = std::string(kHoldMarker) + "=" + InstalledFile().string();
  char* argv[] = {const_cast<char*>("file_ops_test"), nullptr};
  char* envp[] = {const_cast<char*>(marker.c_str()), nullptr};
  pid_t child = 0;
  const int spawned = posix_spawn(&child, "/proc/self/exe", &actions, nullptr, argv, envp);
  posix_spawn_file_actions_destroy(&actions);
  ::close(toChild[0]);
  ::close(fromChild[1]);
  ASSERT_EQ(spawned, 0);

  EXPECT_EQ(ReadBounded(fromChild[0], 6, 10000), "ready\n");
  const bool replaced = Place();
  ::close(toChild[1]);  // lets the child read on
  const std::string seenByChild = ReadBounded(fromChild[0], 11, 10000);
  ::close(fromChild[0]);
  int status = 0;
  ::waitpid(child, &status, 0);

  EXPECT_TRUE(replaced);
  EXPECT_EQ(ReadFile(InstalledFile()), "new content");
  EXPECT_EQ(ReadFile(RetiredFile()), "old content");
  EXPECT_EQ(seenByChild, "old content");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

class DeleteDirectoryTreeTest : public ::testing::Test {
 protected:
  std::u16string Wide(const fs::path& path) const { return Utf8ToWide(path.string()); }
  TempFolder temp_;
};

TEST_F(DeleteDirectoryTreeTest, RemovesEmptyAndNestedFoldersAndFailsOnMissingOnes) {
  EXPECT_FALSE(DeleteDirectoryTree(Wide(temp_.Path() / "absent")));
  fs::create_directory(temp_.Path() / "empty");
  EXPECT_TRUE(DeleteDirectoryTree(Wide(temp_.Path() / "empty")));
  const fs::path root = temp_.Path() / "tree";
  WriteFile(root / "a.txt", "a");
  WriteFile(root / "one" / "two" / "c.txt", "c");
  fs::create_directories(root / "one" / "empty");
  WriteFile(root / ".hidden", "h");
  EXPECT_TRUE(DeleteDirectoryTree(Wide(root)));
  // As the update run passes the download folder: with a trailing backslash.
  WriteFile(temp_.Path() / "temp" / "sub" / "x.bin", "x");
  EXPECT_TRUE(DeleteDirectoryTree(Utf8ToWide(temp_.Dir() + "temp\\")));
  EXPECT_TRUE(fs::is_empty(temp_.Path()));
}

TEST_F(DeleteDirectoryTreeTest, LinksAreRemovedWithoutTouchingWhatTheyPointTo) {
  const fs::path outside = temp_.Path() / "outside";
  WriteFile(outside / "deep" / "keep.txt", "keep");
  const fs::path root = temp_.Path() / "tree";
  WriteFile(root / "own.txt", "own");
  fs::create_directory_symlink(outside, root / "folder-link");
  fs::create_symlink(outside / "deep" / "keep.txt", root / "file-link");
  fs::create_symlink(temp_.Path() / "nowhere", root / "dangling-link");
  EXPECT_TRUE(DeleteDirectoryTree(Wide(root)));
  EXPECT_FALSE(fs::exists(fs::symlink_status(root)));
  // Nor when the folder given is itself a link.
  fs::create_directory_symlink(outside, temp_.Path() / "link");
  DeleteDirectoryTree(Utf8ToWide(temp_.Dir() + "link\\"));
  EXPECT_EQ(ReadFile(outside / "deep" / "keep.txt"), "keep");
}

}  // namespace
}  // namespace velmora::layout
