// Tests of TransferSession: caps, digests, memory targets, validators, limits, concurrency and options.
#include "transfer/session.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_folder.h"
#include "transfer/test_routes.h"
#include "transfer/test_server.h"

namespace velmora::transfer {
namespace {

namespace fs = std::filesystem;
using namespace velmora::transfer::testing;

platform::Sha256Digest DigestOf(const std::string& content) {
  platform::Sha256Hasher hasher;
  hasher.Update(content.data(), content.size());
  platform::Sha256Digest digest{};
  hasher.Finish(&digest);
  return digest;
}

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AddRoutes(server_);
    ASSERT_TRUE(server_.Start());
  }

  DownloadRequest Request(const std::string& urlPath, const std::string& name) const {
    DownloadRequest request;
    request.url = server_.BaseUrl() + urlPath;
    request.path = (folder_.Path() / name).u16string();
    return request;
  }
  void UseOptions(unsigned connections, long lowSpeedSeconds) {
    TransferOptions options = DefaultTransferOptions();
    options.connections = connections;
    options.lowSpeedSeconds = lowSpeedSeconds;
    session_ = std::make_unique<TransferSession>(options);
  }

  velmora::testing::TempFolder folder_;
  TestServer server_;
  std::unique_ptr<TransferSession> session_ = std::make_unique<TransferSession>();
};

TEST_F(DownloadTest, CapsDigestsAndTargetsDecideTheStatus) {
  fs::create_directories(folder_.Path() / "taken");
  WriteAll(folder_.Path() / "untouched.bin", "old");
  const std::string hello = "hello, velmora";
  struct Case {
    const char* urlPath;
    const char* name;  // empty: into memory (the path given is ignored)
    std::uint64_t maxBytes;
    std::optional<std::string> expectedContent;  // its digest is the expected one
    DownloadStatus status;
    std::uint64_t bytes;
    long httpStatus;
    int transferError;
  };
  const Case cases[] = {
      {"hello.bin", "ok.bin", 0, hello, DownloadStatus::kOk, hello.size(), 200, CURLE_OK},
      {"hello.bin", "", 0, hello, DownloadStatus::kOk, hello.size(), 200, CURLE_OK},
      {"hello.bin", "exact.bin", hello.size(), std::nullopt, DownloadStatus::kOk, hello.size(), 200, CURLE_OK},
      {"hello.bin", "bad.bin", 0, hello + "!", DownloadStatus::kHashMismatch, hello.size(), 200, CURLE_OK},
      {"hello.bin", "", 0, hello + "!", DownloadStatus::kHashMismatch, hello.size(), 200, CURLE_OK},
      // no length sent
      {"chunked", "capped.bin", 2500, std::nullopt, DownloadStatus::kTooLarge, 2000, 200, CURLE_WRITE_ERROR},
      {"chunked", "", 2500, std::nullopt, DownloadStatus::kTooLarge, 2000, 200, CURLE_WRITE_ERROR},
      {"big", "announced.bin", 1000, std::nullopt, DownloadStatus::kTooLarge, 0, 200, CURLE_WRITE_ERROR},
      {"missing", "missing.bin", 0, std::string("no such file here"), DownloadStatus::kFailed, 17, 404, CURLE_OK},
      {"missing", "", 0, std::nullopt, DownloadStatus::kFailed, 17, 404, CURLE_OK},
      {"hello.bin", "taken", 0, std::nullopt, DownloadStatus::kWriteFailed, 0, 0, CURLE_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.urlPath) + " -> " + c.name);
    DownloadRequest request = Request(c.urlPath, c.name);
    std::string body = "left from before";
    if (*c.name == '\0') {
      request.path = (folder_.Path() / "untouched.bin").u16string();
      request.body = &body;
    }
    request.maxBytes = c.maxBytes;
    if (c.expectedContent) request.sha256 = DigestOf(*c.expectedContent);
    const DownloadOutcome outcome = session_->Download(request);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.bytes, c.bytes);
    EXPECT_EQ(outcome.httpStatus, c.httpStatus);
    EXPECT_EQ(outcome.transferError, c.transferError);
    EXPECT_EQ(outcome.osError != 0, c.status == DownloadStatus::kWriteFailed);
    if (request.body != nullptr) {
      EXPECT_EQ(body.size(), c.bytes);
      if (c.bytes == hello.size()) {
        EXPECT_EQ(body, hello);
      }
      EXPECT_EQ(ReadAll(folder_.Path() / "untouched.bin"), "old");
    } else if (c.status != DownloadStatus::kWriteFailed) {
      EXPECT_EQ(fs::file_size(folder_.Path() / c.name), c.bytes);
    }
  }
}

TEST_F(DownloadTest, ValidatorsAreCapturedAndEitherOneGivesNotModified) {
  const DownloadOutcome first = session_->Download(Request("validated", "first.bin"));
  ASSERT_EQ(first.status, DownloadStatus::kOk);
  EXPECT_EQ(first.etag, kEtag);
  EXPECT_EQ(first.lastModified, kLastModified);

  DownloadRequest byEtag = Request("validated", "by-etag.bin");
  byEtag.ifNoneMatch = first.etag;
  DownloadRequest byDate = Request("validated", "by-date.bin");
  byDate.ifModifiedSince = first.lastModified;
  for (const DownloadRequest& request : {byEtag, byDate}) {
    EXPECT_EQ(session_->Download(request).status, DownloadStatus::kNotModified);
  }
  EXPECT_EQ(server_.Requests()[1].ifNoneMatch, kEtag);
  EXPECT_TRUE(server_.Requests()[2].ifNoneMatch.empty());
}

TEST_F(DownloadTest, BatchReusesFewerConnectionsThanFiles) {
  constexpr unsigned kConnections = 3;
  constexpr int kFiles = 12;
  UseOptions(kConnections, 30);
  std::vector<DownloadRequest> requests;
  for (int i = 0; i < kFiles; ++i) {
    requests.push_back(Request("f/" + std::to_string(i), "sub\\" + std::to_string(i) + ".bin"));
  }
  EXPECT_TRUE(session_->DownloadBatch(requests).ok);
  EXPECT_TRUE(session_->DownloadBatch({}).ok);

  for (int i = 0; i < kFiles; ++i) {
    EXPECT_EQ(ReadAll(folder_.Path() / "sub" / (std::to_string(i) + ".bin")), "file " + std::to_string(i));
  }
  std::set<int> ports;
  for (const SeenRequest& seen : server_.Requests()) ports.insert(seen.clientPort);
  EXPECT_GE(ports.size(), 2u);
  EXPECT_LE(ports.size(), kConnections);
}

TEST_F(DownloadTest, BatchReportsTheFailedRequestAndItsOutcome) {
  UseOptions(4, 30);
  std::vector<DownloadRequest> requests;
  for (int i = 0; i < 10; ++i) requests.push_back(Request("f/" + std::to_string(i), std::to_string(i) + ".bin"));
  requests[6] = Request("missing", "6.bin");
  const BatchResult result = session_->DownloadBatch(requests);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.failedIndex, 6u);
  EXPECT_EQ(result.failed.status, DownloadStatus::kFailed);
  EXPECT_EQ(ReadAll(folder_.Path() / "6.bin"), "no such file here");
}

TEST_F(DownloadTest, StalledConnectionIsAbandonedWhileTheOthersFinish) {
  UseOptions(3, 2);
  std::vector<DownloadRequest> requests = {Request("stall", "stall.bin")};
  for (int i = 1; i <= 8; ++i) requests.push_back(Request("f/" + std::to_string(i), std::to_string(i) + ".bin"));
  const auto start = std::chrono::steady_clock::now();
  const BatchResult result = session_->DownloadBatch(requests);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.failedIndex, 0u);
  EXPECT_EQ(result.failed.bytes, 10u);
  EXPECT_GE(elapsed, std::chrono::milliseconds(1500));
  EXPECT_LE(elapsed, std::chrono::seconds(20));  // the speed is averaged over a few seconds
  for (int i = 1; i <= 8; ++i) {
    EXPECT_EQ(ReadAll(folder_.Path() / (std::to_string(i) + ".bin")), "file " + std::to_string(i));
  }
}

TEST_F(DownloadTest, SlowTransfersEndAtTheMinimumRateOrTheDeadline) {
  struct Case {
    const char* urlPath;
    long lowSpeedSeconds;
    std::uint32_t deadlineSeconds;
  } cases[] = {
      {"stall", 2, 0},    // 10 bytes, then nothing
      {"trickle", 2, 0},  // 500 bytes per second: below the minimum rate
      {"stall", 30, 1},   // within the stall window, past the deadline
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.urlPath) + " " + std::to_string(c.lowSpeedSeconds));
    UseOptions(1, c.lowSpeedSeconds);
    DownloadRequest request = Request(c.urlPath, "slow.bin");
    request.deadlineSeconds = c.deadlineSeconds;
    const DownloadOutcome outcome = session_->Download(request);
    EXPECT_EQ(outcome.status, DownloadStatus::kFailed);
    EXPECT_EQ(outcome.transferError, CURLE_OPERATION_TIMEDOUT);
    EXPECT_GT(outcome.bytes, 0u);
    EXPECT_EQ(outcome.httpStatus, 200);
  }
}

TEST_F(DownloadTest, ANewBodyOpensTheConnectionsOfTheNextBatchWhileItArrives) {
  constexpr unsigned kConnections = 4;
  UseOptions(kConnections, 30);
  const std::string base = server_.BaseUrl();
  const int port = std::stoi(base.substr(base.rfind(':') + 1));
  struct Case {
    const char* path;
    const char* ifNoneMatch;
    const char* ifModifiedSince;
    std::size_t warm;  // connections opened besides the list's own
  } cases[] = {
      {"validated", kEtag, "", 0},          // 304
      {"ignoring", kEtag, "", 0},           // 200, but the list it already has
      {"ignoring", "", kLastModified, 0},   // the same, known by its date
      {"validated", "", "", kConnections - 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " " + c.ifNoneMatch + c.ifModifiedSince);
    const std::set<int> before = EstablishedClientPorts(port);
    DownloadRequest list = Request(c.path, "list.xml");
    list.ifNoneMatch = c.ifNoneMatch;
    list.ifModifiedSince = c.ifModifiedSince;
    list.warmConnections = kConnections - 1;
    session_->Download(list);
    std::set<int> warm;
    for (int i = 0; i < 50 && (i == 0 || warm.size() < c.warm); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      warm = EstablishedClientPorts(port);
      for (int known : before) warm.erase(known);
      warm.erase(server_.Requests().back().clientPort);
    }
    EXPECT_EQ(warm.size(), c.warm);
  }

  // The batch takes the warm connections instead of opening its own.
  const std::set<int> open = EstablishedClientPorts(port);
  const std::size_t seenBefore = server_.Requests().size();
  std::vector<DownloadRequest> requests;
  for (unsigned i = 0; i < kConnections; ++i) requests.push_back(Request("f/" + std::to_string(i), std::to_string(i)));
  EXPECT_TRUE(session_->DownloadBatch(requests).ok);
  const std::vector<SeenRequest> seen = server_.Requests();
  for (std::size_t i = seenBefore; i < seen.size(); ++i) EXPECT_EQ(open.count(seen[i].clientPort), 1u);
}

TEST(DefaultTransferOptions, ReadsOnlyWellFormedTestAids) {
  struct Case {
    const char* lowSpeed;
    const char* noVerify;
    long lowSpeedSeconds;
    bool verifyPeer;
  };
  unsetenv("VELMORA_LOW_SPEED_SECONDS");
  unsetenv("VELMORA_TLS_NO_VERIFY");
  const TransferOptions release = DefaultTransferOptions();
  const Case cases[] = {
      // A release build never lets the environment turn the checks off.
      {"2", "1", 2, kTlsTestSwitchBuilt ? false : release.verifyPeer},
      {"0", "yes", release.lowSpeedSeconds, release.verifyPeer},
      {"5s", "0", release.lowSpeedSeconds, release.verifyPeer},
  };
  for (const Case& c : cases) {
    setenv("VELMORA_LOW_SPEED_SECONDS", c.lowSpeed, 1);
    setenv("VELMORA_TLS_NO_VERIFY", c.noVerify, 1);
    const TransferOptions options = DefaultTransferOptions();
    EXPECT_EQ(options.lowSpeedSeconds, c.lowSpeedSeconds) << c.lowSpeed;
    EXPECT_EQ(options.verifyPeer, c.verifyPeer) << c.noVerify;
    EXPECT_TRUE(options.caFile.empty());
  }
  unsetenv("VELMORA_LOW_SPEED_SECONDS");
  unsetenv("VELMORA_TLS_NO_VERIFY");
  TransferOptions none;
  none.connections = 0;
  EXPECT_EQ(TransferSession(none).options().connections, 1u);
}

}  // namespace
}  // namespace velmora::transfer
