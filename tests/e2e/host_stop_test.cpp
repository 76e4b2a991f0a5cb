// End-to-end test that host ids naming no single process never signal anyone.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "diagnostics/messages.h"
#include "e2e/e2e_fixture.h"

namespace velmora::e2e {
namespace {

namespace msg = velmora::diagnostics;

enum SandboxResult { kSentinelSurvived = 0, kSentinelKilled = 1, kUpdaterHung = 2, kNoNamespace = 77 };

// Runs the updater in a throwaway process group beside a sentinel process, all
// inside a new PID namespace, so that even a signal to every process (kill(-1))
// reaches nothing outside it. Ending the namespace's first process ends every
// process in it, the host the updater started included.
int RunBesideSentinel(const std::string& updater, const std::vector<std::string>& arguments,
                      const std::string& output) {
  std::vector<std::string> all{updater};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : all) argv.push_back(argument.data());
  argv.push_back(nullptr);

  const pid_t outer = ::fork();
  if (outer == 0) {
    if (::unshare(CLONE_NEWPID) != 0) ::_exit(kNoNamespace);
    const pid_t init = ::fork();
    if (init != 0) {
      int status = 0;
      ::waitpid(init, &status, 0);
      ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : kUpdaterHung);
    }
    ::setpgid(0, 0);
    const pid_t sentinel = ::fork();
    if (sentinel == 0) {
      ::alarm(120);
      for (;;) ::pause();
    }
    const pid_t child = ::fork();
    if (child == 0) {
      const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (out >= 0) {
        ::dup2(out, 1);
        ::dup2(out, 2);
      }
      ::execv(updater.c_str(), argv.data());
      ::_exit(127);
    }
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 6000 && !ended; ++i) {
      ended = ::waitpid(child, &status, WNOHANG) == child;
      if (!ended) ::usleep(10 * 1000);
    }
    int sentinelStatus = 0;
    const bool alive = ::waitpid(sentinel, &sentinelStatus, WNOHANG) == 0;
    ::_exit(!ended ? kUpdaterHung : alive ? kSentinelSurvived : kSentinelKilled);
  }
  const ExitStatus status = WaitForChild(outer, 90);
  if (!status.ended) {
    KillChild(outer);
    return kUpdaterHung;
  }
  return status.exited ? status.code : kUpdaterHung;
}

TEST_F(UpdaterTest, HostIdsThatNameNoSingleProcessStopNothingAndSignalNoOne) {
  const std::string a2 = Bytes(64, 71);
  StartServer();
  for (const char* hostId : {"4294967295", "-1", "0", "2147483648"}) {
    SCOPED_TRACE(hostId);
    RemoveTree(App("log"));
    RemoveTree(App("a.dll"));
    RemoveTree(App(".RECYCLER"));
    WriteLocalList("1.0", {{"1.0", "a.dll", ""}});
    Publish("2.0", {{"a.dll", "2.0", a2}});

    const int result =
        RunBesideSentinel(App("Velmora"), {"start", nginx_.BaseUrl(), hostId}, updaterOutput_);
    if (result == kNoNamespace) GTEST_SKIP() << "no PID namespace can be made here";
    EXPECT_EQ(result, kSentinelSurvived);
    const std::vector<LogLine> log = Log();
    ASSERT_EQ(log.size(), 3u) << DescribeLog(log);
    EXPECT_EQ(log[0].level, "ERROR");
    EXPECT_EQ(log[0].message, msg::kTerminateHostFailed);
    EXPECT_EQ(log[2].message, msg::kUpdateFinished);
    EXPECT_EQ(ReadFile(App("a.dll")), a2);
  }
}

}  // namespace
}  // namespace velmora::e2e
