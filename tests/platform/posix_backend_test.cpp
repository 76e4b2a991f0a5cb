// The POSIX backend's locks, processes, files and times on a real system.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "platform/clock.h"
#include "platform/encoding.h"
#include "platform/file_system.h"
#include "platform/instance_lock.h"
#include "platform/process.h"
#include "support/file_support.h"
#include "support/temp_folder.h"

namespace velmora::platform {
namespace {

namespace fs = std::filesystem;
using velmora::testing::ReadFile;
using velmora::testing::WriteFile;
using velmora::testing::TempFolder;

std::u16string Wide(const fs::path& path) { return Utf8ToWide(path.string()); }

// Waits, bounded, for a condition another process makes true.
template <typename Condition>
bool WaitFor(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

pid_t ForkSleeper(const std::function<void()>& before = [] {}) {
  const pid_t child = ::fork();
  if (child == 0) {
    before();
    for (int i = 0; i < 300; ++i) ::sleep(1);
    ::_exit(0);
  }
  return child;
}

void KillAndReap(pid_t child) {
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
}

TEST(InstanceLock, IsHeldUntilTheHolderDiesEvenByKill9) {
  const std::u16string name = u"velmora-test-lock-" + Utf8ToWide(std::to_string(::getpid()));
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ForkSleeper([&] {
    const char held = AcquireInstanceLock(name) ? '1' : '0';
    [[maybe_unused]] ssize_t ignored = ::write(ready[1], &held, 1);
  });
  char held = 0;
  ASSERT_EQ(::read(ready[0], &held, 1), 1);
  EXPECT_EQ(held, '1');
  EXPECT_FALSE(AcquireInstanceLock(name));
  KillAndReap(holder);
  EXPECT_TRUE(AcquireInstanceLock(name));
  EXPECT_FALSE(AcquireInstanceLock(name));  // now held by this process
  ::close(ready[0]);
  ::close(ready[1]);
}

TEST(TerminateProcessById, RefusesIdsThatNameProcessGroups) {
  EXPECT_FALSE(TerminateProcessById(0));
  EXPECT_FALSE(TerminateProcessById(4294967295u));  // would be kill(-1)
  EXPECT_FALSE(TerminateProcessById(0x80000000u));
}

TEST(TerminateProcessById, KillsExactlyThatProcess) {
  const pid_t child = ForkSleeper();
  EXPECT_TRUE(TerminateProcessById(static_cast<std::uint32_t>(child)));
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
}

TEST(StartProgram, StartsDetachedWithSplitArgumentsAndTheExecuteBit) {
  TempFolder temp;
  const fs::path script = temp.Path() / "host";
  const fs::path out = temp.Path() / "out.txt";
  WriteFile(script, "#!/bin/sh\nprintf '%s|' \"$@\" > \"" + out.string() + ".tmp\"\n"
                   "ps -o sid= -p $$ | tr -d ' ' >> \"" + out.string() + ".tmp\"\n"
                   "mv \"" + out.string() + ".tmp\" \"" + out.string() + "\"\n");
  fs::permissions(script, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  ASSERT_TRUE(StartProgram(Wide(script), u"start \"http://h/a b/\" 0"));
  ASSERT_TRUE(WaitFor([&] { return fs::exists(out); }));
  const std::string text = ReadFile(out);
  EXPECT_EQ(text.substr(0, text.rfind('|') + 1), "start|http://h/a b/|0|");
  EXPECT_NE(text.substr(text.rfind('|') + 1), std::to_string(::getsid(0)) + "\n");  // its own session
  const auto perms = fs::status(script).permissions();
  EXPECT_NE(perms & fs::perms::owner_exec, fs::perms::none);
  EXPECT_NE(perms & fs::perms::group_exec, fs::perms::none);
  EXPECT_EQ(perms & fs::perms::others_exec, fs::perms::none);  // no read bit, no execute bit
}

TEST(StartProgram, ReportsAProgramThatCannotStart) {
  TempFolder temp;
  EXPECT_FALSE(StartProgram(Wide(temp.Path() / "missing"), u""));
}

TEST(MoveFileReplacing, MovesAFileAnotherProcessHasOpen) {
  TempFolder temp;
  const fs::path installed = temp.Path() / "app.bin";
  WriteFile(installed, "old");
  const pid_t reader = ForkSleeper([&] { static std::ifstream keep(installed); });
  WriteFile(temp.Path() / "new.bin", "new");
  EXPECT_TRUE(MoveFileReplacing(Wide(installed), Wide(temp.Path() / "retired.bin")));
  EXPECT_TRUE(MoveFileReplacing(Wide(temp.Path() / "new.bin"), Wide(installed)));
  KillAndReap(reader);
  EXPECT_EQ(ReadFile(installed), "new");
  EXPECT_EQ(ReadFile(temp.Path() / "retired.bin"), "old");
}

TEST(MoveFileReplacing, NeverReplacesAFolder) {
  TempFolder temp;
  WriteFile(temp.Path() / "f", "x");
  fs::create_directory(temp.Path() / "d");
  EXPECT_FALSE(MoveFileReplacing(Wide(temp.Path() / "f"), Wide(temp.Path() / "d")));
  EXPECT_TRUE(fs::exists(temp.Path() / "f"));
}

TEST(FolderSearch, ListsDotEntriesAndReportsLinksAsLinks) {
  TempFolder temp;
  fs::create_directory(temp.Path() / "sub");
  WriteFile(temp.Path() / "file", "x");
  fs::create_directory_symlink(temp.Path() / "sub", temp.Path() / "link");
  FolderSearch search;
  ASSERT_TRUE(search.Start(Wide(temp.Path()) + u"\\*.*"));
  std::map<std::u16string, std::pair<bool, bool>> seen;
  do {
    seen[search.Name()] = {search.IsFolder(), search.IsLink()};
  } while (search.Next());
  EXPECT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[u"."], std::make_pair(true, false));
  EXPECT_EQ(seen[u".."], std::make_pair(true, false));
  EXPECT_EQ(seen[u"sub"], std::make_pair(true, false));
  EXPECT_EQ(seen[u"file"], std::make_pair(false, false));
  EXPECT_EQ(seen[u"link"], std::make_pair(false, true));
  EXPECT_FALSE(FolderSearch().Start(Wide(temp.Path() / "missing") + u"\\*.*"));

  EXPECT_TRUE(RemoveFolder(Wide(temp.Path() / "link")));
  EXPECT_TRUE(fs::is_directory(temp.Path() / "sub"));
}

TEST(FileCalls, SizeAttributesAndFolders) {
  TempFolder temp;
  WriteFile(temp.Path() / "f", std::string(1234, 'x'));
  std::uint64_t size = 0;
  EXPECT_TRUE(ReadFileSize(Wide(temp.Path() / "f"), &size));
  EXPECT_EQ(size, 1234u);
  EXPECT_FALSE(ReadFileSize(Wide(temp.Path() / "missing"), &size));

  std::uint32_t attributes = 0;
  ASSERT_TRUE(GetPathAttributes(Wide(temp.Path()), &attributes));
  EXPECT_EQ(attributes & 0x10u, 0x10u);
  fs::permissions(temp.Path() / "f", fs::perms::owner_read | fs::perms::group_read);
  ASSERT_TRUE(GetPathAttributes(Wide(temp.Path() / "f"), &attributes));
  EXPECT_EQ(attributes & 0x11u, 0x01u);

  EXPECT_TRUE(CreateFolder(Wide(temp.Path() / "new")));
  std::uint32_t osError = 0;
  EXPECT_FALSE(CreateFolder(Wide(temp.Path() / "new"), &osError));
  EXPECT_TRUE(IsAlreadyExistsError(osError));
  EXPECT_FALSE(RemoveFile(Wide(temp.Path() / "new")));  // a folder is not a file
}

TEST(WritableFile, AppliesUnixModesReadOnlyAndTimes) {
  TempFolder temp;
  WritableFile file;
  ASSERT_TRUE(file.Create(Wide(temp.Path() / "script"), 0x20, 0100751));
  ASSERT_TRUE(file.Write("abc", 3));
  // 2020-01-01 00:00:00 UTC as a file time.
  const std::uint64_t time = (1577836800ULL + 11644473600ULL) * 10000000ULL;
  ASSERT_TRUE(file.SetTimes(time, time, time));
  ASSERT_TRUE(file.Close());
  struct stat info;
  ASSERT_EQ(::stat((temp.Path() / "script").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0751u);
  EXPECT_EQ(info.st_mtime, 1577836800);
  EXPECT_EQ(info.st_size, 3);

  ASSERT_TRUE(file.Create(Wide(temp.Path() / "readonly"), 0x21, 0));
  ASSERT_TRUE(file.Close());
  ASSERT_EQ(::stat((temp.Path() / "readonly").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0222, 0u);
}

TEST(Clock, LocalTimeBecomesUtcFileTime) {
  const char* previous = ::getenv("TZ");
  const std::string saved = previous != nullptr ? previous : "";
  ::setenv("TZ", "UTC-2", 1);  // two hours east of UTC
  ::tzset();
  std::uint64_t fileTime = 0;
  LocalTime time;
  time.year = 2026, time.month = 12, time.day = 8, time.hour = 10, time.minute = 30, time.second = 14;
  EXPECT_TRUE(LocalTimeToFileTime(time, &fileTime));
  // 2026-12-08 08:30:14 UTC
  EXPECT_EQ(fileTime, (1796718614ULL + 11644473600ULL) * 10000000ULL);
  time.month = 2, time.day = 30;
  EXPECT_FALSE(LocalTimeToFileTime(time, &fileTime));
  if (previous != nullptr) {
    ::setenv("TZ", saved.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

}  // namespace
}  // namespace velmora::platform
