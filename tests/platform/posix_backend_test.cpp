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
#include "support/process_support.h"
#include "support/temp_folder.h"

namespace velmora::platform {
namespace {

namespace fs = std::filesystem;
using velmora::testing::ReadFile;
using velmora::testing::WriteFile;
using velmora::testing::TempFolder;
using velmora::testing::WaitUntil;

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

// A copy of the test host in `folder`, and its pid once it has recorded its start.
fs::path CopyTestHost(const TempFolder& folder) {
  const fs::path host = folder.Path() / "Host";
  fs::copy_file(TEST_HOST_BINARY, host);
  return host;
}
pid_t RecordedHostPid(const TempFolder& folder) {
  std::string record;  // whole once its line ends
  WaitUntil([&] { return !(record = ReadFile(folder.Path() / "host.pid")).empty() && record.back() == '\n'; }, 10);
  return static_cast<pid_t>(std::strtol(record.c_str(), nullptr, 10));
}

TEST(InstanceLock, OneHolderPerFileUntilItDiesEvenByKill9) {
  TempFolder temp;
  const std::u16string path = Wide(temp.Path() / "Velmora.lock");
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ForkSleeper([&] {
    static InstanceLock lock;  // lives until the child is killed
    const char taken = lock.Acquire(path) == LockResult::kTaken ? '1' : '0';
    [[maybe_unused]] ssize_t ignored = ::write(ready[1], &taken, 1);
  });
  char taken = 0;
  ASSERT_EQ(::read(ready[0], &taken, 1), 1);
  EXPECT_EQ(taken, '1');
  InstanceLock second;
  EXPECT_EQ(second.Acquire(path), LockResult::kHeld);
  EXPECT_FALSE(second.IsHeld());
  InstanceLock elsewhere;
  EXPECT_EQ(elsewhere.Acquire(Wide(temp.Path() / "other.lock")), LockResult::kTaken);
  KillAndReap(holder);
  EXPECT_EQ(second.Acquire(path), LockResult::kTaken);
  EXPECT_EQ(InstanceLock().Acquire(path), LockResult::kHeld);  // a second open file, even in this process
  std::uint32_t error = 0;
  EXPECT_EQ(InstanceLock().Acquire(Wide(temp.Path() / "missing" / "x.lock"), &error), LockResult::kFailed);
  EXPECT_EQ(error, static_cast<std::uint32_t>(ENOENT));
  ::close(ready[0]);
  ::close(ready[1]);
}

TEST(InstanceLock, ProgramsStartedWhileHeldDoNotKeepIt) {
  TempFolder temp;
  const fs::path host = CopyTestHost(temp);
  const std::u16string path = Wide(temp.Path() / "Velmora.lock");
  InstanceLock lock;
  ASSERT_EQ(lock.Acquire(path), LockResult::kTaken);
  ASSERT_TRUE(StartProgram(Wide(host), u"60"));
  const pid_t started = RecordedHostPid(temp);
  ASSERT_GT(started, 0);
  lock = InstanceLock();  // given up while the started host still runs
  EXPECT_EQ(InstanceLock().Acquire(path), LockResult::kTaken);
  EXPECT_TRUE(TerminateProcessById(static_cast<std::uint32_t>(started)));
}

TEST(TerminateProcessById, RefusesIdsThatNameProcessGroups) {
  for (const std::uint32_t id : {0u, 4294967295u, 0x80000000u}) {  // kill(0), kill(-1), kill(INT_MIN)
    EXPECT_FALSE(TerminateProcessById(id));
    EXPECT_FALSE(AskProcessToClose(id));
    EXPECT_FALSE(WaitForProcessExit(id, 0));
    EXPECT_FALSE(ProcessRunsProgram(id, u"/bin/sh"));
  }
}

// The test host, a script host and an unrelated program: recognised by the
// program each runs, asked to end, waited for, and ended by force.
TEST(StoppingTheHost, RecognisesAsksWaitsAndForces) {
  TempFolder temp;
  const fs::path host = CopyTestHost(temp);
  fs::create_directory(temp.Path() / "sub");
  fs::create_directory_symlink(temp.Path() / "sub", temp.Path() / "link");
  WriteFile(temp.Path() / "host.sh", "while :; do sleep 0.1; done\n");
  struct Row {
    const char* what;
    fs::path program;
    std::string argument;
    bool ignoresStop;
    fs::path checked;
    bool recognised;
  } const rows[] = {
      {"host, by a path through a link and ..", host, "60", false, temp.Path() / "link" / ".." / "Host", true},
      {"host that ignores SIGTERM", host, "60", true, host, true},
      {"unrelated program", "/bin/sleep", "60", false, host, false},
      {"script named relative to its working folder", "/bin/sh", "host.sh", false, temp.Path() / "host.sh", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove(temp.Path() / "host.pid");
    if (row.ignoresStop) ::setenv("VELMORA_HOST_IGNORES_STOP", "1", 1);
    const pid_t pid = velmora::testing::Spawn(row.program, {row.argument}, temp.Dir(), "/dev/null");
    ::unsetenv("VELMORA_HOST_IGNORES_STOP");
    ASSERT_GT(pid, 0);
    const std::uint32_t id = static_cast<std::uint32_t>(pid);
    // Ready once it runs its program (and the host has set up its signals).
    ASSERT_TRUE(WaitUntil([&] { return velmora::testing::ExecutableOf(pid) == fs::canonical(row.program); }, 10));
    if (row.program == host) {
      ASSERT_EQ(RecordedHostPid(temp), pid);
    }
    EXPECT_EQ(ProcessRunsProgram(id, Wide(row.checked)), row.recognised);
    EXPECT_TRUE(AskProcessToClose(id));
    EXPECT_EQ(WaitForProcessExit(id, row.ignoresStop ? 300 : 10000), !row.ignoresStop);
    if (row.ignoresStop) {
      EXPECT_TRUE(TerminateProcessById(id) && WaitForProcessExit(id, 10000));
    }
    EXPECT_FALSE(ProcessRunsProgram(id, Wide(row.checked)));  // ended, not yet reaped
    velmora::testing::KillChild(pid);
    EXPECT_TRUE(WaitForProcessExit(id, 0));  // gone
  }
}

TEST(StartProgram, StartsInTheGivenWorkingFolder) {
  TempFolder temp;
  const fs::path host = CopyTestHost(temp);
  fs::create_directory(temp.Path() / "work");
  ASSERT_TRUE(StartProgram(Wide(host), u"60", Wide(temp.Path() / "work")));
  const pid_t started = RecordedHostPid(temp);
  ASSERT_GT(started, 0);
  EXPECT_EQ(ReadFile(temp.Path() / "host.cwd"), fs::canonical(temp.Path() / "work").string() + "\n");
  EXPECT_TRUE(ProcessRunsProgram(static_cast<std::uint32_t>(started), Wide(host)));
  EXPECT_TRUE(TerminateProcessById(static_cast<std::uint32_t>(started)));
  EXPECT_FALSE(StartProgram(Wide(host), u"60", Wide(temp.Path() / "missing")));
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
