// Checks shared by the end-to-end tests of runs that must end without touching the installation.
#pragma once

#include <stdlib.h>

#include <map>
#include <string>
#include <vector>

#include "e2e/e2e_fixture.h"

namespace velmora::e2e {

// Sets an environment variable for the updaters started while it lives.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) { ::setenv(name, value, 1); }
  ~ScopedEnvironment() { ::unsetenv(name_); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* name_;
};

class RefusedRunTest : public UpdaterTest {
 protected:
  // Runs the updater for the running host `host` and checks a refused run:
  // its log (less the no-key notice) is exactly `expected`, ending in an
  // ERROR; no file changed; the host runs on, was not started again, and no
  // updater was started either.
  void ExpectRefusedRun(const std::vector<std::string>& expected, pid_t host) {
    RemoveTree(App("log"));
    const Snapshot before = TakeSnapshot();
    const std::size_t starts = HostStarts().size();
    // The updater's lock is one per machine; other programs may hold it for a while.
    const ExitStatus status = RunUpdate(std::to_string(host));
    EXPECT_TRUE(status.exited && status.code == 0);
    const std::vector<LogLine> log = Log();
    std::vector<std::string> messages;
    for (const LogLine& line : log) messages.push_back(line.message);
    EXPECT_EQ(messages, expected) << DescribeLog(log);
    EXPECT_TRUE(!log.empty() && log.back().level == "ERROR");
    EXPECT_EQ(ChangedFiles(before), std::vector<std::string>{}) << "the installation changed";
    EXPECT_TRUE(IsAlive(host));
    EXPECT_FALSE(WaitForHostStarts(starts + 1, 0.3)) << "the host was started again";
    for (pid_t pid : ProcessesRunningFrom(app_)) EXPECT_EQ(ExecutableOf(pid), App("Host"));
  }
};

}  // namespace velmora::e2e
