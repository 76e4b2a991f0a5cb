// End-to-end tests of the update run: a complete update, a first installation and the runs that end early.
#include <sys/stat.h>

#include <algorithm>

#include "diagnostics/messages.h"
#include "e2e/e2e_fixture.h"
#include "e2e/tool_run.h"

namespace velmora::e2e {
namespace {

std::string Repeat(const std::string& text, int times) {
  std::string repeated;
  for (int i = 0; i < times; ++i) repeated += text;
  return repeated;
}

namespace msg = velmora::diagnostics;

class UpdateRun : public UpdaterTest {
 protected:
  std::string HostId() const { return std::to_string(hostPid_); }

  // The two lines of a run in which everything succeeded.
  void ExpectCompleteRunLog() {
    const std::vector<LogLine> log = Log();
    ASSERT_EQ(log.size(), 2u) << DescribeLog(log);
    EXPECT_EQ(log[0].level, "INFO");
    EXPECT_EQ(NormalizeSlashes(log[0].message), app_ + "/Host");
    EXPECT_EQ(log[1].level, "INFO");
    EXPECT_EQ(log[1].message, msg::kUpdateFinished);
  }

  // The host given on the command line was stopped and a new one started.
  void ExpectHostRestarted() {
    EXPECT_TRUE(WaitUntil([&] { return !IsAlive(hostPid_); }, 10)) << "the host was not stopped";
    ASSERT_TRUE(WaitForHostStarts(2)) << "the host was not started again";
    const pid_t restarted = HostStarts()[1];
    EXPECT_NE(restarted, hostPid_);
    EXPECT_TRUE(IsAlive(restarted));
    EXPECT_EQ(ExecutableOf(restarted), App("Host"));
  }
};

TEST_F(UpdateRun, CompleteRunRetiresOldFilesUnpacksThePackageAndRestartsTheHost) {
  const std::string a1 = Bytes(3000, 1), b1 = Bytes(5000, 2), zh1 = Bytes(700, 3);
  ASSERT_TRUE(WriteFile(App("a.dll"), a1));
  ASSERT_TRUE(WriteFile(App("b.dll"), b1));
  ASSERT_TRUE(WriteFile(App("lang/zh.dll"), zh1));
  ASSERT_TRUE(WriteFile(App("skin/old.txt"), "from version 1"));
  WriteLocalList("1.0", {{"1.0", "a.dll", "3000"}, {"1.0", "b.dll", "5000"},
                         {"1.0", "lang\\zh.dll", "700"}, {"1.0", "skin.zip", ""}});

  const std::string a2 = Bytes(4000, 11), b2 = Bytes(40 * 1024, 12);
  const std::string zh2 = Bytes(900, 13), de2 = Bytes(1200, 14), logo = Bytes(500, 15);
  const std::string zip = MakeZip({{"main.css", "body {}\n"}, {"img/", ""}, {"img/logo.png", logo}});
  Publish("2.0", {{"a.dll", "2.0", a2},
                  {"b.dll", "2.0", b2},
                  {"lang\\zh.dll", "2.0", zh2},
                  {"lang\\\\de.dll", "2.0", de2},
                  {"skin.zip", "2.0", zip}});
  // b.dll arrives slowly (nginx sends one second's worth at once, the rest
  // over about 1.5 s), so the test can look at the installation meanwhile.
  StartServer("        location = /b.dll { limit_rate 16k; }\n");
  StartHost();

  const pid_t updater = StartUpdater({"start", nginx_.BaseUrl(), HostId()});
  bool sawPartialDownload = false;
  WaitUntil([&] {
    struct stat info;
    // The file exists, short of its size, from the start of its download
    // until the download ends (the downloader may buffer its writes).
    if (::stat(App("temp/b.dll").c_str(), &info) == 0 &&
        static_cast<std::size_t>(info.st_size) < b2.size()) {
      sawPartialDownload = true;
      EXPECT_EQ(ReadFile(App("a.dll")), a1) << "a.dll was placed before b.dll had arrived";
    }
    return !IsAlive(updater);
  }, 60);
  const ExitStatus status = WaitForChild(updater, 10);
  ASSERT_TRUE(status.exited);
  EXPECT_EQ(status.code, 0);
  EXPECT_TRUE(sawPartialDownload);

  ExpectCompleteRunLog();
  // The list first, then every file once, several at a time; the doubled
  // backslash is requested as one.
  std::vector<std::string> requested = nginx_.RequestedUris();
  ASSERT_FALSE(requested.empty());
  EXPECT_EQ(requested.front(), "/UpdateList.xml");
  std::sort(requested.begin() + 1, requested.end());
  EXPECT_EQ(requested, (std::vector<std::string>{"/UpdateList.xml", "/a.dll", "/b.dll", "/lang/de.dll",
                                                 "/lang/zh.dll", "/skin.zip"}));
  EXPECT_EQ(ReadFile(App("a.dll")), a2);
  EXPECT_EQ(ReadFile(App("b.dll")), b2);
  EXPECT_EQ(ReadFile(App("lang/zh.dll")), zh2);
  EXPECT_EQ(ReadFile(App("lang/de.dll")), de2);
  EXPECT_EQ(RetiredCopy("a.dll"), a1);
  EXPECT_EQ(RetiredCopy("b.dll"), b1);
  EXPECT_EQ(RetiredCopy("lang/zh.dll"), zh1);
  EXPECT_EQ(ListFiles(App("skin")), (std::vector<std::string>{"img/logo.png", "main.css"}));
  EXPECT_EQ(ReadFile(App("skin/img/logo.png")), logo);
  EXPECT_FALSE(Exists(App("skin.zip")));
  EXPECT_FALSE(Exists(App("temp")));

  const std::vector<Attributes> files = ReadFileElements(ReadFile(App("UpdateList.xml")));
  ASSERT_EQ(files.size(), 5u);
  for (const Attributes& file : files) {
    EXPECT_EQ(AttributeValue(file, "Ver"), "2.0") << AttributeValue(file, "Name");
  }
  // The new file is appended under its key, exactly as the list spells it.
  EXPECT_EQ(AttributeValue(files[4], "Name"), "lang\\\\de.dll");
  ExpectHostRestarted();
}

TEST_F(UpdateRun, WithoutLocalListEveryFileIsNewAndTheListIsRebuilt) {
  const std::string a2 = Bytes(100, 21), zh2 = Bytes(200, 22);
  // An upper-case ending does not make a package.
  const std::string upper = MakeZip({{"inside.txt", "stays packed"}});
  Publish("2.0", {{"lang\\zh.dll", "2.1", zh2}, {"a.dll", "2.0", a2}, {"docs.ZIP", "2.0", upper}});
  StartServer();
  StartHost();

  const ExitStatus status = RunUpdate(HostId());
  EXPECT_TRUE(status.exited && status.code == 0);
  ExpectCompleteRunLog();
  EXPECT_EQ(ReadFile(App("a.dll")), a2);
  EXPECT_EQ(ReadFile(App("lang/zh.dll")), zh2);
  EXPECT_EQ(ReadFile(App("docs.ZIP")), upper);
  EXPECT_FALSE(Exists(App("docs")));

  const std::string list = ReadFile(App("UpdateList.xml"));
  EXPECT_NE(list.find("<Version>2.0</Version>"), std::string::npos) << list;
  EXPECT_NE(list.find("<EntryPoint>Host</EntryPoint>"), std::string::npos) << list;
  EXPECT_NE(list.find("<LastUpdateTime>"), std::string::npos) << list;
  // One element per file, in the order of recording, with version and name only.
  const std::vector<Attributes> expected = {{{"Ver", "2.0"}, {"Name", "a.dll"}},
                                            {{"Ver", "2.0"}, {"Name", "docs.ZIP"}},
                                            {{"Ver", "2.1"}, {"Name", "lang\\zh.dll"}}};
  EXPECT_EQ(ReadFileElements(list), expected) << list;
  ExpectHostRestarted();
}

TEST_F(UpdateRun, EntryPointDeliveredWithoutExecuteBitsStillStarts) {
  // A new program arrives with the permission bits of a plain download.
  Publish("2.0", {{"bin\\NewHost", "2.0", ReadFile(TEST_HOST_BINARY)}}, "bin\\NewHost");
  StartServer();
  StartHost();

  const ExitStatus status = RunUpdate(HostId());
  EXPECT_TRUE(status.exited && status.code == 0);
  const std::vector<LogLine> log = Log();
  ASSERT_EQ(log.size(), 3u) << DescribeLog(log);
  // Without a local list the host is the new list's entry point: the process
  // given runs another program and is left alone.
  EXPECT_EQ(log[0].message, msg::kTerminateHostFailed);
  EXPECT_EQ(NormalizeSlashes(log[1].message), App("bin/NewHost"));
  // The new host records its start in its own folder; it works in the
  // installation's.
  ASSERT_TRUE(WaitUntil([&] { return Exists(App("bin/host-started.log")); }, 10));
  EXPECT_TRUE(WaitUntil([&] { return ReadFile(App("bin/host.cwd")) == app_ + "\n"; }, 10));
  struct stat info;
  ASSERT_EQ(::stat(App("bin/NewHost").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0111, (info.st_mode & 0444) >> 2);
  EXPECT_TRUE(IsAlive(hostPid_));
}

TEST_F(UpdateRun, RunsThatEndEarlyLogTheirMessageAndLeaveInstallationAndHostAlone) {
  const std::string a1 = Bytes(300, 31), a2 = Bytes(400, 32);
  ASSERT_TRUE(WriteFile(App("a.dll"), a1));
  StartServer();
  StartHost();

  struct Case {
    std::string what;
    std::string localVersion;
    std::string localFileVersion;
    std::string remoteList;  // empty: no list on the server
    std::string level;
    std::string message;
    std::string outcome;  // in the status file
  };
  const std::vector<ListFile> remoteFiles = {{"2.0", "a.dll", "400"}};
  const std::string good = MakeUpdateList("2.0", "Host", remoteFiles);
  std::string noFiles = good;
  noFiles.erase(noFiles.find("    <Files>"), noFiles.find("</Velmorar>") - noFiles.find("    <Files>"));
  const std::string invalid = "list-invalid";
  const std::vector<Case> cases = {
      {"local version newer", "3.0", "1.0", good, "INFO", msg::kNoUpdateNeeded, "up-to-date"},
      {"every file current", "2.0", "2.0", good, "ERROR", msg::kNothingToUpdate, "nothing-to-update"},
      {"no list on the server", "1.0", "1.0", "", "ERROR", msg::kListDownloadFailed, "list-download-failed"},
      {"no Files element", "1.0", "1.0", noFiles, "ERROR", msg::kListParseFailed, invalid},
      {"a name leaving the folder", "1.0", "1.0",
       MakeUpdateList("2.0", "Host", {{"2.0", "..\\escaped.dll", "400"}}), "ERROR", msg::kListParseFailed, invalid},
      {"an absolute name", "1.0", "1.0",
       MakeUpdateList("2.0", "Host", {{"2.0", "\\tmp\\escaped.dll", "400"}}), "ERROR", msg::kListParseFailed,
       invalid},
      {"empty entry point", "1.0", "1.0", MakeUpdateList("2.0", "", remoteFiles), "ERROR",
       msg::kApplicationParseFailed, invalid},
      // A list that cannot be read is an error, never "no update".
      {"a list cut short", "1.0", "1.0", good.substr(0, good.size() / 2), "ERROR", msg::kListParseFailed, invalid},
      {"a compressed list", "1.0", "1.0", "\x1F\x8B\x08" + Bytes(300, 9), "ERROR", msg::kListParseFailed, invalid},
      {"a list nested 100,000 deep", "1.0", "1.0",
       "<Velmorar>" + Repeat("<a>", 100000) + Repeat("</a>", 100000) + "</Velmorar>", "ERROR",
       msg::kListParseFailed, invalid},
      {"a list without a version", "1.0", "1.0", MakeUpdateList("", "Host", remoteFiles), "ERROR",
       msg::kListParseFailed, invalid},
      {"two names for one file", "1.0", "1.0",
       MakeUpdateList("2.0", "Host", {{"2.0", "a.dll", "400"}, {"2.0", "A.DLL", "400"}}), "ERROR",
       msg::kListParseFailed, invalid},
  };
  ASSERT_TRUE(WriteFile(Release("a.dll"), a2));
  ASSERT_TRUE(WriteFile(Release("escaped.dll"), a2));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveTree(App("log"));
    RemoveTree(App("temp"));
    RemoveTree(App("UpdateList.validators"));
    WriteLocalList(c.localVersion, {{c.localFileVersion, "a.dll", "300"}});
    const std::string localList = ReadFile(App("UpdateList.xml"));
    RemoveTree(Release("UpdateList.xml"));
    if (!c.remoteList.empty()) {
      ASSERT_TRUE(WriteFile(Release("UpdateList.xml"), c.remoteList));
    }

    const ExitStatus status = RunUpdate(HostId());
    EXPECT_TRUE(status.exited && status.code == 0);
    const std::vector<LogLine> log = Log();
    ASSERT_EQ(log.size(), 1u) << DescribeLog(log);
    EXPECT_EQ(log[0].level, c.level);
    EXPECT_EQ(log[0].message, c.message) << DescribeLog(log);
    EXPECT_EQ(Status("Outcome"), c.outcome);
    if (c.outcome == invalid) {
      EXPECT_FALSE(Exists(App("UpdateList.validators"))) << "validators of a broken list";
    }
    EXPECT_EQ(ReadFile(App("a.dll")), a1);
    EXPECT_EQ(ReadFile(App("UpdateList.xml")), localList);
    EXPECT_FALSE(Exists(App(".RECYCLER")));
    EXPECT_FALSE(Exists(root_ + "/escaped.dll"));
    EXPECT_FALSE(Exists("/tmp/escaped.dll"));
    EXPECT_TRUE(IsAlive(hostPid_));
  }
  EXPECT_FALSE(WaitForHostStarts(2, 0.3)) << "no early end may start the host";

  // Once the server is fixed, the next run installs the release.
  ASSERT_TRUE(WriteFile(Release("UpdateList.xml"), good));
  EXPECT_TRUE(RunUpdate(HostId()).exited);
  EXPECT_EQ(Status("Outcome"), "updated");
  EXPECT_EQ(ReadFile(App("a.dll")), a2);
}

TEST_F(UpdateRun, CheckSaysWhatAnUpdateWouldFetchAndChangesNothing) {
  ASSERT_TRUE(WriteFile(App("a.dll"), "one"));
  WriteLocalList("1.0", {{"1.0", "a.dll", ""}});
  Publish("2.0", {{"a.dll", "2.0", Bytes(400, 1)}, {"b.dll", "2.0", Bytes(10, 2)}});
  StartServer();
  for (const bool available : {true, false}) {
    if (!available) Publish("1.0", {{"a.dll", "1.0", "one"}});
    const Snapshot before = TakeSnapshot();
    RemoveTree(updaterOutput_);
    const ExitStatus status = RunUpdater({"check", nginx_.BaseUrl()});
    EXPECT_TRUE(status.exited && status.code == 0);
    EXPECT_EQ(ReadFile(updaterOutput_), available ? "update-available 2.0 2 files 410 bytes\n" : "up-to-date 1.0\n");
    EXPECT_EQ(Status("Outcome"), available ? "update-available" : "up-to-date");
    EXPECT_EQ(ChangedFiles(before), std::vector<std::string>{});
    EXPECT_FALSE(Exists(App("temp")));
    EXPECT_FALSE(Exists(App("UpdateList.validators")));
  }
  EXPECT_EQ(nginx_.RequestedUris(), (std::vector<std::string>{"/UpdateList.xml", "/UpdateList.xml"}));
}

TEST_F(UpdateRun, NamesWithBlanksHashesPercentsAndOtherScriptsAreFetchedAndInstalled) {
  const std::vector<std::string> names = {"with space.txt", "a#b.txt", "100%.txt", "c+d&e;f.txt",
                                          "\xC3\xBC/\xE6\x97\xA5\xE6\x9C\xAC.txt"};
  std::vector<ReleaseFile> release;
  for (std::size_t i = 0; i < names.size(); ++i) release.push_back({names[i], "2.0", Bytes(50, static_cast<int>(i))});
  WriteLocalList("1.0", {});
  Publish("2.0", release);
  StartServer();
  StartHost();
  ASSERT_TRUE(RunUpdate(HostId()).exited);
  EXPECT_EQ(Log().back().message, msg::kUpdateFinished) << DescribeLog(Log());
  for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(ReadFile(App(names[i])), Bytes(50, static_cast<int>(i)));
  const std::vector<std::string> uris = nginx_.RequestedUris();
  for (const char* encoded : {"/with%20space.txt", "/a%23b.txt", "/100%25.txt", "/c%2Bd%26e%3Bf.txt",
                              "/%C3%BC/%E6%97%A5%E6%9C%AC.txt"}) {
    EXPECT_NE(std::find(uris.begin(), uris.end(), encoded), uris.end()) << encoded;
  }
}

TEST_F(UpdateRun, TwoInstallationsUpdateAtTheSameTime) {
  const std::string other = root_ + "/other";
  ASSERT_TRUE(CopyFile(VELMORA_BINARY, other + "/Velmora"));
  ASSERT_TRUE(CopyFile(TEST_HOST_BINARY, other + "/Host"));
  for (const std::string& folder : {app_, other}) {
    ASSERT_TRUE(WriteFile(folder + "/UpdateList.xml", MakeUpdateList("1.0", "Host", {{"1.0", "a.dll", ""}})));
  }
  Publish("2.0", {{"a.dll", "2.0", Bytes(4000, 7)}});
  StartServer();
  const pid_t first = StartUpdater({"start", nginx_.BaseUrl(), "0"});
  const pid_t second = Spawn(other + "/Velmora", {"start", nginx_.BaseUrl(), "0"}, root_, root_ + "/other.out");
  for (const pid_t updater : {first, second}) EXPECT_TRUE(WaitForChild(updater, 60).exited);
  for (const std::string& folder : {app_, other}) {
    EXPECT_EQ(CountMessage(ReadLog(folder), msg::kAlreadyRunning), 0) << folder;
    EXPECT_EQ(CountMessage(ReadLog(folder), msg::kUpdateFinished), 1) << DescribeLog(ReadLog(folder));
    EXPECT_EQ(ReadFile(folder + "/a.dll"), Bytes(4000, 7));
  }
}

TEST_F(UpdateRun, HttpsTrustsUpdateCaPemAloneAndNoSwitchTurnsChecksOff) {
  // A certificate authority of the test's own, unknown to the system, and
  // server certificates it signs: one for 127.0.0.1, one for another name.
  const std::string tls = root_ + "/tls";
  ASSERT_EQ(::mkdir(tls.c_str(), 0755), 0);
  const auto openssl = [&](const std::vector<std::string>& arguments) {
    std::string output;
    EXPECT_TRUE(RunTool("/usr/bin/openssl", arguments, tls, &output)) << output;
  };
  const std::vector<std::string> newKey = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
  auto request = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin() + 1, newKey.begin(), newKey.end());
    openssl(arguments);
  };
  request({"req", "-x509", "-keyout", "ca.key", "-out", "ca.pem", "-days", "1", "-subj", "/CN=Velmora Test CA"});
  for (const std::string name : {"IP:127.0.0.1", "DNS:elsewhere.example"}) {
    const std::string stem = name[0] == 'I' ? "right" : "wrong";
    ASSERT_TRUE(WriteFile(tls + "/" + stem + ".ext", "subjectAltName=" + name + "\n"));
    request({"req", "-keyout", stem + ".key", "-out", stem + ".csr", "-subj", "/CN=" + stem});
    openssl({"x509", "-req", "-in", stem + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
             "-days", "1", "-extfile", stem + ".ext", "-out", stem + ".pem"});
  }
  ASSERT_TRUE(WriteFile(App("a.dll"), "one"));
  WriteLocalList("1.0", {{"1.0", "a.dll", ""}});
  Publish("2.0", {{"a.dll", "2.0", "two"}});
  StartHost();
  const int port = UnusedPort();
  const auto serve = [&](const std::string& certificate) {
    nginx_.Stop();
    StartServer("        listen 127.0.0.1:" + std::to_string(port) + " ssl;\n        ssl_certificate " + tls + "/" +
                certificate + ".pem;\n        ssl_certificate_key " + tls + "/" + certificate + ".key;\n");
  };
  const std::string base = "https://127.0.0.1:" + std::to_string(port) + "/";
  struct Case {
    const char* what;
    const char* certificate;
    bool authorityFile;
    bool noVerifyVariable;
    const char* outcome;
  };
  const Case cases[] = {
      {"an authority the system does not know", "right", false, false, "list-download-failed"},
      {"the variable that once turned checks off", "right", false, true, "list-download-failed"},
      {"a certificate for another name", "wrong", true, false, "list-download-failed"},
      {"UpdateCA.pem names the server's authority", "right", true, false, "updated"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    serve(c.certificate);
    RemoveTree(App("UpdateCA.pem"));
    if (c.authorityFile) {
      ASSERT_TRUE(CopyFile(tls + "/ca.pem", App("UpdateCA.pem")));
    }
    if (c.noVerifyVariable) ::setenv("VELMORA_TLS_NO_VERIFY", "1", 1);
    const ExitStatus status = RunUpdater({"start", base, HostId()});
    ::unsetenv("VELMORA_TLS_NO_VERIFY");
    EXPECT_TRUE(status.exited && status.code == 0);
    EXPECT_EQ(Status("Outcome"), c.outcome);
  }
  EXPECT_EQ(ReadFile(App("a.dll")), "two");
}

}  // namespace
}  // namespace velmora::e2e
