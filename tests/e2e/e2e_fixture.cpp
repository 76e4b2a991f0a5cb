// The fixture of the end-to-end tests: a temporary installation of the built updater, a release and a server.
#include "e2e/e2e_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <sstream>

#include "diagnostics/messages.h"

namespace velmora::e2e {

void UpdaterTest::SetUp() {
  // One test at a time across the test binaries CTest runs in parallel: the
  // runs share nginx start-up and the machine's two cores, and their
  // timings are easier to read alone.
  serialFd_ = ::open("/tmp/velmora-e2e.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (serialFd_ >= 0) {
    WaitUntil([&] { return ::flock(serialFd_, LOCK_EX | LOCK_NB) == 0; }, 240);
  }

  root_ = MakeTempFolder("velmora-e2e");
  ASSERT_FALSE(root_.empty());
  app_ = root_ + "/app";
  release_ = root_ + "/release";
  updaterOutput_ = root_ + "/updater.out";
  ASSERT_TRUE(CopyFile(VELMORA_BINARY, App("Velmora")));
  ASSERT_TRUE(CopyFile(TEST_HOST_BINARY, App("Host")));
  ::mkdir(release_.c_str(), 0755);
}

void UpdaterTest::TearDown() {
  if (!app_.empty()) EndProcessesRunningFrom(root_);
  if (hostPid_ > 0) KillChild(hostPid_);
  nginx_.Stop();
  if (HasFailure() && !root_.empty()) {
    const std::string output = ReadFile(updaterOutput_);
    std::cerr << DescribeLog(ReadLog(app_)) << "updater output (end):\n"
              << output.substr(output.size() > 1500 ? output.size() - 1500 : 0) << "\n";
  }
  if (!root_.empty()) RemoveTree(root_);
  if (serialFd_ >= 0) ::close(serialFd_);
}

void UpdaterTest::Publish(const std::string& appVersion, const std::vector<ReleaseFile>& files,
                          const std::string& entryPoint) {
  std::vector<ListFile> entries;
  for (const ReleaseFile& file : files) {
    ASSERT_TRUE(WriteFile(Release(KeyToPath(file.key)), file.content));
    std::string size = file.size.empty() ? std::to_string(file.content.size()) : file.size;
    if (size == "-") size.clear();
    entries.push_back({file.version, file.key, size});
  }
  ASSERT_TRUE(WriteFile(Release("UpdateList.xml"), MakeUpdateList(appVersion, entryPoint, entries)));
}

void UpdaterTest::WriteLocalList(const std::string& appVersion, const std::vector<ListFile>& files) {
  ASSERT_TRUE(WriteFile(App("UpdateList.xml"), MakeUpdateList(appVersion, "Host", files)));
}

void UpdaterTest::StartServer(const std::string& extraLocations) {
  ASSERT_TRUE(nginx_.Start(root_ + "/nginx", release_, extraLocations)) << nginx_.ErrorLog();
}

void UpdaterTest::StartHost() {
  hostPid_ = Spawn(App("Host"), {}, root_, root_ + "/host.out");
  ASSERT_GT(hostPid_, 0);
  ASSERT_TRUE(WaitForHostStarts(1));
}

ExitStatus UpdaterTest::RunUpdater(const std::vector<std::string>& arguments, double seconds) {
  const pid_t updater = StartUpdater(arguments);
  const ExitStatus status = WaitForChild(updater, seconds);
  if (!status.ended) {
    KillChild(updater);
    ADD_FAILURE() << "the updater did not end within " << seconds << " s";
  }
  return status;
}

ExitStatus UpdaterTest::RunUpdate(const std::string& hostId) {
  return RunUpdater({"start", nginx_.BaseUrl(), hostId});
}

pid_t UpdaterTest::StartUpdater(const std::vector<std::string>& arguments) {
  // The working folder is not the installation: the updater finds its own.
  return Spawn(App("Velmora"), arguments, root_, updaterOutput_);
}

std::vector<pid_t> UpdaterTest::HostStarts() const {
  std::vector<pid_t> pids;
  std::istringstream in(ReadFile(App("host-started.log")));
  long pid = 0;
  while (in >> pid) pids.push_back(static_cast<pid_t>(pid));
  return pids;
}

std::string UpdaterTest::Status(const std::string& element) const {
  const std::string text = ReadFile(App("UpdateStatus.xml"));
  const std::size_t begin = text.find("<" + element + ">");
  const std::size_t end = text.find("</" + element + ">");
  if (begin == std::string::npos || end == std::string::npos) return std::string();
  return text.substr(begin + element.size() + 2, end - begin - element.size() - 2);
}

std::string UpdaterTest::RetiredCopy(const std::string& relative) const {
  std::vector<std::string> runs;
  for (const std::string& name : ListFiles(App(".RECYCLER"))) {
    const std::string run = name.substr(0, name.find('/'));
    if (runs.empty() || runs.back() != run) runs.push_back(run);
  }
  std::sort(runs.begin(), runs.end());
  return runs.empty() ? std::string() : ReadFile(App(".RECYCLER/" + runs.back() + "/" + relative));
}

std::map<std::string, std::string> UpdaterTest::RecordedVersions() const {
  std::map<std::string, std::string> versions;
  for (const Attributes& file : ReadFileElements(ReadFile(App("UpdateList.xml")))) {
    versions[AttributeValue(file, "Name")] = AttributeValue(file, "Ver");
  }
  return versions;
}

bool UpdaterTest::AnUpdaterRuns() const {
  for (pid_t pid : ProcessesRunningFrom(app_)) {
    if (ExecutableOf(pid) == App("Velmora")) return true;
  }
  return false;
}

UpdaterTest::Snapshot UpdaterTest::TakeSnapshot() const {
  Snapshot files;
  for (const std::string& name : ListFiles(app_)) {
    // The lock file is made by every run, the status file written by every run.
    if (name.rfind("log/", 0) == 0 || name.rfind("temp/", 0) == 0 || name == "Velmora.lock" ||
        name == "UpdateStatus.xml") {
      continue;
    }
    files[name] = ReadFile(App(name));
  }
  return files;
}

std::vector<std::string> UpdaterTest::ChangedFiles(const Snapshot& before) const {
  // Names only: the contents are binaries too large to print.
  const Snapshot after = TakeSnapshot();
  std::vector<std::string> changed;
  for (const auto& [name, content] : before) {
    const auto now = after.find(name);
    if (now == after.end() || now->second != content) changed.push_back(name);
  }
  for (const auto& [name, content] : after) {
    if (before.count(name) == 0) changed.push_back(name);
  }
  return changed;
}

void UpdaterTest::ExpectFailedRun(const Snapshot& before, const std::vector<std::string>& errors) {
  const std::vector<LogLine> log = Log();
  std::vector<std::string> logged;
  for (const std::string& error : MessagesAt(log, "ERROR")) logged.push_back(NormalizeSlashes(error));
  std::vector<std::string> expected;
  for (const std::string& error : errors) expected.push_back(NormalizeSlashes(error));
  EXPECT_EQ(logged, expected) << DescribeLog(log);
  EXPECT_EQ(CountMessage(log, diagnostics::kUpdateFinished), 0);

  EXPECT_EQ(ChangedFiles(before), std::vector<std::string>{}) << "files changed by the failed run";

  EXPECT_TRUE(IsAlive(hostPid_)) << "the host was stopped";
  EXPECT_FALSE(WaitUntil([&] { return HostStarts().size() > 1 || AnUpdaterRuns(); }, 0.5))
      << "a host or an updater was started";
}

bool UpdaterTest::WaitForHostStarts(std::size_t count, double seconds) const {
  return WaitUntil([&] { return HostStarts().size() >= count; }, seconds);
}

}  // namespace velmora::e2e
