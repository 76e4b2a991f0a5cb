// Tests of DownloadFile against a real HTTP server on 127.0.0.1.
#include "transfer/downloader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "support/file_support.h"
#include "support/temp_folder.h"
#include "transfer/test_server.h"

namespace velmora::transfer {
namespace {

namespace fs = std::filesystem;
using velmora::testing::ReadFile;
using velmora::testing::WriteFile;
using velmora::transfer::testing::TestServer;

constexpr char kExpectedUserAgent[] =
    "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/55.0.2883.87 Safari/537.36";

// Registers the routes every test may use.
void AddRoutes(TestServer& server) {
  httplib::Server& routes = server.Routes();
  routes.Get("/hello.bin", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("hello, velmora", "application/octet-stream");
  });
  routes.Get("/empty", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("", "application/octet-stream");
  });
  routes.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
    res.status = 404;
    res.set_content("no such file here", "text/plain");
  });
  routes.Get(R"(/r/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
    const int left = std::stoi(req.matches[1]);
    if (left == 0) {
      res.set_content("arrived", "application/octet-stream");
    } else {
      res.set_redirect("/r/" + std::to_string(left - 1));
    }
  });
  routes.Get("/to-file", [](const httplib::Request&, httplib::Response& res) {
    res.set_redirect("file:///etc/hostname");
  });
  routes.Get("/dir/sub/file.bin", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("nested", "application/octet-stream");
  });
  routes.Get("/big", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(std::string(256 * 1024, 'b'), "application/octet-stream");
  });
  routes.Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("application/octet-stream",
                                     [](std::size_t offset, httplib::DataSink& sink) {
                                       if (offset < 3000) {
                                         sink.write(std::string(1000, 'c').data(), 1000);
                                       } else {
                                         sink.done();
                                       }
                                       return true;
                                     });
  });
  // Announces 1000 bytes, sends 100 and closes the connection.
  routes.Get("/drop", [](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(1000, "application/octet-stream",
                             [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                               if (offset != 0) return false;
                               return sink.write(std::string(100, 'd').data(), 100);
                             });
  });
  // Announces 1000 bytes, sends 10, then nothing until released (at most 60 s).
  routes.Get("/stall", [&server](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(1000, "application/octet-stream",
                             [&server](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                               if (offset == 0) return sink.write("0123456789", 10);
                               server.WaitForRelease(60);
                               return false;
                             });
  });
}

class DownloadFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AddRoutes(server_);
    ASSERT_TRUE(server_.Start());
  }

  // The target as the updater writes it: `name` may hold backslashes.
  std::string Target(const std::string& name) const { return dir_.string() + "/" + name; }
  std::string Url(const std::string& path) const { return server_.BaseUrl() + path; }

  velmora::testing::TempFolder folder_;
  const fs::path dir_ = folder_.Path();
  TestServer server_;
};

TEST_F(DownloadFileTest, StatusOkWritesTheBodyAndSucceeds) {
  EXPECT_TRUE(DownloadFile(Url("hello.bin"), Target("hello.bin")));
  EXPECT_EQ(ReadFile(dir_ / "hello.bin"), "hello, velmora");

  EXPECT_TRUE(DownloadFile(Url("empty"), Target("empty.bin")));
  ASSERT_TRUE(fs::exists(dir_ / "empty.bin"));
  EXPECT_EQ(fs::file_size(dir_ / "empty.bin"), 0u);
}

TEST_F(DownloadFileTest, NotFoundFailsButKeepsTheErrorBodyInTheFile) {
  EXPECT_FALSE(DownloadFile(Url("missing"), Target("missing.bin")));
  EXPECT_EQ(ReadFile(dir_ / "missing.bin"), "no such file here");
}

TEST_F(DownloadFileTest, FollowsFiveRedirectsButNotSix) {
  EXPECT_TRUE(DownloadFile(Url("r/5"), Target("five.bin")));
  EXPECT_EQ(ReadFile(dir_ / "five.bin"), "arrived");
  EXPECT_EQ(server_.Requests().back().path, "/r/0");

  EXPECT_FALSE(DownloadFile(Url("r/6"), Target("six.bin")));
  EXPECT_NE(ReadFile(dir_ / "six.bin"), "arrived");
}

TEST_F(DownloadFileTest, RequestsBackslashesInTheUrlAsForwardSlashes) {
  EXPECT_TRUE(DownloadFile(Url("dir\\sub\\file.bin"), Target("file.bin")));
  ASSERT_EQ(server_.Requests().size(), 1u);
  EXPECT_EQ(server_.Requests()[0].path, "/dir/sub/file.bin");
  EXPECT_EQ(ReadFile(dir_ / "file.bin"), "nested");
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
  EXPECT_EQ(ReadFile(dir_ / "a" / "b" / "c.bin"), "hello, velmora");
}

TEST_F(DownloadFileTest, EmptyUrlOrPathFailsWithoutTouchingAnything) {
  WriteFile(dir_ / "keep.bin", "old");
  EXPECT_FALSE(DownloadFile("", Target("keep.bin")));
  EXPECT_FALSE(DownloadFile(Url("hello.bin"), ""));
  EXPECT_FALSE(DownloadFile("", Target("new\\keep.bin")));
  EXPECT_EQ(ReadFile(dir_ / "keep.bin"), "old");
  EXPECT_FALSE(fs::exists(dir_ / "new"));
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(DownloadFileTest, ExistingTargetIsDeletedRatherThanOverwrittenInPlace) {
  // A second name for the old file shows whether it was unlinked or truncated.
  WriteFile(dir_ / "old.bin", "old content");
  fs::create_hard_link(dir_ / "old.bin", dir_ / "other-name.bin");
  EXPECT_TRUE(DownloadFile(Url("hello.bin"), Target("old.bin")));
  EXPECT_EQ(ReadFile(dir_ / "old.bin"), "hello, velmora");
  EXPECT_EQ(ReadFile(dir_ / "other-name.bin"), "old content");
}

TEST_F(DownloadFileTest, FailedTransferDoesNotBringTheOldFileBack) {
  std::string closedUrl;
  {
    TestServer gone;
    ASSERT_TRUE(gone.Start());
    closedUrl = gone.BaseUrl() + "hello.bin";
  }
  WriteFile(dir_ / "old.bin", "old content");
  EXPECT_FALSE(DownloadFile(closedUrl, Target("old.bin")));
  EXPECT_NE(ReadFile(dir_ / "old.bin"), "old content");
}

TEST_F(DownloadFileTest, BrokenConnectionFailsAndKeepsThePartialFile) {
  EXPECT_FALSE(DownloadFile(Url("drop"), Target("drop.bin")));
  EXPECT_EQ(ReadFile(dir_ / "drop.bin"), std::string(100, 'd'));
}

TEST_F(DownloadFileTest, TargetThatCannotBeOpenedFails) {
  fs::create_directories(dir_ / "taken");
  EXPECT_FALSE(DownloadFile(Url("hello.bin"), Target("taken")));
  EXPECT_TRUE(fs::is_directory(dir_ / "taken"));
}

TEST_F(DownloadFileTest, OnlyWebAddressesAreFetchedEvenThroughRedirects) {
  WriteFile(dir_ / "local.txt", "local secret");
  EXPECT_FALSE(DownloadFile("file://" + (dir_ / "local.txt").string(), Target("copy.bin")));
  EXPECT_NE(ReadFile(dir_ / "copy.bin"), "local secret");
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
  // The server gives up by itself after 60 s, so this wait is bounded either way.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(DownloadFile(Url("stall"), Target("stall.bin")));
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
  EXPECT_GE(seconds.count(), 25);
  EXPECT_LE(seconds.count(), 45);
  EXPECT_EQ(ReadFile(dir_ / "stall.bin"), "0123456789");
}

TEST(DownloadFileHttps, FetchesOverTlsWithoutVerifyingThePeer) {
  TestServer server(TestServer::Kind::kHttps);
  server.Routes().Get("/secure.bin", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("over tls", "application/octet-stream");
  });
  ASSERT_TRUE(server.Start());
  velmora::testing::TempFolder folder;
  EXPECT_TRUE(DownloadFile(server.BaseUrl() + "secure.bin", folder.Dir() + "secure.bin"));
  EXPECT_EQ(ReadFile(folder.Path() / "secure.bin"), "over tls");
}

}  // namespace
}  // namespace velmora::transfer
