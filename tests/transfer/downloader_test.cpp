// Tests of DownloadFile against a real HTTP server on 127.0.0.1.
#include "transfer/downloader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/encoding.h"
#include "support/temp_folder.h"
#include "transfer/test_routes.h"
#include "transfer/test_server.h"
#include "transfer/transfer_options.h"

namespace velmora::transfer {
namespace {

namespace fs = std::filesystem;
using namespace velmora::transfer::testing;

constexpr char kExpectedUserAgent[] =
    "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/55.0.2883.87 Safari/537.36";

class DownloadFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AddRoutes(server_);
    ASSERT_TRUE(server_.Start());
  }

  // The target as the updater writes it: `name` may hold backslashes.
  std::u16string Target(const std::string& name) const { return platform::Utf8ToWide(dir_.string() + "/" + name); }
  std::string Url(const std::string& path) const { return server_.BaseUrl() + path; }

  velmora::testing::TempFolder folder_;
  const fs::path dir_ = folder_.Path();
  TestServer server_;
};

TEST_F(DownloadFileTest, StatusOkWritesTheBodyAndSucceeds) {
  EXPECT_TRUE(DownloadFile(Url("hello.bin"), Target("hello.bin")));
  EXPECT_EQ(ReadAll(dir_ / "hello.bin"), "hello, velmora");

  EXPECT_TRUE(DownloadFile(Url("empty"), Target("empty.bin")));
  ASSERT_TRUE(fs::exists(dir_ / "empty.bin"));
  EXPECT_EQ(fs::file_size(dir_ / "empty.bin"), 0u);
}

TEST_F(DownloadFileTest, NotFoundFailsButKeepsTheErrorBodyInTheFile) {
  EXPECT_FALSE(DownloadFile(Url("missing"), Target("missing.bin")));
  EXPECT_EQ(ReadAll(dir_ / "missing.bin"), "no such file here");
}

TEST_F(DownloadFileTest, FollowsFiveRedirectsButNotSix) {
  EXPECT_TRUE(DownloadFile(Url("r/5"), Target("five.bin")));
  EXPECT_EQ(ReadAll(dir_ / "five.bin"), "arrived");
  EXPECT_EQ(server_.Requests().back().path, "/r/0");

  EXPECT_FALSE(DownloadFile(Url("r/6"), Target("six.bin")));
  EXPECT_NE(ReadAll(dir_ / "six.bin"), "arrived");
}

TEST_F(DownloadFileTest, RequestsBackslashesInTheUrlAsForwardSlashes) {
  EXPECT_TRUE(DownloadFile(Url("dir\\sub\\file.bin"), Target("file.bin")));
  ASSERT_EQ(server_.Requests().size(), 1u);
  EXPECT_EQ(server_.Requests()[0].path, "/dir/sub/file.bin");
  EXPECT_EQ(ReadAll(dir_ / "file.bin"), "nested");
}

TEST_F(DownloadFileTest, SendsTheFixedUserAgent) {
  ASSERT_TRUE(DownloadFile(Url("hello.bin"), Target("hello.bin")));
  ASSERT_EQ(server_.Requests().size(), 1u);
  EXPECT_EQ(server_.Requests()[0].userAgent, kExpectedUserAgent);
  EXPECT_EQ(server_.Requests()[0].userAgent.size(), 108u);
}

TEST_F(DownloadFileTest, CreatesMissingFoldersWithSingleSeparatorsForDoubledBackslashes) {
  EXPECT_TRUE(DownloadFile(Url("hello.bin"), Target("a\\\\b\\\\c.bin")));
  EXPECT_TRUE(fs::is_directory(dir_ / "a" / "b"));
  EXPECT_EQ(ReadAll(dir_ / "a" / "b" / "c.bin"), "hello, velmora");
}

TEST_F(DownloadFileTest, EmptyUrlOrPathFailsWithoutTouchingAnything) {
  WriteAll(dir_ / "keep.bin", "old");
  EXPECT_FALSE(DownloadFile("", Target("keep.bin")));
  EXPECT_FALSE(DownloadFile(Url("hello.bin"), u""));
  EXPECT_FALSE(DownloadFile("", Target("new\\keep.bin")));
  EXPECT_EQ(ReadAll(dir_ / "keep.bin"), "old");
  EXPECT_FALSE(fs::exists(dir_ / "new"));
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(DownloadFileTest, ExistingTargetIsDeletedRatherThanOverwrittenInPlace) {
  // A second name for the old file shows whether it was unlinked or truncated.
  WriteAll(dir_ / "old.bin", "old content");
  fs::create_hard_link(dir_ / "old.bin", dir_ / "other-name.bin");
  EXPECT_TRUE(DownloadFile(Url("hello.bin"), Target("old.bin")));
  EXPECT_EQ(ReadAll(dir_ / "old.bin"), "hello, velmora");
  EXPECT_EQ(ReadAll(dir_ / "other-name.bin"), "old content");
}

TEST_F(DownloadFileTest, FailedTransferDoesNotBringTheOldFileBack) {
  std::string closedUrl;
  {
    TestServer gone;
    ASSERT_TRUE(gone.Start());
    closedUrl = gone.BaseUrl() + "hello.bin";
  }
  WriteAll(dir_ / "old.bin", "old content");
  EXPECT_FALSE(DownloadFile(closedUrl, Target("old.bin")));
  EXPECT_NE(ReadAll(dir_ / "old.bin"), "old content");
}

TEST_F(DownloadFileTest, BrokenConnectionFailsAndKeepsThePartialFile) {
  EXPECT_FALSE(DownloadFile(Url("drop"), Target("drop.bin")));
  EXPECT_EQ(ReadAll(dir_ / "drop.bin"), std::string(100, 'd'));
}

TEST_F(DownloadFileTest, TargetThatCannotBeOpenedFails) {
  fs::create_directories(dir_ / "taken");
  EXPECT_FALSE(DownloadFile(Url("hello.bin"), Target("taken")));
  EXPECT_TRUE(fs::is_directory(dir_ / "taken"));
}

TEST_F(DownloadFileTest, OnlyWebAddressesAreFetchedEvenThroughRedirects) {
  WriteAll(dir_ / "local.txt", "local secret");
  EXPECT_FALSE(DownloadFile("file://" + (dir_ / "local.txt").string(), Target("copy.bin")));
  EXPECT_NE(ReadAll(dir_ / "copy.bin"), "local secret");
  EXPECT_FALSE(DownloadFile(Url("to-file"), Target("redirected.bin")));
}

TEST_F(DownloadFileTest, SecondDownloadReusesTheConnectionToTheSameServer) {
  ASSERT_TRUE(DownloadFile(Url("hello.bin"), Target("1.bin")));
  ASSERT_FALSE(DownloadFile(Url("missing"), Target("2.bin")));
  ASSERT_TRUE(DownloadFile(Url("dir/sub/file.bin"), Target("3.bin")));
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].clientPort, requests[0].clientPort);
  EXPECT_EQ(requests[2].clientPort, requests[0].clientPort);
}

TEST_F(DownloadFileTest, PrintsSpeedAndProgressToStandardOutput) {
  ::testing::internal::CaptureStdout();
  const bool ok = DownloadFile(Url("big"), Target("big.bin"));
  const std::string report = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(ok);
  EXPECT_NE(report.find("\n speed: "), std::string::npos);
  EXPECT_NE(report.find(" /s\n"), std::string::npos);
  EXPECT_NE(report.find("\n262144.00 / 262144.00 (100.00 %)"), std::string::npos);
  EXPECT_NE(report.back(), '\n');
}

TEST_F(DownloadFileTest, UnknownTotalReportsZeroPercent) {
  ::testing::internal::CaptureStdout();
  const bool ok = DownloadFile(Url("chunked"), Target("chunked.bin"));
  const std::string report = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(ok);
  EXPECT_EQ(fs::file_size(dir_ / "chunked.bin"), 3000u);
  EXPECT_NE(report.find(" / 0.00 (0.00 %)"), std::string::npos);
  EXPECT_EQ(report.find("nan"), std::string::npos);
  EXPECT_EQ(report.find("inf"), std::string::npos);
}

TEST_F(DownloadFileTest, StalledServerIsAbandonedByTheLowSpeedLimit) {
  TransferOptions options = DefaultTransferOptions();
  options.lowSpeedSeconds = 2;
  SetTransferOptions(options);
  // The server gives up by itself after 60 s, so this wait is bounded either way.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(DownloadFile(Url("stall"), Target("stall.bin")));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  SetTransferOptions(DefaultTransferOptions());
  EXPECT_GE(elapsed, std::chrono::milliseconds(1500));
  EXPECT_LE(elapsed, std::chrono::seconds(20));  // the speed is averaged over a few seconds
  EXPECT_EQ(ReadAll(dir_ / "stall.bin"), "0123456789");
}

TEST(DownloadFileHttps, SelfSignedServerIsRefusedUnlessCertificateChecksAreOff) {
  TestServer server(TestServer::Kind::kHttps);
  server.Routes().Get("/secure.bin", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("over tls", "application/octet-stream");
  });
  ASSERT_TRUE(server.Start());
  velmora::testing::TempFolder folder;
  for (const bool verify : {true, false}) {
    TransferOptions options = DefaultTransferOptions();
    options.verifyPeer = verify;
    SetTransferOptions(options);
    const std::string name = verify ? "checked.bin" : "unchecked.bin";
    EXPECT_EQ(DownloadFile(server.BaseUrl() + "secure.bin", platform::Utf8ToWide(folder.Dir() + name)), !verify);
    EXPECT_EQ(ReadAll(folder.Path() / name) == "over tls", !verify);
  }
  SetTransferOptions(DefaultTransferOptions());
}

}  // namespace
}  // namespace velmora::transfer
