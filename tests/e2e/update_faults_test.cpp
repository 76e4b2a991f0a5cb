// End-to-end tests of an update run that meets faults: wrong sizes and packages.
#include <map>

#include "diagnostics/messages.h"
#include "e2e/e2e_fixture.h"

namespace velmora::e2e {
namespace {

namespace msg = velmora::diagnostics;

class UpdateFaults : public UpdaterTest {
 protected:
  std::string HostId() const { return std::to_string(hostPid_); }

  std::vector<std::string> Levels() const {
    std::vector<std::string> levels;
    for (const LogLine& line : Log()) levels.push_back(line.level);
    return levels;
  }
};

TEST_F(UpdateFaults, SizeMismatchOnTheSecondOfThreeFilesReplacesNothing) {
  const std::string a1 = Bytes(100, 1), b1 = Bytes(100, 2), c1 = Bytes(100, 3);
  ASSERT_TRUE(WriteFile(App("a.dll"), a1));
  ASSERT_TRUE(WriteFile(App("b.dll"), b1));
  ASSERT_TRUE(WriteFile(App("c.dll"), c1));
  WriteLocalList("1.0", {{"1.0", "a.dll", "100"}, {"1.0", "b.dll", "100"}, {"1.0", "c.dll", "100"}});
  const std::string localList = ReadFile(App("UpdateList.xml"));
  const std::string a2 = Bytes(200, 11), b2 = Bytes(200, 12), c2 = Bytes(200, 13);
  Publish("2.0", {{"a.dll", "2.0", a2}, {"b.dll", "2.0", b2, "201"}, {"c.dll", "2.0", c2}});
  StartServer();
  StartHost();

  const ExitStatus status = RunUpdate(HostId());
  EXPECT_TRUE(status.exited && status.code == 0);
  const std::vector<LogLine> log = Log();
  ASSERT_EQ(log.size(), 1u) << DescribeLog(log);
  EXPECT_EQ(log[0].level, "ERROR");
  EXPECT_EQ(log[0].message, std::string(msg::kSizeCheckPrefix) + "201" + msg::kSizeCheckSuffix);

  EXPECT_EQ(ReadFile(App("a.dll")), a1);
  EXPECT_EQ(ReadFile(App("b.dll")), b1);
  EXPECT_EQ(ReadFile(App("c.dll")), c1);
  EXPECT_EQ(ReadFile(App("UpdateList.xml")), localList);
  EXPECT_FALSE(Exists(App(".RECYCLER")));
  // Nothing of the failed run stays behind.
  EXPECT_FALSE(Exists(App("temp")));
  EXPECT_TRUE(IsAlive(hostPid_));
  EXPECT_FALSE(WaitForHostStarts(2, 0.3));
}

TEST_F(UpdateFaults, PackageWithoutFolderIsUnpackedIntoANewFolder) {
  WriteLocalList("1.0", {{"1.0", "skin.zip", ""}});
  const std::string zip = MakeZip({{"a.txt", "alpha"}, {"sub/", ""}, {"sub/b.txt", "beta"}});
  Publish("2.0", {{"skin.zip", "2.0", zip}});
  StartServer();
  StartHost();

  const ExitStatus status = RunUpdate(HostId());
  EXPECT_TRUE(status.exited && status.code == 0);
  EXPECT_EQ(Levels(), (std::vector<std::string>{"INFO", "INFO"})) << DescribeLog(Log());
  EXPECT_EQ(Log().back().message, msg::kUpdateFinished);
  EXPECT_EQ(ListFiles(App("skin")), (std::vector<std::string>{"a.txt", "sub/b.txt"}));
  EXPECT_EQ(ReadFile(App("skin/sub/b.txt")), "beta");
  EXPECT_FALSE(Exists(App("skin.zip")));
  EXPECT_EQ(RecordedVersions()["skin.zip"], "2.0");
}

TEST_F(UpdateFaults, BrokenPackageFailsTheRunBeforeAnyPlacementAndTheNextRunInstallsEverything) {
  ASSERT_TRUE(WriteFile(App("a.dll"), Bytes(100, 41)));
  ASSERT_TRUE(WriteFile(App("skin/old.txt"), "old"));
  // b.dll is a folder the release makes a file of.
  ASSERT_TRUE(WriteFile(App("b.dll/inside.txt"), "in the way"));
  WriteLocalList("1.0", {{"1.0", "a.dll", ""}, {"1.0", "b.dll", ""}, {"1.0", "skin.zip", ""}});
  const std::string a2 = Bytes(150, 51), b2 = Bytes(150, 52);
  Publish("2.0", {{"a.dll", "2.0", a2}, {"b.dll", "2.0", b2}, {"skin.zip", "2.0", Bytes(2048, 54)}});
  StartServer();
  StartHost();

  // The package is unpacked before anything is placed, so b.dll is never
  // reached.
  const Snapshot before = TakeSnapshot();
  const ExitStatus status = RunUpdate(HostId());
  EXPECT_TRUE(status.exited && status.code == 0);
  ExpectFailedRun(before, {msg::kUnpackFailedPrefix + App("skin.zip")});

  // Nothing was recorded, so the next run fetches every file again, and
  // sets the folder b.dll aside whole.
  Publish("2.0", {{"a.dll", "2.0", a2}, {"b.dll", "2.0", b2},
                  {"skin.zip", "2.0", MakeZip({{"skin.txt", "fine"}})}});
  RemoveTree(App("log"));
  const std::size_t requestsBefore = nginx_.RequestedUris().size();
  const ExitStatus again = RunUpdate(HostId());
  EXPECT_TRUE(again.exited && again.code == 0);
  EXPECT_EQ(Log().back().message, msg::kUpdateFinished) << DescribeLog(Log());
  const std::vector<std::string> uris = nginx_.RequestedUris();
  EXPECT_EQ(std::vector<std::string>(uris.begin() + static_cast<long>(requestsBefore), uris.end()),
            (std::vector<std::string>{"/UpdateList.xml", "/a.dll", "/b.dll", "/skin.zip"}));
  EXPECT_EQ(ReadFile(App("a.dll")), a2);
  EXPECT_EQ(ReadFile(App("b.dll")), b2);
  EXPECT_EQ(RetiredCopy("b.dll/inside.txt"), "in the way");
  EXPECT_EQ(ListFiles(App("skin")), std::vector<std::string>{"skin.txt"});
  for (const auto& [name, version] : RecordedVersions()) EXPECT_EQ(version, "2.0") << name;
}

TEST_F(UpdateFaults, EachPackageMakesItsFolderExactlyItsTreeAndNeverWritesThroughALink) {
  const std::string outside = root_ + "/outside";
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> installed;  // below the installation
    std::vector<std::pair<std::string, std::string>> package;    // "" as a name: no package, a plain file
    std::vector<std::string> skinAfter;                           // files below skin/, in order
    std::vector<std::pair<std::string, std::string>> retired;     // name -> content in the run's copies
  };
  StartServer();
  StartHost();
  const std::vector<Case> cases = {
      {"a file that becomes a folder", {{"skin/old", "file"}}, {{"old/f.txt", "new"}}, {"old/f.txt"},
       {{"skin/old", "file"}}},
      {"a folder that becomes a file", {{"skin/old/f.txt", "old"}}, {{"old", "now a file"}}, {"old"},
       {{"skin/old/f.txt", "old"}}},
      {"a dropped folder and an empty one", {{"skin/gone/x.txt", "x"}, {"skin/keep.txt", "1"}},
       {{"keep.txt", "2"}, {"empty/", ""}}, {"keep.txt"}, {{"skin/gone/x.txt", "x"}, {"skin/keep.txt", "1"}}},
      {"an empty package", {{"skin/a.txt", "a"}}, {}, {}, {{"skin/a.txt", "a"}}},
      {"a package folder that is a link", {}, {{"a.txt", "new"}}, {"a.txt"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const std::string& path : {App("skin"), App(".RECYCLER"), App("log"), outside}) RemoveTree(path);
    ASSERT_TRUE(WriteFile(outside + "/own.txt", "not the installation's"));
    if (c.installed.empty()) {
      ASSERT_EQ(::symlink(outside.c_str(), App("skin").c_str()), 0);
    }
    for (const auto& [name, content] : c.installed) ASSERT_TRUE(WriteFile(App(name), content));
    WriteLocalList("1.0", {{"1.0", "skin.zip", ""}});
    Publish("2.0", {{"skin.zip", "2.0", MakeZip(c.package)}});
    EXPECT_TRUE(RunUpdate(HostId()).exited);
    EXPECT_EQ(Log().back().message, msg::kUpdateFinished) << DescribeLog(Log());
    EXPECT_EQ(ListFiles(outside), std::vector<std::string>{"own.txt"}) << "written through a link";
    EXPECT_EQ(Exists(App("skin")), !c.package.empty());
    if (!c.package.empty()) {
      EXPECT_EQ(ListFiles(App("skin")), c.skinAfter);
    }
    for (const auto& [name, content] : c.retired) EXPECT_EQ(RetiredCopy(name), content) << name;
    if (c.package.size() == 2) {
      EXPECT_TRUE(IsFolder(App("skin/empty")));
    }
    hostPid_ = HostStarts().back();
  }
}

TEST_F(UpdateFaults, TheRetireFolderKeepsOnlyTheLastCompletedRunOverTwentyReleases) {
  WriteLocalList("1.0", {{"1.0", "a.dll", ""}});
  ASSERT_TRUE(WriteFile(App("a.dll"), "release 1"));
  // A link planted where the retire folder belongs is never followed.
  ASSERT_TRUE(WriteFile(root_ + "/outside/keep.txt", "not the installation's"));
  ASSERT_EQ(::symlink((root_ + "/outside").c_str(), App(".RECYCLER").c_str()), 0);
  StartServer();
  StartHost();
  for (int release = 2; release <= 21; ++release) {
    const std::string version = std::to_string(release) + ".0";
    Publish(version, {{"a.dll", version, "release " + std::to_string(release)}});
    ASSERT_TRUE(RunUpdate(std::to_string(HostStarts().back())).exited);
  }
  EXPECT_EQ(ReadFile(App("a.dll")), "release 21");
  EXPECT_EQ(RetiredCopy("a.dll"), "release 20");
  EXPECT_EQ(ListFiles(App(".RECYCLER")).size(), 1u);
  EXPECT_EQ(ListFiles(root_ + "/outside"), std::vector<std::string>{"keep.txt"});
}

}  // namespace
}  // namespace velmora::e2e
