// End-to-end tests of the self-update: the updater replaces itself, restarts, and the new one finishes the run.
#include <sys/stat.h>

#include "diagnostics/messages.h"
#include "e2e/e2e_fixture.h"

namespace velmora::e2e {
namespace {

namespace msg = velmora::diagnostics;

class SelfUpdate : public UpdaterTest {
 protected:
  // Runs the updater and checks that the self-update began, fetched its file
  // and then ended with the given error.
  void ExpectSelfUpdateEndsWith(const char* error) {
    const ExitStatus status = RunUpdate(std::to_string(hostPid_));
    EXPECT_TRUE(status.exited && status.code == 0);
    const std::vector<LogLine> log = Log();
    ASSERT_EQ(log.size(), 3u) << DescribeLog(log);
    EXPECT_EQ(log[0].message, msg::kSelfUpdateStarted);
    EXPECT_EQ(log[1].message, msg::kSelfDownloadFinished);
    EXPECT_EQ(log[2].level, "ERROR");
    EXPECT_EQ(log[2].message, error);
  }

  // Waits until the log ends a run and no updater runs from the installation.
  bool WaitForRestartedRun(double seconds) {
    return WaitUntil([&] {
      if (CountMessage(Log(), msg::kUpdateFinished) == 0) return false;
      for (pid_t pid : ProcessesRunningFrom(app_)) {
        if (ExecutableOf(pid) != App("Host")) return false;
      }
      return true;
    }, seconds);
  }
};

TEST_F(SelfUpdate, ReplacesItselfAndTheRestartedUpdaterFinishesTheOtherFiles) {
  const std::string original = ReadFile(App("Velmora"));
  // Bytes after the end of an executable change its size, not its behaviour.
  const std::string released = original + std::string(4096, '\x5A');
  const std::string a1 = Bytes(100, 61), a2 = Bytes(120, 62);
  ASSERT_TRUE(WriteFile(App("a.dll"), a1));
  WriteLocalList("1.0", {{"1.0", "Velmora", ""}, {"1.0", "a.dll", ""}});
  Publish("2.0", {{"Velmora", "2.0", released}, {"a.dll", "2.0", a2}});
  StartServer();
  StartHost();

  const ExitStatus status = RunUpdate(std::to_string(hostPid_));
  EXPECT_TRUE(status.exited && status.code == 0);
  ASSERT_TRUE(WaitForRestartedRun(60)) << DescribeLog(Log());

  const std::vector<LogLine> log = Log();
  ASSERT_EQ(log.size(), 7u) << DescribeLog(log);
  const std::vector<std::string> selfUpdate = {msg::kSelfUpdateStarted, msg::kSelfDownloadFinished,
                                               msg::kSelfReplaced, msg::kSelfVersionRecorded,
                                               msg::kSelfRestarted};
  for (std::size_t i = 0; i < selfUpdate.size(); ++i) {
    EXPECT_EQ(log[i].level, "INFO") << i;
    EXPECT_EQ(log[i].message, selfUpdate[i]) << DescribeLog(log);
  }
  // The restarted updater got the host's id, and stops it.
  EXPECT_EQ(NormalizeSlashes(log[5].message), App("Host"));
  EXPECT_EQ(log[6].message, msg::kUpdateFinished);

  EXPECT_EQ(ReadFile(App("Velmora")), released);
  // The restarted run completed last: its copies are the ones kept.
  EXPECT_EQ(RetiredCopy("a.dll"), a1);
  struct stat info;
  ASSERT_EQ(::stat(App("Velmora").c_str(), &info), 0);
  EXPECT_NE(info.st_mode & 0100, 0u) << "the new updater must stay executable";
  EXPECT_EQ(ReadFile(App("a.dll")), a2);
  EXPECT_FALSE(Exists(App("temp")));
  // The first run fetched only the updater; the restarted one the rest.
  EXPECT_EQ(nginx_.RequestedUris(),
            (std::vector<std::string>{"/UpdateList.xml", "/Velmora", "/UpdateList.xml", "/a.dll"}));
  for (const Attributes& file : ReadFileElements(ReadFile(App("UpdateList.xml")))) {
    EXPECT_EQ(AttributeValue(file, "Ver"), "2.0") << AttributeValue(file, "Name");
  }
  EXPECT_EQ(ReadFileElements(ReadFile(App("UpdateList.xml"))).size(), 2u);

  // The host was stopped once, and one host runs at the end.
  ASSERT_TRUE(WaitForHostStarts(2));
  EXPECT_EQ(HostStarts().size(), 2u);
  EXPECT_FALSE(IsAlive(hostPid_));
  EXPECT_TRUE(IsAlive(HostStarts()[1]));
}

TEST_F(SelfUpdate, RestartPassesABaseUrlWithAQuoteUnchanged) {
  StartServer();
  // The release lies in a folder whose name holds a double quote, which the
  // restart command line must quote to hand it on as one argument.
  release_ += "/rel\"ease";
  const std::string base = nginx_.BaseUrl() + "rel\"ease/";
  const std::string original = ReadFile(App("Velmora"));
  const std::string a2 = Bytes(80, 81);
  WriteLocalList("1.0", {{"1.0", "Velmora", ""}});
  Publish("2.0", {{"Velmora", "2.0", original + "tail"}, {"a.dll", "2.0", a2}});
  StartHost();

  const ExitStatus status = RunUpdater({"start", base, std::to_string(hostPid_)});
  EXPECT_TRUE(status.exited && status.code == 0);
  ASSERT_TRUE(WaitForRestartedRun(60)) << DescribeLog(Log());
  EXPECT_EQ(CountMessage(Log(), msg::kWrongArgumentCount), 0);
  EXPECT_EQ(CountMessage(Log(), msg::kSelfRestarted), 1);
  EXPECT_EQ(ReadFile(App("a.dll")), a2);
  EXPECT_EQ(ReadFile(App("Velmora")), original + "tail");
}

TEST_F(SelfUpdate, FailedReplacementOfTheUpdaterRecordsNothingAndDoesNotRestart) {
  const std::string original = ReadFile(App("Velmora"));
  const std::string a1 = Bytes(50, 91);
  ASSERT_TRUE(WriteFile(App("a.dll"), a1));
  // The running updater cannot be moved aside where no folder can be made.
  ASSERT_TRUE(WriteFile(App(".RECYCLER"), "a file where the retire folder goes"));
  WriteLocalList("1.0", {{"1.0", "Velmora", ""}, {"1.0", "a.dll", ""}});
  const std::string localList = ReadFile(App("UpdateList.xml"));
  Publish("2.0", {{"Velmora", "2.0", original + "tail"}, {"a.dll", "2.0", Bytes(60, 92)}});
  StartServer();
  StartHost();

  ASSERT_NO_FATAL_FAILURE(ExpectSelfUpdateEndsWith(msg::kSelfReplaceFailed));
  EXPECT_EQ(ReadFile(App("Velmora")), original);
  EXPECT_EQ(ReadFile(App("a.dll")), a1);
  EXPECT_EQ(ReadFile(App("UpdateList.xml")), localList);
  EXPECT_FALSE(WaitUntil([&] { return AnUpdaterRuns(); }, 0.5)) << "no new updater may start";
  EXPECT_TRUE(IsAlive(hostPid_));
  EXPECT_EQ(HostStarts().size(), 1u);
}

TEST_F(SelfUpdate, WrongSizeOfTheNewUpdaterEndsTheRunWithoutRestart) {
  const std::string original = ReadFile(App("Velmora"));
  WriteLocalList("1.0", {{"1.0", "Velmora", ""}});
  Publish("2.0", {{"Velmora", "2.0", original + "tail", std::to_string(original.size())}});
  StartServer();
  StartHost();

  ASSERT_NO_FATAL_FAILURE(ExpectSelfUpdateEndsWith(msg::kSelfSizeCheckFailed));
  EXPECT_EQ(ReadFile(App("Velmora")), original);
  EXPECT_EQ(ReadFileElements(ReadFile(App("UpdateList.xml")))[0],
            (Attributes{{"Ver", "1.0"}, {"Name", "Velmora"}}));
  EXPECT_TRUE(IsAlive(hostPid_));
  EXPECT_FALSE(WaitForHostStarts(2, 0.5));
  EXPECT_FALSE(AnUpdaterRuns());
}

}  // namespace
}  // namespace velmora::e2e
