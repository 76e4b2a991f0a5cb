// What a download is asked to fetch and how it ended; TransferSession (transfer/session.h) runs them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/sha256.h"

namespace velmora::transfer {

// The cap of a request that gives no maxBytes (1 GiB): every body is bounded,
// announced or not.
inline constexpr std::uint64_t kUnannouncedSizeCap = std::uint64_t{1} << 30;

// How one download ended. Only kOk means the target holds a complete 200
// body (that matched its digest, when one was given).
enum class DownloadStatus {
  kOk,
  kFailed,        // no connection, certificate refused, deadline, stall, redirects, any status but 200
  kTooLarge,      // more than the cap arrived: cut off there
  kHashMismatch,  // complete 200 body whose SHA-256 differs from the expected one
  kNotModified,   // 304 to a conditional request: the target is left empty
  kWriteFailed,   // the target could not be opened or written (full disk, say), or memory ran out
};

// One URL and where its body goes.
struct DownloadRequest {
  std::string url;  // UTF-8; backslashes are sent as "/"
  // Target file; "\" and "/" both separate folders. Ignored (may be empty)
  // when `body` is given.
  std::u16string path;
  // When given, the body goes into this string (emptied first) instead of a
  // file, under the same cap, digest and status rules. It must outlive the
  // download.
  std::string* body = nullptr;
  // The cap on the body; 0: kUnannouncedSizeCap, unless `exactlyEmpty`
  // says that nothing at all may arrive (a file announced as empty).
  std::uint64_t maxBytes = 0;
  bool exactlyEmpty = false;
  // The whole transfer, redirects included, must end within this many
  // seconds. 0: max(60 s, maxBytes / 4 KiB per second) for a request with
  // maxBytes, 30 minutes for one without.
  std::uint32_t deadlineSeconds = 0;
  // Checked against the SHA-256 of the body, hashed as it arrives.
  std::optional<platform::Sha256Digest> sha256;
  // Conditional request headers (values of an earlier ETag and
  // Last-Modified); empty: not sent.
  std::string ifNoneMatch;
  std::string ifModifiedSince;
  // Connections to open to the same server as soon as the response shows
  // that a new body is coming (status 200 with validators other than the
  // ones asked about), for the transfers that follow; the session's next
  // batch uses them, and closes those it did not need.
  std::size_t warmConnections = 0;
};

// How a download ended, with the details a log line may add to its own text.
struct DownloadOutcome {
  DownloadStatus status = DownloadStatus::kFailed;
  std::uint64_t bytes = 0;   // body bytes written to the target
  std::string etag;          // of the last response, as sent (quotes kept)
  std::string lastModified;  // of the last response
  // The status code of the last response; 0 when none arrived.
  long httpStatus = 0;
  // libcurl's CURLcode for the transfer as a number (28: deadline or stall,
  // 60: certificate refused, 1: a redirect to a scheme not allowed); 0 when
  // libcurl reported no error or the transfer never started.
  int transferError = 0;
  // The system's error code (errno; the C runtime's errno on Windows) of a
  // target file that could not be opened or written; 0 otherwise.
  std::uint32_t osError = 0;
};

// The result of a batch: ok, or the first failed request in request order.
struct BatchResult {
  bool ok = false;
  std::size_t failedIndex = 0;
  DownloadOutcome failed;
  std::vector<std::uint64_t> bytes;  // per request: body bytes written, when ok
};

}  // namespace velmora::transfer
