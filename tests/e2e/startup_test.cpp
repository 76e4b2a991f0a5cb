// End-to-end tests of start-up: arguments, the single-instance lock, the download folder, the log and crash records.
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <ctime>

#include "diagnostics/messages.h"
#include "e2e/e2e_fixture.h"

namespace velmora::e2e {
namespace {

namespace msg = velmora::diagnostics;

class StartUp : public UpdaterTest {
 protected:
  // A URL where nothing listens: an accepted start-up ends quickly with the
  // list download error, which proves that the update run was reached.
  std::string ClosedUrl() const { return "http://127.0.0.1:" + std::to_string(closedPort_) + "/"; }

  // Runs the updater and returns the messages it logged, the log emptied first.
  std::vector<LogLine> RunAlone(const std::vector<std::string>& arguments) {
    RemoveTree(App("log"));
    const ExitStatus status = RunUpdater(arguments);
    EXPECT_TRUE(status.exited);
    EXPECT_EQ(status.code, 0);
    return Log();
  }

  static std::vector<std::string> Lines(const std::vector<LogLine>& log) {
    std::vector<std::string> lines;
    for (const LogLine& line : log) lines.push_back(line.level + ":" + line.message);
    return lines;
  }

  static std::string Error(const char* text) { return std::string("ERROR:") + text; }

  int closedPort_ = UnusedPort();
};

TEST_F(StartUp, EachRefusalLogsItsOneMessageExitsZeroAndTouchesNothing) {
  const std::string url = ClosedUrl();
  const std::string tooLong(260, 'u');
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, Error(msg::kWrongArgumentCount)},
      {{"start", url}, Error(msg::kWrongArgumentCount)},
      {{"start", url, "1", "extra"}, Error(msg::kWrongArgumentCount)},
      {{"stop", url, "1"}, Error(msg::kBadArguments)},
      {{"start ", url, "1"}, Error(msg::kBadArguments)},
      {{"start", "http://127.0.0.1:1/" + tooLong, "1"}, Error(msg::kBadArguments)},
      {{"start", url, tooLong}, Error(msg::kBadArguments)},
      {{"start", url, "abc"}, Error(msg::kBadArguments)},
      {{"start", url, ""}, Error(msg::kBadArguments)},
      {{"start", url, "4294967296"}, Error(msg::kBadArguments)},
      {{"start", url, "99999999999999999999"}, Error(msg::kBadArguments)},
  };
  for (const auto& [arguments, expected] : cases) {
    SCOPED_TRACE(arguments.size() > 2 ? arguments[0] + "|" + arguments[2].substr(0, 20)
                                      : std::to_string(arguments.size()) + " arguments");
    EXPECT_EQ(Lines(RunAlone(arguments)), std::vector<std::string>{expected});
    EXPECT_FALSE(Exists(App("temp"))) << "no update work may begin";
  }
}

TEST_F(StartUp, AcceptsStartInAnyCaseAndHostIdsWithALeadingNumber) {
  const std::string url = ClosedUrl();
  // 259 characters are the most an argument may hold.
  std::string longUrl = url + std::string(259 - url.size() - 1, 'p') + "/";
  ASSERT_EQ(longUrl.size(), 259u);
  const std::vector<std::vector<std::string>> accepted = {
      {"start", url, "1"},   {"Start", url, "1"},       {"START", url, "1"},
      {"sTaRt", url, "1234x"}, {"start", url, "  +7"}, {"start", url, "-5"},
      {"start", longUrl, "1"}, {"start", url, "4294967295"}, {"start", url, "0"},
  };
  for (const std::vector<std::string>& arguments : accepted) {
    SCOPED_TRACE(arguments[0] + " " + arguments[1].substr(0, 30) + " " + arguments[2]);
    // Each run reaches the update run, whose list download fails at once.
    EXPECT_EQ(Lines(RunAlone(arguments)), std::vector<std::string>{Error(msg::kListDownloadFailed)});
  }
}

TEST_F(StartUp, TheDownloadFolderLastsOneRunAndTakesWhatAnEarlierRunLeftWithIt) {
  ASSERT_FALSE(Exists(App("temp")));
  EXPECT_EQ(Lines(RunAlone({"start", ClosedUrl(), "1"})),
            std::vector<std::string>{Error(msg::kListDownloadFailed)});
  EXPECT_FALSE(Exists(App("temp")));

  ASSERT_TRUE(WriteFile(App("temp/left-over.bin"), "x"));
  ASSERT_TRUE(WriteFile(App("UpdateList.validators.tmp"), "cut short by a kill"));
  EXPECT_EQ(Lines(RunAlone({"start", ClosedUrl(), "1"})),
            std::vector<std::string>{Error(msg::kListDownloadFailed)});
  EXPECT_FALSE(Exists(App("temp")));
  EXPECT_FALSE(Exists(App("UpdateList.validators.tmp")));
}

TEST_F(StartUp, LogLinesHaveTheFixedShapeInGbkWithoutByteOrderMark) {
  const std::string before = TodayLogName();
  RunUpdater({"start", ClosedUrl(), "1"});
  RunUpdater({"START", ClosedUrl()});  // the second run of the day appends
  const std::string after = TodayLogName();

  const std::vector<std::string> files = ListFiles(App("log"));
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(files[0] == before || files[0] == after) << files[0];
  std::string bytes = ReadLogBytes(app_);
  ASSERT_FALSE(bytes.empty());
  // The code after a fixed text has a DEBUG line of its own.
  for (std::size_t debug; (debug = bytes.find(": DEBUG  :")) != std::string::npos;) {
    bytes.erase(debug - 23, bytes.find('\n', debug) - debug + 24);
  }
  EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_EQ(bytes.find('\r'), std::string::npos);
  ASSERT_EQ(bytes.back(), '\n');
  // e.g. "2026-12-08 09:15:02,137: ERROR  :" then the GBK bytes of the text
  const std::size_t firstEnd = bytes.find('\n');
  const std::string first = bytes.substr(0, firstEnd);
  const std::string second = bytes.substr(firstEnd + 1, bytes.size() - firstEnd - 2);
  EXPECT_TRUE(HasLogLineShape(first)) << first;
  EXPECT_TRUE(HasLogLineShape(second)) << second;
  EXPECT_EQ(first.substr(23), std::string(": ERROR  :") + msg::kListDownloadFailed);
  EXPECT_EQ(second.substr(23), std::string(": ERROR  :") + msg::kWrongArgumentCount);
}

TEST_F(StartUp, SecondInstanceIsRefusedAndTheFirstGoesOnUntilKilled) {
  StallingListener stall;
  ASSERT_GT(stall.Port(), 0);
  const pid_t first = StartUpdater({"start", stall.BaseUrl(), "1"});
  ASSERT_TRUE(stall.WaitForConnection(20)) << "the first updater never asked for its list";

  const ExitStatus second = RunUpdater({"start", ClosedUrl(), "1"});
  EXPECT_TRUE(second.exited && second.code == 0);
  EXPECT_EQ(Lines(Log()), std::vector<std::string>{Error(msg::kAlreadyRunning)});
  EXPECT_EQ(Status("Outcome"), "busy");
  EXPECT_TRUE(IsAlive(first)) << "the first updater must be undisturbed";

  // kill -9 of the holder frees the lock for the next start.
  ::kill(first, SIGKILL);
  EXPECT_TRUE(WaitForChild(first, 10).ended);
  EXPECT_EQ(Lines(RunAlone({"start", ClosedUrl(), "1"})),
            std::vector<std::string>{Error(msg::kListDownloadFailed)});
}

TEST_F(StartUp, RestartedUpdaterWaitsForTheLockOfItsPredecessor) {
  StallingListener stall;
  const pid_t first = StartUpdater({"start", stall.BaseUrl(), "1"});
  ASSERT_TRUE(stall.WaitForConnection(20));

  // A self-update marks the updater it restarts, which keeps trying.
  ::setenv("VELMORA_RESTARTED", "1", 1);
  const pid_t restarted = StartUpdater({"start", ClosedUrl(), "1"});
  ::unsetenv("VELMORA_RESTARTED");
  ::usleep(700 * 1000);
  EXPECT_TRUE(IsAlive(restarted));
  EXPECT_EQ(CountMessage(Log(), msg::kAlreadyRunning), 0);

  ::kill(first, SIGKILL);
  EXPECT_TRUE(WaitForChild(first, 10).ended);
  const ExitStatus status = WaitForChild(restarted, 20);
  ASSERT_TRUE(status.ended);
  EXPECT_TRUE(status.exited && status.code == 0);
  EXPECT_EQ(Lines(Log()), std::vector<std::string>{Error(msg::kListDownloadFailed)});
}

std::string LocalStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof(text), "%Y%m%d%H%M%S", &local);
  return text;
}

TEST_F(StartUp, FatalSignalLeavesExactlyOneCrashRecordAndEndsTheProcess) {
  StallingListener stall;
  const pid_t updater = StartUpdater({"start", stall.BaseUrl(), "1"});
  ASSERT_TRUE(stall.WaitForConnection(20));
  const std::string before = LocalStamp();
  ::kill(updater, SIGSEGV);
  const ExitStatus status = WaitForChild(updater, 20);
  const std::string after = LocalStamp();
  ASSERT_TRUE(status.ended) << "the process must end after writing its record";

  const std::vector<std::string> records = ListFiles(App("Error"));
  ASSERT_EQ(records.size(), 1u);
  const std::string& name = records[0];
  ASSERT_EQ(name.size(), std::string("[Velmora][20261208101530].dmp").size()) << name;
  EXPECT_EQ(name.substr(0, 10), "[Velmora][");
  EXPECT_EQ(name.substr(24), "].dmp");
  const std::string stamp = name.substr(10, 14);
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
  EXPECT_FALSE(ReadFile(App("Error/" + name)).empty());
  EXPECT_TRUE(Log().empty()) << "a fault writes no log line";
}

// Sets the immutable attribute on a folder for as long as it lives: not even
// root can then create an entry in it.
class ImmutableFolder {
 public:
  explicit ImmutableFolder(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_DIRECTORY)) {
    int flags = 0;
    if (fd_ >= 0 && ::ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
      flags |= FS_IMMUTABLE_FL;
      set_ = ::ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
    }
  }
  ~ImmutableFolder() {
    int flags = 0;
    if (set_ && ::ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
      flags &= ~FS_IMMUTABLE_FL;
      ::ioctl(fd_, FS_IOC_SETFLAGS, &flags);
    }
    if (fd_ >= 0) ::close(fd_);
  }
  ImmutableFolder(const ImmutableFolder&) = delete;
  ImmutableFolder& operator=(const ImmutableFolder&) = delete;
  bool IsSet() const { return set_; }

 private:
  int fd_;
  bool set_ = false;
};

TEST_F(StartUp, DownloadFolderThatCannotBeCreatedIsLogged) {
  ASSERT_EQ(::mkdir(App("log").c_str(), 0755), 0);  // the log itself stays writable
  std::vector<LogLine> log;
  {
    ImmutableFolder frozen(app_);
    if (!frozen.IsSet()) GTEST_SKIP() << "this file system cannot make a folder immutable";
    const ExitStatus status = RunUpdater({"start", ClosedUrl(), "1"});
    EXPECT_TRUE(status.exited && status.code == 0);
    log = Log();
  }
  EXPECT_EQ(Lines(log), std::vector<std::string>{Error(msg::kFolderCreateFailed)});
  EXPECT_FALSE(Exists(App("temp")));
}

}  // namespace
}  // namespace velmora::e2e
