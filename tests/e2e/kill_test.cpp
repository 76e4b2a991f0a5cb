// Kills the updater at random moments of its run and checks that no installed file is ever lost.
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <iostream>
#include <random>
#include <set>
#include <thread>

#include "e2e/e2e_fixture.h"
#include "e2e/tool_run.h"
#include "platform/encoding.h"
#include "layout/own_files.h"

namespace velmora::e2e {
namespace {

constexpr int kTrials = 200;
// Fixed, so that a failing trial can be repeated.
constexpr unsigned kSeed = 20261209;
// Slower builds (sanitizers) run fewer trials rather than time out.
constexpr double kBudgetSeconds = 330;

// VELMORA_KILL_TRIALS runs more trials, with the time budget grown alike.
int Trials() {
  const char* text = std::getenv("VELMORA_KILL_TRIALS");
  const int trials = text == nullptr ? 0 : std::atoi(text);
  return trials > 0 ? trials : kTrials;
}

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Numbered(const char* pattern, int i) {
  char name[32];
  std::snprintf(name, sizeof(name), pattern, i);
  return name;
}

// The updater's own files, the host's record and the folders a run keeps
// for itself: not part of what a release installs.
bool IsOwnName(const std::string& name) {
  for (const char* own : {"Velmora", "Host", "host-started.log", "host.pid", "host.cwd", "UpdateList.xml"}) {
    if (name == own) return true;
  }
  // What the updater keeps beside its list; never a temporary of a save.
  for (const char16_t* own : {layout::kValidatorsName, layout::kLockName, layout::kStatusName}) {
    if (name == platform::WideToUtf8(own)) return true;
  }
  for (const char* folder : {"log/", "temp/", ".RECYCLER/", ".packages/"}) {
    if (name.rfind(folder, 0) == 0) return true;
  }
  return false;
}

class KillDuringRun : public UpdaterTest {
 protected:
  // Version 1 has 150 plain files and a package folder of 100 files that the
  // new package replaces, one that it drops, a folder it drops and a folder
  // it turns into a file. The release, built by velmora-release against
  // version 1's, has the 150 files changed in a few bytes each (so that they
  // come as patches) and a package of 301 entries.
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(UpdaterTest::SetUp());
    for (int i = 0; i < 150; ++i) {
      const std::string name = Numbered("data/f%03d.bin", i);
      oldFiles_[name] = Bytes(2048, 9000 + static_cast<unsigned>(i));
      newFiles_[name] = oldFiles_[name];
      newFiles_[name].replace(100, 16, Bytes(16, 1000 + static_cast<unsigned>(i)));
    }
    for (int i = 0; i < 300; ++i) {
      const std::string name = Numbered("skin/e%03d.bin", i);
      newFiles_[name] = Bytes(1024, 5000 + static_cast<unsigned>(i));
      if (i < 100) oldFiles_[name] = Bytes(512, 7000 + static_cast<unsigned>(i));
    }
    oldFiles_["skin/old.txt"] = "dropped by the new package";
    oldFiles_["skin/gone/a.txt"] = "in a folder the new package drops";
    oldFiles_["skin/conf/x.ini"] = "in a folder the new package makes a file of";
    newFiles_["skin/conf"] = "now a file";
    BuildRelease("1.0", oldFiles_, root_ + "/release1", "");
    BuildRelease("2.0", newFiles_, release_, root_ + "/release1/UpdateList.xml");
    for (const Attributes& file : ReadFileElements(ReadFile(Release("UpdateList.xml")))) {
      releaseVersions_[AttributeValue(file, "Name")] = AttributeValue(file, "Ver");
    }
    ASSERT_NE(ReadFile(Release("UpdateList.xml")).find("<Patch "), std::string::npos) << "a release with patches";
    StartServer();
  }

  // Writes `files` and the host as an application folder and builds it.
  void BuildRelease(const std::string& version, const std::map<std::string, std::string>& files,
                    const std::string& out, const std::string& previous) {
    const std::string from = out + "-app";
    for (const auto& [name, content] : files) ASSERT_TRUE(WriteFile(from + "/" + name, content));
    ASSERT_TRUE(CopyFile(TEST_HOST_BINARY, from + "/Host"));
    std::vector<std::string> arguments{"build", "--from", from, "--version", version, "--entry-point", "Host",
                                       "--package", "skin", "--zstd-level", "3", "--out", out};
    if (!previous.empty()) arguments.insert(arguments.end(), {"--previous", previous});
    std::string output;
    ASSERT_TRUE(RunTool(RELEASE_TOOL_BINARY, arguments, root_, &output)) << output;
  }

  void TearDown() override {
    trashDone_ = true;
    if (trashRemover_.joinable()) trashRemover_.join();
    UpdaterTest::TearDown();
  }

  // Unlinking a run's thousand files takes seconds on some disks (online
  // discard), so the folders a trial leaves are moved aside and removed while
  // the next trial runs.
  void InstallVersion1() {
    EndProcessesRunningFrom(app_);
    if (!trashRemover_.joinable()) {
      ::mkdir((root_ + "/trash").c_str(), 0755);
      trashRemover_ = std::thread([this] {
        for (int next = 0; !trashDone_;) {
          if (next < trashMade_) {
            RemoveTree(root_ + "/trash/" + std::to_string(next++));
          } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
          }
        }
      });
    }
    const std::string trash = root_ + "/trash/" + std::to_string(trashMade_) + "/";
    ::mkdir(trash.c_str(), 0755);
    for (const char* leftover : {"data", "skin", "temp", ".RECYCLER", ".packages"}) {
      ::rename(App(leftover).c_str(), (trash + leftover).c_str());
    }
    ++trashMade_;
    RemoveTree(App(platform::WideToUtf8(layout::kValidatorsName)));
    for (const char* leftover : {"log", "UpdateList.xml", "host-started.log", "host.pid", "host.cwd"}) {
      RemoveTree(App(leftover));
    }
    for (const auto& [name, content] : oldFiles_) ASSERT_TRUE(WriteFile(App(name), content));
    ASSERT_TRUE(CopyFile(root_ + "/release1/UpdateList.xml", App("UpdateList.xml")));
  }

  // Host id 0 stops nothing: the hosts a run starts end with the next reset.
  pid_t StartRun() { return StartUpdater({"start", nginx_.BaseUrl(), "0"}); }

  // Every file of version 1 is still there, in its old or its new content;
  // those the package drops may have been retired. The list is whole, old or
  // new.
  void ExpectNothingLost() const {
    EXPECT_EQ(RecordedVersions().size(), releaseVersions_.size());
    for (const auto& [name, content] : oldFiles_) {
      const std::string now = ReadFile(App(name));
      const auto released = newFiles_.find(name);
      if (released == newFiles_.end()) {
        EXPECT_TRUE(now == content || RetiredCopy(name) == content) << name << " was lost";
      } else {
        EXPECT_TRUE(now == content || now == released->second) << name << " is missing or damaged";
      }
    }
  }

  // The installation holds exactly the release, and the list records it.
  void ExpectTheRelease() const {
    std::vector<std::string> wrong;
    std::set<std::string> seen;
    for (const std::string& name : ListFiles(app_)) {
      if (IsOwnName(name)) continue;
      seen.insert(name);
      const auto released = newFiles_.find(name);
      if (released == newFiles_.end() || ReadFile(App(name)) != released->second) wrong.push_back(name);
    }
    for (const auto& [name, content] : newFiles_) {
      if (seen.count(name) == 0) wrong.push_back(name);
    }
    EXPECT_EQ(wrong, std::vector<std::string>{}) << "files that differ from the release";
    EXPECT_EQ(RecordedVersions(), releaseVersions_);
  }

  std::map<std::string, std::string> oldFiles_;  // relative path -> content
  std::map<std::string, std::string> newFiles_;
  std::map<std::string, std::string> releaseVersions_;  // list name -> version
  std::thread trashRemover_;
  std::atomic<bool> trashDone_{false};
  std::atomic<int> trashMade_{0};
};

TEST_F(KillDuringRun, NoInstalledFileIsLostAndTheNextRunInstallsTheRelease) {
  // The first run warms the caches and shows that a run installs the
  // release; the second is timed.
  Clock::time_point start;
  for (int run = 0; run < 2; ++run) {
    ASSERT_NO_FATAL_FAILURE(InstallVersion1());
    start = Clock::now();
    ASSERT_TRUE(WaitForChild(StartRun(), 60).ended);
  }
  const double fullRun = SecondsSince(start);
  ASSERT_NO_FATAL_FAILURE(ExpectTheRelease());

  // Uniform over a whole run: the kill lands in the list download,
  // downloading, staging, placing or saving.
  std::mt19937 random(kSeed);
  std::uniform_real_distribution<double> draw(0.0, fullRun);
  std::cout << "kill test: seed " << kSeed << ", a full run takes " << fullRun * 1000 << " ms\n";
  start = Clock::now();
  int trial = 0, killed = 0;
  const int trials = Trials();
  for (; trial < trials && SecondsSince(start) < kBudgetSeconds * trials / kTrials; ++trial) {
    const double delay = draw(random);
    SCOPED_TRACE("trial " + std::to_string(trial) + ", kill after " + std::to_string(delay * 1000) + " ms");
    ASSERT_NO_FATAL_FAILURE(InstallVersion1());
    const pid_t updater = StartRun();
    std::this_thread::sleep_for(std::chrono::duration<double>(delay));
    ::kill(updater, SIGKILL);
    const ExitStatus status = WaitForChild(updater, 10);
    ASSERT_TRUE(status.ended);
    if (status.signal == SIGKILL) ++killed;
    ExpectNothingLost();

    const ExitStatus again = WaitForChild(StartRun(), 60);
    EXPECT_TRUE(again.exited && again.code == 0);
    ExpectTheRelease();
    if (HasFailure()) break;  // one trial's details are enough
  }
  std::cout << "kill test: " << trial << " trials (" << killed << " killed before the end) in "
            << SecondsSince(start) << " s\n";
}

}  // namespace
}  // namespace velmora::e2e
