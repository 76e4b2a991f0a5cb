// The fixture of the end-to-end tests: a temporary installation of the built updater, a release and a server.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "diagnostics/messages.h"
#include "support/file_support.h"
#include "support/process_support.h"
#include "support/zip_builder.h"

namespace velmora::e2e {

// The files, lists, log lines, zips, processes and servers of tests/support.
using namespace velmora::testing;

// One file of a release: its list key (backslashes, possibly doubled), its
// version and content. The list announces the content's size unless `size`
// says otherwise ("" keeps the real size, "-" writes no size attribute).
struct ReleaseFile {
  std::string key;
  std::string version;
  std::string content;
  std::string size = "";
};

// Each test gets <root>/app (the installation: the built "Velmora" and the
// test host as "Host"), <root>/release (the server's folder) and its own
// nginx. Tests run one at a time across processes: the updater's lock is
// system-wide.
class UpdaterTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string App(const std::string& relative) const { return app_ + "/" + relative; }
  std::string Release(const std::string& relative) const { return release_ + "/" + relative; }

  // Writes the release files under their paths and the remote list.
  void Publish(const std::string& appVersion, const std::vector<ReleaseFile>& files,
               const std::string& entryPoint = "Host");
  // Writes the local list of the installation.
  void WriteLocalList(const std::string& appVersion, const std::vector<ListFile>& files);
  // Starts nginx on the release folder; fails the test when it cannot.
  void StartServer(const std::string& extraLocations = "");
  // Starts the installed host as a child of the test and waits for its record.
  void StartHost();
  // Runs the installed updater to its end (bounded) with these arguments.
  ExitStatus RunUpdater(const std::vector<std::string>& arguments, double seconds = 60);
  // "start <server base URL> <host id>".
  ExitStatus RunUpdate(const std::string& hostId);
  // Starts the installed updater without waiting.
  pid_t StartUpdater(const std::vector<std::string>& arguments);

  // The log without the notice that no update key is configured, which every
  // unsigned run writes once after the list fetch (its own test checks it).
  std::vector<LogLine> Log() const {
    std::vector<LogLine> lines = ReadLog(app_);
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const LogLine& line) { return line.message == diagnostics::kNoUpdateKey; }),
                lines.end());
    return lines;
  }
  // The content of `relative` as the last run retired it: each run keeps its
  // copies in a folder of its own inside the retire folder.
  std::string RetiredCopy(const std::string& relative) const;
  // The text of an element of the status file the last run left ("Outcome",
  // "RemoteVersion", ...); empty when there is none.
  std::string Status(const std::string& element) const;
  // The version recorded for each name in the local list.
  std::map<std::string, std::string> RecordedVersions() const;
  // True while an updater runs from the installation.
  bool AnUpdaterRuns() const;

  // Every regular file of the installation with its content, except the log
  // and download folders: what a failed run must leave exactly as it was.
  using Snapshot = std::map<std::string, std::string>;
  Snapshot TakeSnapshot() const;
  // The files added, removed or changed since `before`.
  std::vector<std::string> ChangedFiles(const Snapshot& before) const;
  // Checks a run that failed: it logged exactly `errors` (paths compared with
  // either separator), never reported a finished update, changed no file of
  // `before`, and left the host given by hostPid_ running and unrestarted.
  void ExpectFailedRun(const Snapshot& before, const std::vector<std::string>& errors);
  // The pids recorded by every start of the host, in order.
  std::vector<pid_t> HostStarts() const;
  bool WaitForHostStarts(std::size_t count, double seconds = 10) const;

  std::string root_;
  std::string app_;
  std::string release_;
  std::string updaterOutput_;
  Nginx nginx_;
  pid_t hostPid_ = -1;

 private:
  int serialFd_ = -1;
};

}  // namespace velmora::e2e
