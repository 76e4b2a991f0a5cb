// End-to-end tests of runs that fail: the installation stays byte for byte as it was and the host runs on.
#include <functional>

#include "diagnostics/messages.h"
#include "e2e/e2e_fixture.h"

namespace velmora::e2e {
namespace {

namespace msg = velmora::diagnostics;

class FailedRun : public UpdaterTest {
 protected:
  std::string HostId() const { return std::to_string(hostPid_); }
};

TEST_F(FailedRun, LeavesTheInstallationAsItWasAndTheHostRunning) {
  StartServer("        location = /away.dll { return 302 http://127.0.0.1:" + std::to_string(UnusedPort()) +
              "/x; }\n");
  const ReleaseFile a{"a.dll", "2.0", Bytes(150, 2)}, b{"lib/b.dll", "2.0", Bytes(150, 3)};
  const ReleaseFile c{"c.dll", "2.0", Bytes(150, 4)};
  const std::string zip = MakeZip({{"main.css", "new"}});
  // lib/b.dll cannot be placed, as root too: a file the updater never
  // installed stands where its folder would go.
  const auto blockB = [&] { ASSERT_TRUE(WriteFile(App("lib"), "in the way")); };
  // The list is written beside itself and then renamed: a folder that is not
  // empty under the temporary name makes the save fail.
  const auto blockSave = [&] { ASSERT_TRUE(WriteFile(App("UpdateList.xml.tmp/inside.txt"), "in the way")); };

  struct Case {
    std::string what;
    std::vector<ReleaseFile> release;
    std::function<void()> arrange;  // runs once the release is published
    std::vector<std::string> errors;
    std::string outcome;  // in the status file
  };
  const std::string download = msg::kDownloadFailedPrefix;
  const std::vector<Case> cases = {
      {"a missing file without a size", {a, {"gone.dll", "2.0", "x", "-"}},
       [&] { RemoveTree(Release("gone.dll")); }, {download + "gone.dll"}, "download-failed"},
      {"a file announced as empty that is not", {a, {"empty.dll", "2.0", "x", "0"}}, nullptr,
       {msg::kSizeCheckPrefix + std::string("0") + msg::kSizeCheckSuffix}, "size-mismatch"},
      {"a redirect to a closed port", {a, {"away.dll", "2.0", "x"}}, nullptr, {download + "away.dll"}, "download-failed"},
      {"a package without a name", {a, {".zip", "2.0", zip}}, nullptr, {msg::kListParseFailed}, "list-invalid"},
      {"a package named like the download folder", {a, {"temp.zip", "2.0", zip}}, nullptr,
       {msg::kListParseFailed}, "list-invalid"},
      {"a corrupt package", {a, {"skin.zip", "2.0", Bytes(2048, 5)}}, nullptr,
       {msg::kUnpackFailedPrefix + App("skin.zip")}, "unpack-failed"},
      {"the second of three files blocked", {a, b, c}, blockB,
       {msg::kReplaceFailedPrefix + App("lib/b.dll"), msg::kRunRolledBack}, "rolled-back"},
      {"the list cannot be saved", {a, {"skin.zip", "2.0", zip}}, blockSave,
       {msg::kSaveFailed, msg::kRunRolledBack}, "rolled-back"},
      {"the list cannot be saved after a self-update",
       {{"Velmora", "2.0", ReadFile(VELMORA_BINARY) + "tail"}}, blockSave,
       {msg::kSaveFailed, msg::kRunRolledBack}, "rolled-back"},
  };
  for (const Case& failure : cases) {
    SCOPED_TRACE(failure.what);
    if (hostPid_ > 0) KillChild(hostPid_);
    for (const char* leftover : {"a.dll", "b.dll", "lib", "c.dll", "skin", ".RECYCLER", "temp", "log",
                                 "UpdateList.xml.tmp", "host-started.log"}) {
      RemoveTree(App(leftover));
    }
    ASSERT_TRUE(CopyFile(VELMORA_BINARY, App("Velmora")));
    for (const char* name : {"a.dll", "b.dll", "c.dll", "skin/old.txt", "skin/sub/old.txt"}) {
      ASSERT_TRUE(WriteFile(App(name), name));
    }
    WriteLocalList("1.0", {{"1.0", "Velmora", ""}, {"1.0", "a.dll", ""}, {"1.0", "b.dll", ""},
                           {"1.0", "c.dll", ""}, {"1.0", "skin.zip", ""}});
    Publish("2.0", failure.release);
    if (failure.arrange) {
      ASSERT_NO_FATAL_FAILURE(failure.arrange());
    }
    StartHost();

    const Snapshot before = TakeSnapshot();
    const ExitStatus status = RunUpdate(HostId());
    EXPECT_TRUE(status.exited && status.code == 0);
    ExpectFailedRun(before, failure.errors);
    EXPECT_EQ(Status("Outcome"), failure.outcome);
  }
}

TEST_F(FailedRun, HostThatCannotStartIsLoggedAndTheUpdateNotCalledFinished) {
  const std::string a2 = Bytes(100, 7);
  WriteLocalList("1.0", {});
  Publish("2.0", {{"a.dll", "2.0", a2}}, "Missing");
  StartServer();
  StartHost();

  const ExitStatus status = RunUpdate(HostId());
  EXPECT_TRUE(status.exited && status.code == 0);
  const std::vector<LogLine> log = Log();
  std::vector<std::string> errors = MessagesAt(log, "ERROR");
  for (std::string& error : errors) error = NormalizeSlashes(error);
  EXPECT_EQ(errors, std::vector<std::string>{msg::kStartFailedPrefix + App("Missing")}) << DescribeLog(log);
  EXPECT_EQ(CountMessage(log, msg::kUpdateFinished), 0);
  // The files were in place and recorded before the host was stopped.
  EXPECT_EQ(ReadFile(App("a.dll")), a2);
  EXPECT_EQ(RecordedVersions(), (std::map<std::string, std::string>{{"a.dll", "2.0"}}));
}

TEST_F(FailedRun, MalformedLocalEntryCountsAsNotInstalledAndTheListKeepsOneElementPerName) {
  ASSERT_TRUE(WriteFile(App("a.dll"), "a1"));
  ASSERT_TRUE(WriteFile(App("b.dll"), "b1"));
  WriteLocalList("1.0", {{"1.0", "a.dll", ""}, {"1.0", "b.dll", "not a size"}});
  StartServer();
  const std::vector<std::vector<ReleaseFile>> releases = {
      {{"a.dll", "1.0", "a1"}, {"b.dll", "1.0", "b2"}},
      {{"a.dll", "2.0", "a3"}, {"b.dll", "1.0", "b2"}, {"c.dll", "2.0", "c3"}},
      {{"a.dll", "2.0", "a3"}, {"b.dll", "3.0", "b4"}, {"c.dll", "3.0", "c4"}},
  };
  for (std::size_t run = 0; run < releases.size(); ++run) {
    const std::vector<ReleaseFile>& release = releases[run];
    Publish(std::to_string(run + 2) + ".0", release);
    RemoveTree(App("log"));
    // Host id 0 stops nothing; the started hosts end with the test.
    const ExitStatus status = RunUpdate("0");
    EXPECT_TRUE(status.exited && status.code == 0);
    EXPECT_EQ(CountMessage(Log(), msg::kUpdateFinished), 1) << DescribeLog(Log());
    std::map<std::string, std::string> expected;
    for (const ReleaseFile& file : release) {
      EXPECT_EQ(ReadFile(App(file.key)), file.content) << file.key;
      expected[file.key] = file.version;
    }
    EXPECT_EQ(RecordedVersions(), expected);
    EXPECT_EQ(ReadFileElements(ReadFile(App("UpdateList.xml"))).size(), release.size());
  }
}

}  // namespace
}  // namespace velmora::e2e
