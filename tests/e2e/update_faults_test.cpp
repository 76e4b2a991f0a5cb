// End-to-end tests of an update run that meets faults: wrong sizes, failed replacements, kills, odd host ids.
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
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

  std::map<std::string, std::string> RecordedVersions() const {
    std::map<std::string, std::string> versions;
    for (const Attributes& file : ReadFileElements(ReadFile(App("UpdateList.xml")))) {
      versions[AttributeValue(file, "Name")] = AttributeValue(file, "Ver");
    }
    return versions;
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
  // A body shorter than announced arrives whole and still fails the check.
  EXPECT_EQ(ReadFile(App("temp/b.dll")), b2);
  EXPECT_TRUE(IsAlive(hostPid_));
  EXPECT_FALSE(WaitForHostStarts(2, 0.3));
}

TEST_F(UpdateFaults, PackageWithoutFolderLogsTheRemovalErrorAndIsUnpackedAnyway) {
  WriteLocalList("1.0", {{"1.0", "skin.zip", ""}});
  const std::string zip = MakeZip({{"a.txt", "alpha"}, {"sub/", ""}, {"sub/b.txt", "beta"}});
  Publish("2.0", {{"skin.zip", "2.0", zip}});
  StartServer();
  StartHost();

  const ExitStatus status = RunUpdate(HostId());
  EXPECT_TRUE(status.exited && status.code == 0);
  const std::vector<LogLine> log = Log();
  ASSERT_EQ(log.size(), 3u) << DescribeLog(log);
  EXPECT_EQ(log[0].level, "ERROR");
  const std::string prefix = msg::kPackageFolderDeleteFailed;
  ASSERT_EQ(log[0].message.substr(0, prefix.size()), prefix) << DescribeLog(log);
  const std::string code = log[0].message.substr(prefix.size());
  EXPECT_FALSE(code.empty());
  for (char c : code) EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c))) << code;
  EXPECT_NE(code, "0");
  EXPECT_EQ(log[2].message, msg::kUpdateFinished);

  EXPECT_EQ(ListFiles(App("skin")), (std::vector<std::string>{"a.txt", "sub/b.txt"}));
  EXPECT_EQ(ReadFile(App("skin/sub/b.txt")), "beta");
  EXPECT_FALSE(Exists(App("skin.zip")));
  EXPECT_EQ(RecordedVersions()["skin.zip"], "2.0");
}

TEST_F(UpdateFaults, FailedReplacementAndUnpackingAreLoggedAndNotRecorded) {
  const std::string a1 = Bytes(100, 41), c1 = Bytes(100, 43);
  ASSERT_TRUE(WriteFile(App("a.dll"), a1));
  ASSERT_TRUE(WriteFile(App("c.dll"), c1));
  ASSERT_TRUE(WriteFile(App("skin/old.txt"), "old"));
  // Neither move can succeed as root: the installed b.dll is a folder that is
  // not empty, and so is the place where it would be retired.
  ASSERT_TRUE(WriteFile(App("b.dll/inside.txt"), "in the way"));
  ASSERT_TRUE(WriteFile(App(".RECYCLER/b.dll/inside.txt"), "in the way too"));
  WriteLocalList("1.0", {{"1.0", "a.dll", ""}, {"1.0", "b.dll", ""}, {"1.0", "c.dll", ""},
                         {"1.0", "skin.zip", ""}});
  const std::string a2 = Bytes(150, 51), b2 = Bytes(150, 52), c2 = Bytes(150, 53);
  const std::string broken = Bytes(2048, 54);  // not a zip at all
  Publish("2.0", {{"a.dll", "2.0", a2}, {"b.dll", "2.0", b2}, {"c.dll", "2.0", c2},
                  {"skin.zip", "2.0", broken}});
  StartServer();
  StartHost();

  const ExitStatus status = RunUpdate(HostId());
  EXPECT_TRUE(status.exited && status.code == 0);
  std::vector<LogLine> log = Log();
  ASSERT_EQ(log.size(), 4u) << DescribeLog(log);
  const std::string replacePrefix = msg::kReplaceFailedPrefix;
  const std::string unpackPrefix = msg::kUnpackFailedPrefix;
  EXPECT_EQ(log[0].level, "ERROR");
  ASSERT_EQ(log[0].message.substr(0, replacePrefix.size()), replacePrefix) << DescribeLog(log);
  EXPECT_EQ(NormalizeSlashes(log[0].message.substr(replacePrefix.size())), App("b.dll"));
  EXPECT_EQ(log[1].level, "ERROR");
  ASSERT_EQ(log[1].message.substr(0, unpackPrefix.size()), unpackPrefix) << DescribeLog(log);
  EXPECT_EQ(NormalizeSlashes(log[1].message.substr(unpackPrefix.size())), App("skin.zip"));
  EXPECT_EQ(log[3].message, msg::kUpdateFinished);

  EXPECT_EQ(ReadFile(App("a.dll")), a2);
  EXPECT_EQ(ReadFile(App("c.dll")), c2);
  EXPECT_TRUE(IsFolder(App("b.dll")));
  EXPECT_EQ(RecordedVersions(), (std::map<std::string, std::string>{
                                    {"a.dll", "2.0"}, {"b.dll", "1.0"}, {"c.dll", "2.0"},
                                    {"skin.zip", "1.0"}}));
  ASSERT_TRUE(WaitForHostStarts(2));

  // Once the obstacles are gone, the next run fetches exactly what was not recorded.
  RemoveTree(App("b.dll"));
  RemoveTree(App(".RECYCLER/b.dll"));
  Publish("2.0", {{"a.dll", "2.0", a2}, {"b.dll", "2.0", b2}, {"c.dll", "2.0", c2},
                  {"skin.zip", "2.0", MakeZip({{"skin.txt", "fine"}})}});
  RemoveTree(App("log"));
  const std::size_t requestsBefore = nginx_.RequestedUris().size();
  const ExitStatus again = RunUpdate(std::to_string(HostStarts()[1]));
  EXPECT_TRUE(again.exited && again.code == 0);
  // The failed unpacking had left no skin folder to remove.
  EXPECT_EQ(Levels(), (std::vector<std::string>{"ERROR", "INFO", "INFO"})) << DescribeLog(Log());
  EXPECT_EQ(Log()[0].message.rfind(msg::kPackageFolderDeleteFailed, 0), 0u);
  const std::vector<std::string> uris = nginx_.RequestedUris();
  EXPECT_EQ(std::vector<std::string>(uris.begin() + static_cast<long>(requestsBefore), uris.end()),
            (std::vector<std::string>{"/UpdateList.xml", "/b.dll", "/skin.zip"}));
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
