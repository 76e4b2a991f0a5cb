// End-to-end runs of releases that velmora-release built with patches and compressed copies, and of resumed downloads.
#include <ostream>
#include <string>
#include <vector>

#include "e2e/e2e_fixture.h"
#include "e2e/tool_run.h"
#include "transfer/test_certificates.h"

namespace velmora::e2e {
namespace {

// What happens between installing version 1 and the update to version 2.
enum class Twist {
  kNone,
  kInstalledFileChanged,  // the installed data.bin is not the one the patch applies to
  kCorruptPatch,          // the server's patch of data.bin has other bytes
  kNoPrevious,            // version 2 is built without patches
  kHttp2,                 // the server speaks https and offers HTTP/2
  kKilled,                // a run is killed during data.bin, then the server serves it fully
  kKilledRangesIgnored,   // the same against a server that ignores Range
  kKilledListChanged,     // the same, then version 3 changes data.bin again
};

// How the last successful request of a file fetched it.
constexpr char kPatch[] = "patch", kCompressed[] = "compressed", kWhole[] = "whole", kResumed[] = "resumed";

struct Row {
  const char* name;
  Twist twist;
  const char* dataWay;   // data.bin: 2 MiB that no compressor shrinks
  const char* notesWay;  // notes.txt: text
  const char* skinWay;   // skin.zip: the package, one entry changed; "" when any way will do
};

// Test names show the row's name, not its bytes.
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

class LeanUpdate : public UpdaterTest, public ::testing::WithParamInterface<Row> {
 protected:
  std::string Root(const std::string& relative) const { return root_ + "/" + relative; }

  // Writes application version `version` (1, 2 or 3) into `folder`.
  void WriteApplication(const std::string& folder, unsigned version) {
    std::string data = Bytes(2u << 20, 1);
    std::string notes;
    for (unsigned line = 0; line < 2000 + version; ++line) notes += "line " + std::to_string(line) + " of the notes\n";
    if (version > 1) data.replace(data.size() / 2, 100, Bytes(100, version));
    ASSERT_TRUE(CopyFile(TEST_HOST_BINARY, folder + "/Host"));
    ASSERT_TRUE(WriteFile(folder + "/data.bin", data));
    ASSERT_TRUE(WriteFile(folder + "/notes.txt", notes));
    ASSERT_TRUE(WriteFile(folder + "/skin/big.dat", Bytes(300000, 9)));
    ASSERT_TRUE(WriteFile(folder + "/skin/theme.json", "{\"version\": " + std::to_string(version) + "}\n"));
  }

  // Builds version `version` into `out`, with patches against `previous`'s list when given.
  void Build(unsigned version, const std::string& out, const std::string& previous = "") {
    const std::string from = Root("app" + std::to_string(version));
    WriteApplication(from, version);
    std::vector<std::string> arguments{"build", "--from", from, "--version", std::to_string(version) + ".0",
                                       "--entry-point", "Host", "--package", "skin", "--out", out};
    if (!previous.empty()) arguments.insert(arguments.end(), {"--previous", previous + "/UpdateList.xml"});
    std::string output;
    ASSERT_TRUE(RunTool(RELEASE_TOOL_BINARY, arguments, root_, &output)) << output;
  }

  void Update() {
    RunUpdater({"start", base_.empty() ? nginx_.BaseUrl() : base_, std::to_string(HostStarts().back())});
    ASSERT_EQ(Status("Outcome"), "updated") << DescribeLog(Log());
  }

  // Starts a run and kills it once a good part of data.bin has arrived.
  void KillDuringDataFile() {
    nginx_.Stop();
    StartServer("location = /data.bin { limit_rate 256k; }\n");
    const pid_t updater = StartUpdater({"start", nginx_.BaseUrl(), std::to_string(HostStarts().back())});
    const bool arrived = WaitUntil(
        [&] {
          const std::vector<std::string> partial = ListFiles(App("temp/partial"));
          return std::any_of(partial.begin(), partial.end(), [&](const std::string& name) {
            return ReadFile(App("temp/partial/" + name)).size() >= (600u << 10);
          });
        },
        20);
    KillChild(updater);
    ASSERT_TRUE(arrived);
    nginx_.Stop();
    StartServer(GetParam().twist == Twist::kKilledRangesIgnored ? "max_ranges 0;\n" : "");
  }

  // Restarts the server with an https listener that offers HTTP/2, its
  // authority in UpdateCA.pem, and makes it the run's server.
  void ServeOverTls() {
    transfer::testing::TestAuthority authority;
    transfer::testing::KeyAndCertificate server;
    ASSERT_TRUE(authority.ok() && authority.Issue("IP:127.0.0.1", &server));
    ASSERT_TRUE(WriteFile(Root("server.pem"), server.CertificatePem()) &&
                WriteFile(Root("server.key"), server.KeyPem()) &&
                WriteFile(App("UpdateCA.pem"), authority.CertificatePem()));
    const std::string port = std::to_string(UnusedPort());
    nginx_.Stop();
    StartServer("listen 127.0.0.1:" + port + " ssl http2;\nssl_certificate " + Root("server.pem") +
                ";\nssl_certificate_key " + Root("server.key") + ";\n");
    base_ = "https://127.0.0.1:" + port + "/";
  }

  // How the requests since `first` fetched `name` in the end.
  std::string WayOf(const std::string& name, std::size_t first) const {
    std::string way;
    const std::vector<Nginx::Served> served = nginx_.Requests();
    for (std::size_t i = first; i < served.size(); ++i) {
      const Nginx::Served& request = served[i];
      if (request.status != 200 && request.status != 206) continue;
      if (request.uri == "/" + name) way = request.status == 206 ? kResumed : kWhole;
      if (request.uri == "/" + name + ".zst") way = kCompressed;
      if (request.uri.rfind("/" + name + ".", 0) == 0 && request.uri.size() > 7 &&
          request.uri.compare(request.uri.size() - 7, 7, ".zpatch") == 0) {
        way = kPatch;
      }
    }
    return way;
  }

  std::string base_;  // the run's server when not the plain one
};

TEST_P(LeanUpdate, EachFileComesTheCheapestWayThatWorksAndArrivesExact) {
  const Row& row = GetParam();
  Build(1, release_);
  StartServer();
  StartHost();
  Update();  // an installation of version 1, with the package's zip kept

  const std::string release2 = Root("release2");
  Build(2, release2, row.twist == Twist::kNoPrevious || row.twist >= Twist::kKilled ? "" : release_);
  RemoveTree(Root("release1"));
  ASSERT_EQ(std::rename(release_.c_str(), Root("release1").c_str()), 0);
  ASSERT_EQ(std::rename(release2.c_str(), release_.c_str()), 0);
  if (row.twist == Twist::kInstalledFileChanged) {
    ASSERT_TRUE(WriteFile(App("data.bin"), Bytes(2u << 20, 5)));
  }
  if (row.twist == Twist::kCorruptPatch) {
    for (const std::string& name : ListFiles(release_)) {
      if (name.rfind("data.bin.", 0) != 0) continue;
      ASSERT_TRUE(WriteFile(Release(name), Bytes(ReadFile(Release(name)).size(), 6)));
    }
  }
  unsigned installed = 2;
  if (row.twist >= Twist::kKilled) KillDuringDataFile();
  if (row.twist == Twist::kKilledListChanged) {
    RemoveTree(release_);
    Build(3, release_);
    installed = 3;
  }
  if (row.twist == Twist::kHttp2) {
    ASSERT_NO_FATAL_FAILURE(ServeOverTls());
  }
  const std::size_t first = nginx_.Requests().size();
  Update();
  if (row.twist == Twist::kHttp2) {
    for (std::size_t i = first; i < nginx_.Requests().size(); ++i) {
      EXPECT_EQ(nginx_.Requests()[i].protocol, "HTTP/2.0") << nginx_.Requests()[i].uri;
    }
  }

  EXPECT_EQ(WayOf("data.bin", first), row.dataWay);
  EXPECT_EQ(WayOf("notes.txt", first), row.notesWay);
  if (*row.skinWay != '\0') {
    EXPECT_EQ(WayOf("skin.zip", first), row.skinWay);
  }
  const std::string from = Root("app" + std::to_string(installed));
  for (const std::string& file : ListFiles(from)) EXPECT_EQ(ReadFile(App(file)), ReadFile(from + "/" + file)) << file;
  EXPECT_EQ(ListFiles(App("skin")), ListFiles(from + "/skin"));
  EXPECT_FALSE(Exists(App("temp"))) << "a run that completed leaves no download folder";
  for (const Nginx::Served& request : nginx_.Requests()) {
    if (request.status != 206) continue;
    EXPECT_LT(request.bytes, 2u << 20) << "a resumed request sends only the rest";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ways, LeanUpdate,
    ::testing::Values(
        Row{"DeltaApplied", Twist::kNone, kPatch, kPatch, kPatch},
        Row{"BaseDoesNotMatch", Twist::kInstalledFileChanged, kWhole, kPatch, kPatch},
        Row{"CorruptPatch", Twist::kCorruptPatch, kWhole, kPatch, kPatch},
        Row{"CompressedFile", Twist::kNoPrevious, kWhole, kCompressed, ""},
        Row{"DeltasOverHttp2", Twist::kHttp2, kPatch, kPatch, kPatch},
        Row{"ResumedAfterKill", Twist::kKilled, kResumed, kCompressed, ""},
        Row{"ServerIgnoresRange", Twist::kKilledRangesIgnored, kWhole, kCompressed, ""},
        Row{"PartialDroppedAfterListChanged", Twist::kKilledListChanged, kWhole, kCompressed, ""}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmora::e2e
