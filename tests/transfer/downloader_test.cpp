// Tests of single downloads of a TransferSession against a real HTTP server on 127.0.0.1.
#include "transfer/session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/encoding.h"
#include "support/temp_folder.h"
#include "transfer/test_routes.h"
#include "transfer/test_server.h"

namespace velmora::transfer {
namespace {

namespace fs = std::filesystem;
using namespace velmora::transfer::testing;

constexpr char kExpectedUserAgent[] =
    "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/55.0.2883.87 Safari/537.36";

class DownloaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AddRoutes(server_);
    ASSERT_TRUE(server_.Start());
  }

  // The target as the updater writes it: `name` may hold backslashes.
  std::u16string Target(const std::string& name) const { return platform::Utf8ToWide(dir_.string() + "/" + name); }
  std::string Url(const std::string& path) const { return server_.BaseUrl() + path; }
  // True only for kOk.
  bool Fetch(const std::string& url, const std::u16string& path) {
    DownloadRequest request;
    request.url = url;
    request.path = path;
    return session_.Download(request).status == DownloadStatus::kOk;
  }

  velmora::testing::TempFolder folder_;
  const fs::path dir_ = folder_.Path();
  TestServer server_;
  TransferSession session_;
};

TEST_F(DownloaderTest, StatusOkWritesTheBodyAndSucceeds) {
  EXPECT_TRUE(Fetch(Url("hello.bin"), Target("hello.bin")));
  EXPECT_EQ(ReadAll(dir_ / "hello.bin"), "hello, velmora");

  EXPECT_TRUE(Fetch(Url("empty"), Target("empty.bin")));
  ASSERT_TRUE(fs::exists(dir_ / "empty.bin"));
  EXPECT_EQ(fs::file_size(dir_ / "empty.bin"), 0u);
}

TEST_F(DownloaderTest, NotFoundFailsButKeepsTheErrorBodyInTheFile) {
  EXPECT_FALSE(Fetch(Url("missing"), Target("missing.bin")));
  EXPECT_EQ(ReadAll(dir_ / "missing.bin"), "no such file here");
}

TEST_F(DownloaderTest, FollowsFiveRedirectsButNotSix) {
  EXPECT_TRUE(Fetch(Url("r/5"), Target("five.bin")));
  EXPECT_EQ(ReadAll(dir_ / "five.bin"), "arrived");
  EXPECT_EQ(server_.Requests().back().path, "/r/0");

  EXPECT_FALSE(Fetch(Url("r/6"), Target("six.bin")));
  EXPECT_NE(ReadAll(dir_ / "six.bin"), "arrived");
}

TEST_F(DownloaderTest, RequestsBackslashesInTheUrlAsForwardSlashes) {
  EXPECT_TRUE(Fetch(Url("dir\\sub\\file.bin"), Target("file.bin")));
  ASSERT_EQ(server_.Requests().size(), 1u);
  EXPECT_EQ(server_.Requests()[0].path, "/dir/sub/file.bin");
  EXPECT_EQ(ReadAll(dir_ / "file.bin"), "nested");
}

TEST_F(DownloaderTest, SendsTheFixedUserAgent) {
  ASSERT_TRUE(Fetch(Url("hello.bin"), Target("hello.bin")));
  ASSERT_EQ(server_.Requests().size(), 1u);
  EXPECT_EQ(server_.Requests()[0].userAgent, kExpectedUserAgent);
  EXPECT_EQ(server_.Requests()[0].userAgent.size(), 108u);
}

TEST_F(DownloaderTest, CreatesMissingFolders) {
  EXPECT_TRUE(Fetch(Url("hello.bin"), Target("a\\b\\c.bin")));
  EXPECT_TRUE(fs::is_directory(dir_ / "a" / "b"));
  EXPECT_EQ(ReadAll(dir_ / "a" / "b" / "c.bin"), "hello, velmora");
}

TEST_F(DownloaderTest, EmptyUrlOrPathFailsWithoutTouchingAnything) {
  WriteAll(dir_ / "keep.bin", "old");
  EXPECT_FALSE(Fetch("", Target("keep.bin")));
  EXPECT_FALSE(Fetch(Url("hello.bin"), u""));
  EXPECT_FALSE(Fetch("", Target("new\\keep.bin")));
  EXPECT_EQ(ReadAll(dir_ / "keep.bin"), "old");
  EXPECT_FALSE(fs::exists(dir_ / "new"));
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(DownloaderTest, ExistingTargetIsDeletedRatherThanOverwrittenInPlace) {
  // A second name for the old file shows whether it was unlinked or truncated.
  WriteAll(dir_ / "old.bin", "old content");
  fs::create_hard_link(dir_ / "old.bin", dir_ / "other-name.bin");
  EXPECT_TRUE(Fetch(Url("hello.bin"), Target("old.bin")));
  EXPECT_EQ(ReadAll(dir_ / "old.bin"), "hello, velmora");
  EXPECT_EQ(ReadAll(dir_ / "other-name.bin"), "old content");
}

TEST_F(DownloaderTest, FailedTransferDoesNotBringTheOldFileBack) {
  std::string closedUrl;
  {
    TestServer gone;
    ASSERT_TRUE(gone.Start());
    closedUrl = gone.BaseUrl() + "hello.bin";
  }
  WriteAll(dir_ / "old.bin", "old content");
  EXPECT_FALSE(Fetch(closedUrl, Target("old.bin")));
  EXPECT_NE(ReadAll(dir_ / "old.bin"), "old content");
}

TEST_F(DownloaderTest, BrokenConnectionFailsAndKeepsThePartialFile) {
  EXPECT_FALSE(Fetch(Url("drop"), Target("drop.bin")));
  EXPECT_EQ(ReadAll(dir_ / "drop.bin"), std::string(100, 'd'));
}

TEST_F(DownloaderTest, TargetThatCannotBeOpenedFails) {
  fs::create_directories(dir_ / "taken");
  EXPECT_FALSE(Fetch(Url("hello.bin"), Target("taken")));
  EXPECT_TRUE(fs::is_directory(dir_ / "taken"));
}

TEST_F(DownloaderTest, OnlyWebAddressesAreFetchedEvenThroughRedirects) {
  WriteAll(dir_ / "local.txt", "local secret");
  EXPECT_FALSE(Fetch("file://" + (dir_ / "local.txt").string(), Target("copy.bin")));
  EXPECT_NE(ReadAll(dir_ / "copy.bin"), "local secret");
  EXPECT_FALSE(Fetch(Url("to-file"), Target("redirected.bin")));
}

TEST_F(DownloaderTest, SecondDownloadReusesTheConnectionToTheSameServer) {
  ASSERT_TRUE(Fetch(Url("hello.bin"), Target("1.bin")));
  ASSERT_FALSE(Fetch(Url("missing"), Target("2.bin")));
  ASSERT_TRUE(Fetch(Url("dir/sub/file.bin"), Target("3.bin")));
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].clientPort, requests[0].clientPort);
  EXPECT_EQ(requests[2].clientPort, requests[0].clientPort);
}

TEST_F(DownloaderTest, PrintsSpeedAndProgressToStandardOutput) {
  ::testing::internal::CaptureStdout();
  const bool ok = Fetch(Url("big"), Target("big.bin"));
  const std::string report = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(ok);
  EXPECT_NE(report.find("\n speed: "), std::string::npos);
  EXPECT_NE(report.find(" /s\n"), std::string::npos);
  EXPECT_NE(report.find("\n262144.00 / 262144.00 (100.00 %)"), std::string::npos);
  EXPECT_NE(report.back(), '\n');
}

TEST_F(DownloaderTest, UnknownTotalReportsZeroPercent) {
  ::testing::internal::CaptureStdout();
  const bool ok = Fetch(Url("chunked"), Target("chunked.bin"));
  const std::string report = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(ok);
  EXPECT_EQ(fs::file_size(dir_ / "chunked.bin"), 3000u);
  EXPECT_NE(report.find(" / 0.00 (0.00 %)"), std::string::npos);
  EXPECT_EQ(report.find("nan"), std::string::npos);
  EXPECT_EQ(report.find("inf"), std::string::npos);
}

}  // namespace
}  // namespace velmora::transfer
