// End-to-end tests of the concurrent downloads of a run and of the conditional list fetch.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "diagnostics/messages.h"
#include "e2e/refused_run.h"

namespace velmora::e2e {
namespace {

namespace msg = velmora::diagnostics;

constexpr int kFiles = 40;

std::string FileName(int i) {
  char name[16];
  std::snprintf(name, sizeof(name), "f%02d.dll", i);
  return name;
}
std::string Released(int i) { return Bytes(50000 + i, 100 + i); }

class ConcurrentDownload : public RefusedRunTest {
 protected:
  // Installs kFiles files at 1.0 and releases each of them changed, at 2.0.
  void InstallAndRelease() {
    std::vector<ListFile> installed;
    std::vector<ReleaseFile> released;
    for (int i = 0; i < kFiles; ++i) {
      ASSERT_TRUE(WriteFile(App(FileName(i)), Bytes(1000, i)));
      installed.push_back({"1.0", FileName(i), ""});
      released.push_back({FileName(i), "2.0", Released(i)});
    }
    WriteLocalList("1.0", installed);
    Publish("2.0", released);
  }
};

TEST_F(ConcurrentDownload, OneMissingFileFailsTheRunBeforeAnythingIsPlaced) {
  InstallAndRelease();
  RemoveTree(Release(FileName(17)));
  StartServer();
  StartHost();
  ExpectRefusedRun({msg::kDownloadFailedPrefix + FileName(17)}, hostPid_);
}

TEST_F(ConcurrentDownload, AStalledConnectionIsAbandonedWhileTheOthersFinish) {
  InstallAndRelease();
  // The first file in list order goes to a server that never answers.
  StallingListener stalling;
  ASSERT_GT(stalling.Port(), 0);
  StartServer("location = /" + FileName(0) + " { proxy_pass " + stalling.BaseUrl() + "; }\n");
  StartHost();
  const ScopedEnvironment lowSpeed("VELMORA_LOW_SPEED_SECONDS", "2");

  const auto start = std::chrono::steady_clock::now();
  ExpectRefusedRun({msg::kDownloadFailedPrefix + FileName(0)}, hostPid_);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(stalling.WaitForConnection(1)) << "the request never reached the stalling server";
  EXPECT_GE(seconds, 2.0) << "the run must have waited for the stall window";
  EXPECT_LT(seconds, 15.0);
  EXPECT_FALSE(Exists(App("temp"))) << "a failed run leaves no download behind";
}

// A second run after a completed one, against the same release.
struct ConditionalCase {
  const char* name;
  bool serverIgnoresConditions;  // nginx with if_modified_since and etag off
  bool restoreOlderLocalList;    // the local list of before the first run is put back
  const char* listStatus;        // how nginx answers the second fetch of the list
  std::size_t logLines;          // of the second run
  const char* lastMessage;
};

// Shown in test listings instead of the case's bytes.
void PrintTo(const ConditionalCase& c, std::ostream* out) { *out << c.name; }

class ConditionalFetch : public UpdaterTest, public ::testing::WithParamInterface<ConditionalCase> {
 protected:
  // The statuses nginx answered the list with, in order, from a log in the
  // "combined" format: ... "GET /UpdateList.xml HTTP/1.1" 304 0 ...
  std::vector<std::string> ListStatuses() const {
    std::vector<std::string> statuses;
    std::istringstream in(ReadFile(root_ + "/nginx/list.log"));
    for (std::string line; std::getline(in, line);) {
      const std::size_t end = line.find("\" ");
      statuses.push_back(end == std::string::npos ? line : line.substr(end + 2, 3));
    }
    return statuses;
  }
};

TEST_P(ConditionalFetch, SecondRunAfterACompletedOne) {
  const ConditionalCase& c = GetParam();
  ASSERT_TRUE(WriteFile(App("a.dll"), "one"));
  WriteLocalList("1.0", {{"1.0", "a.dll", ""}});
  const std::string olderList = ReadFile(App("UpdateList.xml"));
  Publish("2.0", {{"a.dll", "2.0", "two"}});
  // Validators of a list served within the second it changed are not kept.
  std::filesystem::last_write_time(Release("UpdateList.xml"),
                                   std::filesystem::file_time_type::clock::now() - std::chrono::minutes(1));
  const std::string logs = root_ + "/nginx/";
  StartServer("location = /UpdateList.xml {\n access_log " + logs + "access.log e2e;\n access_log " + logs +
              "list.log combined;\n" + (c.serverIgnoresConditions ? " if_modified_since off;\n etag off;\n" : "") +
              "}\n");
  StartHost();
  EXPECT_TRUE(RunUpdate(std::to_string(hostPid_)).exited);
  ASSERT_EQ(CountMessage(Log(), msg::kUpdateFinished), 1) << DescribeLog(Log());
  ASSERT_TRUE(WaitForHostStarts(2));
  if (c.restoreOlderLocalList) {
    ASSERT_TRUE(WriteFile(App("UpdateList.xml"), olderList));
  }
  RemoveTree(App("log"));

  EXPECT_TRUE(RunUpdate(std::to_string(HostStarts()[1])).exited);
  const std::vector<LogLine> log = ReadLog(app_);
  ASSERT_EQ(log.size(), c.logLines) << DescribeLog(log);
  EXPECT_EQ(log.back().message, c.lastMessage) << DescribeLog(log);
  // The notice about the key follows only a list that arrived.
  EXPECT_EQ(CountMessage(log, msg::kNoUpdateKey), std::string(c.listStatus) == "200" ? 1 : 0);
  // nginx logs a request once its answer is sent: the updater may be faster.
  WaitUntil([&] { return ListStatuses().size() >= 2; }, 5);
  EXPECT_EQ(ListStatuses(), (std::vector<std::string>{"200", c.listStatus}));
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ConditionalFetch,
    ::testing::Values(ConditionalCase{"UnchangedReleaseAnswers304", false, false, "304", 1, msg::kNoUpdateNeeded},
                      ConditionalCase{"ServerIgnoringConditionsSends200", true, false, "200", 2, msg::kNothingToUpdate},
                      ConditionalCase{"RestoredOlderLocalListIsFetchedInFull", false, true, "200", 3,
                                      msg::kUpdateFinished}),
    [](const ::testing::TestParamInfo<ConditionalCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmora::e2e
