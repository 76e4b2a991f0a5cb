// End-to-end tests of an update run that meets faults: wrong sizes, failed replacements, kills, odd host ids.
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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
  // The download folder keeps what was fetched up to the failed check.
  EXPECT_EQ(ListFiles(App("temp")), (std::vector<std::string>{"UpdateList.xml", "a.dll", "b.dll"}));
  EXPECT_EQ(ReadFile(App("temp/a.dll")), a2);
  EXPECT_EQ(nginx_.RequestedUris(), (std::vector<std::string>{"/UpdateList.xml", "/a.dll", "/b.dll"}));
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
  // b.dll cannot be placed as root either: the installed b.dll is a folder
  // that is not empty, and so is the place where it would be retired.
  ASSERT_TRUE(WriteFile(App("b.dll/inside.txt"), "in the way"));
  ASSERT_TRUE(WriteFile(App(".RECYCLER/b.dll/inside.txt"), "in the way too"));
  WriteLocalList("1.0", {{"1.0", "a.dll", ""}, {"1.0", "b.dll", ""}, {"1.0", "skin.zip", ""}});
  const std::string a2 = Bytes(150, 51), b2 = Bytes(150, 52);
  Publish("2.0", {{"a.dll", "2.0", a2}, {"b.dll", "2.0", b2}, {"skin.zip", "2.0", Bytes(2048, 54)}});
  StartServer();
  StartHost();

  // The package is unpacked before anything is placed, so the blocked b.dll
  // is never reached.
  const Snapshot before = TakeSnapshot();
  const ExitStatus status = RunUpdate(HostId());
  EXPECT_TRUE(status.exited && status.code == 0);
  ExpectFailedRun(before, {msg::kUnpackFailedPrefix + App("skin.zip")});

  // Nothing was recorded, so the next run fetches every file again.
  RemoveTree(App("b.dll"));
  RemoveTree(App(".RECYCLER/b.dll"));
  Publish("2.0", {{"a.dll", "2.0", a2}, {"b.dll", "2.0", b2}, {"skin.zip", "2.0", MakeZip({{"skin.txt", "fine"}})}});
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
  EXPECT_EQ(ListFiles(App("skin")), std::vector<std::string>{"skin.txt"});
  for (const auto& [name, version] : RecordedVersions()) EXPECT_EQ(version, "2.0") << name;
}

// Spins (without sleeping) until `condition` holds or the process ends.
bool SpinUntil(const std::function<bool()>& condition, pid_t process, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<long>(seconds * 1000));
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    if (!IsAlive(process)) return false;
    ::sched_yield();
  }
  return false;
}

TEST_F(UpdateFaults, KillAtAnyPointThenANormalRunLeavesExactlyTheRelease) {
  std::vector<ReleaseFile> release;
  std::vector<ListFile> installed;
  for (int i = 0; i < 150; ++i) {
    char name[32];
    std::snprintf(name, sizeof(name), "data\\f%03d.bin", i);
    release.push_back({name, "2.0", Bytes(2048, 1000 + static_cast<unsigned>(i))});
    installed.push_back({"1.0", name, "1024"});
  }
  std::vector<std::pair<std::string, std::string>> entries;
  std::vector<std::string> skinFiles;
  for (int i = 0; i < 300; ++i) {
    char name[32];
    std::snprintf(name, sizeof(name), "e%03d.bin", i);
    entries.emplace_back(name, Bytes(1024, 5000 + static_cast<unsigned>(i)));
    skinFiles.push_back(name);
  }
  release.push_back({"skin.zip", "2.0", MakeZip(entries)});
  installed.push_back({"1.0", "skin.zip", ""});
  Publish("2.0", release);
  StartServer();

  const auto count = [&](const std::string& folder) { return ListFiles(App(folder)).size(); };
  const std::vector<std::pair<std::string, std::function<bool()>>> points = {
      {"while downloading", [&] { return count("temp/data") >= 40; }},
      {"after the first move aside", [&] { return count(".RECYCLER/data") >= 1; }},
      {"half way through the files", [&] { return count(".RECYCLER/data") >= 75; }},
      {"while unpacking", [&] { return Exists(App("skin/e000.bin")); }},
  };
  for (const auto& [point, reached] : points) {
    SCOPED_TRACE(point);
    for (const char* leftover : {"data", "skin", "temp", ".RECYCLER", "log", "UpdateList.xml"}) {
      RemoveTree(App(leftover));
    }
    for (int i = 0; i < 150; ++i) {
      ASSERT_TRUE(WriteFile(App(KeyToPath(installed[static_cast<std::size_t>(i)].name)),
                            Bytes(1024, 9000 + static_cast<unsigned>(i))));
    }
    ASSERT_TRUE(WriteFile(App("skin/old.txt"), "old"));
    WriteLocalList("1.0", installed);
    const pid_t host = Spawn(App("Host"), {"120"}, root_, root_ + "/host.out");

    const pid_t updater = StartUpdater({"start", nginx_.BaseUrl(), std::to_string(host)});
    const bool hit = SpinUntil(reached, updater, 60);
    ::kill(updater, SIGKILL);
    ASSERT_TRUE(WaitForChild(updater, 10).ended);
    if (!hit) std::cerr << "note: the run ended before the point \"" << point << "\"\n";

    RemoveTree(App("log"));
    const ExitStatus status = RunUpdate(std::to_string(host));
    EXPECT_TRUE(status.exited && status.code == 0);
    const std::vector<LogLine> log = Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().message, msg::kUpdateFinished) << DescribeLog(log);
    for (const ReleaseFile& file : release) {
      if (file.key == "skin.zip") continue;
      EXPECT_EQ(ReadFile(App(KeyToPath(file.key))), file.content) << file.key;
    }
    EXPECT_EQ(ListFiles(App("data")).size(), 150u);
    ASSERT_EQ(ListFiles(App("skin")), skinFiles);
    for (const auto& [name, content] : entries) EXPECT_EQ(ReadFile(App("skin/" + name)), content);
    EXPECT_FALSE(Exists(App("skin.zip")));
    EXPECT_FALSE(Exists(App("temp")));
    for (const auto& [name, version] : RecordedVersions()) EXPECT_EQ(version, "2.0") << name;
    EXPECT_EQ(RecordedVersions().size(), 151u);
    KillChild(host);
    EndProcessesRunningFrom(app_);
  }
}

}  // namespace
}  // namespace velmora::e2e
