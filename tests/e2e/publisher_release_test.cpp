// End-to-end test of velmora-release: releases it builds and minisign signs update a real installation.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <regex>

#include "diagnostics/messages.h"
#include "e2e/e2e_fixture.h"
#include "e2e/tool_run.h"

namespace velmora::e2e {
namespace {

namespace msg = velmora::diagnostics;

constexpr char kMinisign[] = "/usr/bin/minisign";
constexpr char kList[] = "UpdateList.xml";

class PublisherRelease : public UpdaterTest {
 protected:
  void SetUp() override {
    UpdaterTest::SetUp();
    ASSERT_TRUE(RunTool(kMinisign, {"-G", "-W", "-p", Root("k.pub"), "-s", Root("k.key")}, root_));
    ASSERT_TRUE(CopyFile(Root("k.pub"), App("UpdateKey.pub")));
  }

  std::string Root(const std::string& relative) const { return root_ + "/" + relative; }

  // Builds the application folder `from` as release `version` into `out`.
  void Build(const std::string& from, const std::string& version, const std::string& out,
             const std::string& previous = "") {
    std::vector<std::string> arguments{"build", "--from", from, "--version", version, "--entry-point", "Host",
                                       "--package", "skin", "--out", out};
    if (!previous.empty()) arguments.insert(arguments.end(), {"--previous", previous});
    std::string output;
    ASSERT_TRUE(RunTool(RELEASE_TOOL_BINARY, arguments, root_, &output)) << output;
  }

  // Builds as Build does and signs the list at `timestamp` with minisign itself.
  void BuildAndSign(const std::string& from, const std::string& version, const std::string& out, long timestamp,
                    const std::string& previous = "") {
    Build(from, version, out, previous);
    std::string output;
    ASSERT_TRUE(RunTool(kMinisign, {"-S", "-s", Root("k.key"), "-m", out + "/" + kList, "-t",
                                    "timestamp:" + std::to_string(timestamp)},
                        root_, &output))
        << output;
  }

  // Runs the updater for the last started host; the run must end the update
  // and start the host again.
  void ExpectFinishedUpdate() {
    RemoveTree(App("log"));
    const std::vector<pid_t> starts = HostStarts();
    ASSERT_FALSE(starts.empty());
    // The updater's lock is one per machine; other programs may hold it for a while.
    EXPECT_TRUE(RunUpdate(std::to_string(starts.back())).exited);
    const std::vector<LogLine> log = Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().message, msg::kUpdateFinished) << DescribeLog(log);
    EXPECT_TRUE(WaitForHostStarts(starts.size() + 1));
  }

  // Every file of the application folder is installed with its content, and
  // skin/ holds exactly the package's files.
  void ExpectInstalled(const std::string& from) {
    for (const std::string& file : ListFiles(from)) EXPECT_EQ(ReadFile(App(file)), ReadFile(from + "/" + file)) << file;
    EXPECT_EQ(ListFiles(App("skin")), ListFiles(from + "/skin"));
  }
};

TEST_F(PublisherRelease, BuiltReleasesUpdateAnInstallationAndTheNextOneOnlyWhatChanged) {
  const std::string app2 = Root("app2");
  const std::map<std::string, std::string> plain = {
      {"readme.txt", "Version two.\n"}, {"config.ini", "[main]\nlevel=2\n"}, {"data.bin", Bytes(3000, 7)}};
  for (const auto& [name, content] : plain) ASSERT_TRUE(WriteFile(app2 + "/" + name, content));
  ASSERT_TRUE(CopyFile(TEST_HOST_BINARY, app2 + "/Host"));
  ASSERT_TRUE(WriteFile(app2 + "/skin/main.css", "body {}\n"));
  ASSERT_TRUE(WriteFile(app2 + "/skin/theme.json", "{\"dark\": true}\n"));
  ASSERT_TRUE(WriteFile(app2 + "/skin/img/logo.png", Bytes(5000, 8)));
  BuildAndSign(app2, "2.0", release_, 100);

  // Version 1.0: the same names, older contents.
  std::vector<ListFile> local{{"1.0", "Host", ""}, {"1.0", "skin.zip", ""}};
  for (const auto& [name, content] : plain) {
    ASSERT_TRUE(WriteFile(App(name), "old " + name));
    local.push_back({"1.0", name, ""});
  }
  WriteLocalList("1.0", local);
  StartServer();
  StartHost();
  ExpectFinishedUpdate();
  ExpectInstalled(app2);

  // Version 3.0 changes two plain files and one file of the package.
  const std::string app3 = Root("app3");
  ASSERT_TRUE(RunTool("/bin/cp", {"-a", app2, app3}, root_));
  ASSERT_TRUE(WriteFile(app3 + "/readme.txt", "Version three.\n"));
  ASSERT_TRUE(WriteFile(app3 + "/config.ini", "[main]\nlevel=3\n"));
  ASSERT_TRUE(WriteFile(app3 + "/skin/theme.json", "{\"dark\": false}\n"));
  const std::string release3 = Root("release3");
  BuildAndSign(app3, "3.0", release3, 200, Release(kList));
  std::map<std::string, std::string> versions;
  for (const Attributes& file : ReadFileElements(ReadFile(release3 + "/" + kList)))
    versions[AttributeValue(file, "Name")] = AttributeValue(file, "Ver");
  EXPECT_EQ(versions, (std::map<std::string, std::string>{{"Host", "2.0"},
                                                          {"config.ini", "3.0"},
                                                          {"data.bin", "2.0"},
                                                          {"readme.txt", "3.0"},
                                                          {"skin.zip", "3.0"}}));

  // nginx serves its folder by path: the new release takes the old one's place.
  RemoveTree(release_);
  ASSERT_EQ(std::rename(release3.c_str(), release_.c_str()), 0);
  const std::size_t requestsBefore = nginx_.RequestedUris().size();
  ExpectFinishedUpdate();
  std::vector<std::string> requested = nginx_.RequestedUris();
  requested.erase(requested.begin(), requested.begin() + static_cast<long>(requestsBefore));
  std::sort(requested.begin(), requested.end());
  // The package comes as a patch against the zip the first update kept.
  ASSERT_EQ(requested.size(), 5u);
  EXPECT_EQ(requested.back().rfind("/skin.zip.", 0), 0u) << requested.back();
  requested.back() = "/skin.zip";
  EXPECT_EQ(requested, (std::vector<std::string>{"/UpdateList.xml", "/UpdateList.xml.minisig", "/config.ini",
                                                 "/readme.txt", "/skin.zip"}));
  ExpectInstalled(app3);
}

TEST_F(PublisherRelease, SignCommandDatesTheListAndTheUpdaterTakesIt) {
  const std::string app2 = Root("app2");
  ASSERT_TRUE(CopyFile(TEST_HOST_BINARY, app2 + "/Host"));
  ASSERT_TRUE(WriteFile(app2 + "/readme.txt", "Version two.\n"));
  ASSERT_TRUE(WriteFile(app2 + "/skin/main.css", "body {}\n"));
  Build(app2, "2.0", release_);
  // A public key that is not the secret key's own is caught.
  std::string output;
  ASSERT_TRUE(RunTool(kMinisign, {"-G", "-W", "-p", Root("other.pub"), "-s", Root("other.key")}, root_));
  EXPECT_FALSE(RunTool(RELEASE_TOOL_BINARY, {"sign", release_, "--secret-key", Root("k.key"), "--key", Root("other.pub")},
                       root_, &output));
  EXPECT_NE(output.find("does not verify"), std::string::npos) << output;

  const long before = static_cast<long>(std::time(nullptr));
  ASSERT_TRUE(RunTool(RELEASE_TOOL_BINARY,
                      {"sign", release_, "--secret-key", Root("k.key"), "--expires-in", "30", "--key", Root("k.pub")},
                      root_, &output))
      << output;
  const long after = static_cast<long>(std::time(nullptr));

  // Line 3 of the signature file: both fields, TAB-separated, thirty days apart.
  const std::string signature = ReadFile(Release("UpdateList.xml.minisig"));
  std::smatch fields;
  ASSERT_TRUE(std::regex_search(signature, fields,
                                std::regex("\ntrusted comment: timestamp:([0-9]+)\texpires:([0-9]+)\n")))
      << signature;
  const long timestamp = std::stol(fields[1]);
  EXPECT_GE(timestamp, before);
  EXPECT_LE(timestamp, after);
  EXPECT_EQ(std::stol(fields[2]), timestamp + 30L * 24 * 60 * 60);
  EXPECT_TRUE(RunTool(kMinisign, {"-V", "-p", Root("k.pub"), "-m", Release(kList)}, root_, &output)) << output;

  WriteLocalList("1.0", {{"1.0", "Host", ""}, {"1.0", "readme.txt", ""}});
  ASSERT_TRUE(WriteFile(App("readme.txt"), "Version one.\n"));
  StartServer();
  StartHost();
  ExpectFinishedUpdate();
  ExpectInstalled(app2);
}

}  // namespace
}  // namespace velmora::e2e
