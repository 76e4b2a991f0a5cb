// End-to-end tests of signed update lists: lists and files signed with minisign, refused or applied as a whole.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <functional>

#include "diagnostics/messages.h"
#include "e2e/refused_run.h"
#include "e2e/tool_run.h"

namespace velmora::e2e {
namespace {

namespace msg = velmora::diagnostics;

constexpr char kList[] = "UpdateList.xml";
constexpr char kSignature[] = "UpdateList.xml.minisig";

// One file of a signed release; an unpinned one is listed without its hash.
struct SignedFile {
  std::string key;
  std::string version;
  std::string content;
  bool pinned = true;
};

// Changes the byte at `at` (counted from the end when negative) by its lowest
// bit, so a digit stays a digit.
void ChangeOneByte(const std::string& path, long at) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekg(at, at < 0 ? std::ios::end : std::ios::beg);
  const std::streampos position = file.tellg();
  const char byte = static_cast<char>(file.get() ^ 0x01);
  file.seekp(position);
  file.put(byte);
  ASSERT_TRUE(file.good()) << path;
}

class SignedUpdate : public RefusedRunTest {
 protected:
  void SetUp() override {
    RefusedRunTest::SetUp();
    ASSERT_TRUE(Tool("/usr/bin/minisign", {"-G", "-W", "-p", Key("k.pub"), "-s", Key("k.key")}));
    ASSERT_TRUE(Tool("/usr/bin/minisign", {"-G", "-W", "-p", Key("other.pub"), "-s", Key("other.key")}));
    ASSERT_TRUE(CopyFile(Key("k.pub"), App("UpdateKey.pub")));
  }

  std::string Key(const std::string& name) const { return root_ + "/" + name; }

  bool Tool(const std::string& program, const std::vector<std::string>& arguments, std::string* output = nullptr) {
    return RunTool(program, arguments, root_, output);
  }

  std::string Sha256Of(const std::string& path) {
    std::string output;
    EXPECT_TRUE(Tool("/usr/bin/openssl", {"dgst", "-sha256", "-r", path}, &output)) << output;
    return output.substr(0, 64);
  }

  // Writes the release and its list with a Sha256 for every pinned file,
  // then signs the list with `signer` at `timestamp`.
  void PublishSigned(const std::string& appVersion, const std::vector<SignedFile>& files, long timestamp,
                     const std::string& signer = "k", bool legacy = false) {
    std::vector<ListFile> entries;
    for (const SignedFile& file : files) {
      const std::string path = Release(KeyToPath(file.key));
      ASSERT_TRUE(WriteFile(path, file.content));
      std::string attributes = std::to_string(file.content.size());
      // The list writer puts the third attribute between quotes as it stands.
      if (file.pinned) attributes += "\" Sha256=\"" + Sha256Of(path);
      entries.push_back({file.version, file.key, attributes});
    }
    ASSERT_TRUE(WriteFile(Release(kList), MakeUpdateList(appVersion, "Host", entries)));
    // nginx derives its validators from the modification time in seconds and
    // the size: each list gets a time of its own, so a list published within
    // the second of the last fetch is not answered 304.
    const timespec times[2] = {{0, UTIME_OMIT}, {1000000000 + ++publications_, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, Release(kList).c_str(), times, 0), 0);
    Sign(timestamp, signer, legacy);
  }

  // Signs the served list; `expires` (a Unix time, 0 for none) follows the
  // timestamp in the trusted comment as minisign separates its fields.
  void Sign(long timestamp, const std::string& signer = "k", bool legacy = false, long expires = 0) {
    std::string comment = "timestamp:" + std::to_string(timestamp);
    if (expires != 0) comment += "\texpires:" + std::to_string(expires);
    std::vector<std::string> arguments{"-S", "-s", Key(signer + ".key"), "-m", Release(kList), "-t", comment};
    if (legacy) arguments.insert(arguments.begin() + 1, "-l");
    std::string output;
    ASSERT_TRUE(Tool("/usr/bin/minisign", arguments, &output)) << output;
  }

  // Changes the lines of the served signature file.
  void EditSignature(const std::function<void(std::vector<std::string>&)>& edit) {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(Release(kSignature)));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 4u);
    edit(lines);
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    ASSERT_TRUE(WriteFile(Release(kSignature), text));
  }

  // The run applied the list: it ended with the host restarted, and with a
  // key it never said that none is configured.
  void ExpectFinishedRun(pid_t host) {
    RemoveTree(App("log"));
    const std::size_t starts = HostStarts().size();
    EXPECT_TRUE(RunUpdate(std::to_string(host)).exited);
    const std::vector<LogLine> log = ReadLog(app_);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().message, msg::kUpdateFinished) << DescribeLog(log);
    EXPECT_EQ(CountMessage(log, msg::kNoUpdateKey), 0);
    EXPECT_TRUE(WaitForHostStarts(starts + 1));
  }

  // Installs a.dll 1.0 beside the updater and starts the host.
  void InstallVersion1() {
    ASSERT_TRUE(WriteFile(App("a.dll"), Bytes(300, 1)));
    WriteLocalList("1.0", {{"1.0", "Velmora", ""}, {"1.0", "a.dll", "300"}});
    StartServer();
    StartHost();
  }

  // Version 2.0: a.dll changes, a package comes new, the updater stays.
  std::vector<SignedFile> Version2() const {
    return {{"Velmora", "1.0", ReadFile(App("Velmora"))},
            {"a.dll", "2.0", Bytes(400, 2)},
            {"skin.zip", "2.0", MakeZip({{"main.css", Bytes(2000, 3)}, {"img/logo.png", Bytes(5000, 4)}})}};
  }

  long publications_ = 0;  // lists published so far, for their modification times
};

TEST_F(SignedUpdate, EveryFaultOfListSignatureOrContentLeavesTheInstallationAsItWas) {
  InstallVersion1();
  const std::vector<std::string> refused{msg::kSignatureCheckFailed};
  auto hashFailed = [](const std::string& name) {
    return std::vector<std::string>{msg::kHashCheckFailedPrefix + name};
  };
  std::vector<SignedFile> unpinned = Version2();
  unpinned[1].pinned = false;
  std::vector<SignedFile> selfUpdate = Version2();
  selfUpdate[0] = {"Velmora", "2.0", selfUpdate[0].content + std::string(4096, 'Z')};
  std::vector<SignedFile> alias = Version2();
  alias.push_back({"UPDATE~1.PUB", "2.0", ReadFile(Key("other.pub"))});
  const long now = static_cast<long>(std::time(nullptr));
  const std::vector<std::string> keyUnreadable{msg::kUpdateKeyUnreadable};
  std::vector<SignedFile> large = Version2();
  constexpr std::size_t kLargeBytes = 256u << 20;
  large.push_back({"big.bin", "2.0", std::string(kLargeBytes, 'L')});

  // The update time of the list: a changed digit keeps the list readable.
  const long timeAt = static_cast<long>(MakeUpdateList("", "", {}).find("06:00:00"));
  struct Case {
    const char* what;
    std::function<void()> prepare;  // changes the signed version 2.0 release
    std::vector<std::string> log;
  };
  const std::vector<Case> cases = {
      {"list changed by one byte after signing", [&] { ChangeOneByte(Release(kList), timeAt); }, refused},
      {"signed by another key", [&] { Sign(100, "other"); }, refused},
      {"no signature (404)", [&] { RemoveTree(Release(kSignature)); }, refused},
      {"empty signature", [&] { WriteFile(Release(kSignature), ""); }, refused},
      {"truncated signature", [&] { EditSignature([](auto& l) { l[1].resize(l[1].size() - 4); }); }, refused},
      {"non-base64 signature", [&] { EditSignature([](auto& l) { l[1][20] = '*'; }); }, refused},
      {"trusted comment changed", [&] { EditSignature([](auto& l) { l[2] += "1"; }); }, refused},
      {"a file without Sha256", [&] { PublishSigned("2.0", unpinned, 100); }, refused},
      {"a file changed by one byte", [&] { ChangeOneByte(Release("a.dll"), 200); }, hashFailed("a.dll")},
      {"a package changed by one byte", [&] { ChangeOneByte(Release("skin.zip"), 3000); }, hashFailed("skin.zip")},
      {"updater with a wrong hash",
       [&] {
         PublishSigned("2.0", selfUpdate, 100);
         ChangeOneByte(Release("Velmora"), -1);
       },
       {msg::kSelfUpdateStarted, msg::kSelfDownloadFinished, msg::kHashCheckFailedPrefix + std::string("Velmora")}},
      {"trusted comment without a timestamp",
       [&] {
         ASSERT_TRUE(Tool("/usr/bin/minisign", {"-S", "-s", Key("k.key"), "-m", Release(kList), "-t", "release 2.0"}));
       },
       refused},
      {"256 MiB file changed in its last byte",
       [&] {
         PublishSigned("2.0", large, 100);
         ChangeOneByte(Release("big.bin"), -1);
       },
       hashFailed("big.bin")},
      {"a short name Windows could give the update key", [&] { PublishSigned("2.0", alias, 100); },
       {msg::kListParseFailed}},
      {"a list past its expiry", [&] { Sign(100, "k", false, now - 60); }, {msg::kListExpired}},
      // Last, as they change the installation: a kept signing time that does
      // not read, then key files that are no key or cannot be read at all.
      {"a garbled kept signing time", [&] { WriteFile(App("UpdateList.timestamp"), "99x\n"); }, refused},
      {"a key file that holds no key", [&] { WriteFile(App("UpdateKey.pub"), "untrusted comment: none\n"); }, refused},
      {"a key file that is a folder",
       [&] {
         RemoveTree(App("UpdateKey.pub"));
         ASSERT_EQ(::mkdir(App("UpdateKey.pub").c_str(), 0755), 0);
       },
       keyUnreadable},
      {"a key file larger than any key", [&] {
         RemoveTree(App("UpdateKey.pub"));
         WriteFile(App("UpdateKey.pub"), std::string(65 * 1024, 'k'));
       }, keyUnreadable},
      {"a key file that is a link to nothing",
       [&] {
         RemoveTree(App("UpdateKey.pub"));
         ASSERT_EQ(::symlink((root_ + "/gone.pub").c_str(), App("UpdateKey.pub").c_str()), 0);
       },
       keyUnreadable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PublishSigned("2.0", Version2(), 100);
    c.prepare();
    ExpectRefusedRun(c.log, hostPid_);
  }
}

TEST_F(SignedUpdate, AReleaseSignedWithTheKeyRotatesItAndTheOldKeyStopsWorking) {
  InstallVersion1();
  std::vector<SignedFile> rotation = Version2();
  rotation.push_back({"UpdateKey.pub", "2.0", ReadFile(Key("other.pub"))});
  PublishSigned("2.0", rotation, 100);
  ExpectFinishedRun(hostPid_);
  EXPECT_EQ(ReadFile(App("UpdateKey.pub")), ReadFile(Key("other.pub")));

  std::vector<SignedFile> next = rotation;
  next[1] = {"a.dll", "3.0", Bytes(500, 5)};
  PublishSigned("3.0", next, 200, "other");
  ExpectFinishedRun(HostStarts().back());
  EXPECT_EQ(ReadFile(App("a.dll")), Bytes(500, 5));

  next[1] = {"a.dll", "4.0", Bytes(600, 6)};
  PublishSigned("4.0", next, 300, "k");
  ExpectRefusedRun({msg::kSignatureCheckFailed}, HostStarts().back());
  // Without a key, a list may never name the key.
  RemoveTree(App("UpdateKey.pub"));
  ExpectRefusedRun({msg::kListParseFailed}, HostStarts().back());
}

TEST_F(SignedUpdate, LegacySignaturesCountAndTheSigningTimeNeverGoesBack) {
  InstallVersion1();
  PublishSigned("2.0", Version2(), 200, "k", true);
  ExpectFinishedRun(hostPid_);
  EXPECT_EQ(ReadFile(App("a.dll")), Bytes(400, 2));

  // Version 3.0 signed before the list now installed was: an old list served again.
  std::vector<SignedFile> version3 = Version2();
  version3[1] = {"a.dll", "3.0", Bytes(500, 5)};
  PublishSigned("3.0", version3, 199);
  ExpectRefusedRun({msg::kSignatureCheckFailed}, HostStarts().back());

  PublishSigned("3.0", version3, 200);
  ExpectFinishedRun(HostStarts().back());
  EXPECT_EQ(ReadFile(App("a.dll")), Bytes(500, 5));
}

TEST_F(SignedUpdate, TheRestartedUpdaterAcceptsTheListItsSelfUpdateCameFrom) {
  InstallVersion1();
  std::vector<SignedFile> files = Version2();
  files[0] = {"Velmora", "2.0", files[0].content + std::string(4096, 'Z')};
  PublishSigned("2.0", files, 300);
  EXPECT_TRUE(RunUpdate(std::to_string(hostPid_)).exited);
  // The restarted updater fetches the same list, signed at the time now kept.
  const bool finished = WaitUntil([&] {
    const std::vector<pid_t> running = ProcessesRunningFrom(app_);
    return CountMessage(ReadLog(app_), msg::kUpdateFinished) == 1 &&
           std::all_of(running.begin(), running.end(), [&](pid_t pid) { return ExecutableOf(pid) == App("Host"); });
  }, 60);
  ASSERT_TRUE(finished) << DescribeLog(ReadLog(app_));
  EXPECT_EQ(CountMessage(ReadLog(app_), msg::kSignatureCheckFailed), 0);
  EXPECT_EQ(ReadFile(App("Velmora")), files[0].content);
  EXPECT_EQ(ReadFile(App("a.dll")), files[1].content);
}

using UnsignedUpdate = UpdaterTest;

TEST_F(UnsignedUpdate, WithoutAKeyOneNoticeFollowsTheListFetch) {
  ASSERT_TRUE(WriteFile(App("a.dll"), "one"));
  WriteLocalList("1.0", {{"1.0", "a.dll", ""}});
  Publish("2.0", {{"a.dll", "2.0", "two"}});
  StartServer();
  StartHost();
  EXPECT_TRUE(RunUpdate(std::to_string(hostPid_)).exited);
  const std::vector<LogLine> log = ReadLog(app_);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front().level, "INFO");
  EXPECT_EQ(log.front().message, msg::kNoUpdateKey);
  EXPECT_EQ(CountMessage(log, msg::kNoUpdateKey), 1) << DescribeLog(log);
  EXPECT_EQ(log.back().message, msg::kUpdateFinished);
}

}  // namespace
}  // namespace velmora::e2e
