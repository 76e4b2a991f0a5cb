// What a download is asked to fetch and how it ended; TransferSession (transfer/session.h) runs them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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
  kDecodeFailed,  // the body did not decode (corrupt, cut short, or more than its decoder allows)
};

// Turns a body into the bytes of its target as it arrives: a compressed
// form or a patch, decoded by the caller's code. A decoder serves one
// transfer.
class BodyDecoder {
 public:
  using Output = std::function<bool(const char* data, std::size_t size)>;
  virtual ~BodyDecoder() = default;
  // Decodes the next `size` body bytes, handing the decoded ones to `out`
  // (which returns false when they cannot be written). False ends the
  // transfer.
  virtual bool Feed(const char* data, std::size_t size, const Output& out) = 0;
  // True when the body ended exactly where its encoding does.
  virtual bool End() = 0;
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
  // Checked against the SHA-256 of the target's bytes, hashed as they are
  // written (with a decoder, those it decoded).
  std::optional<platform::Sha256Digest> sha256;
  // When given, the body is decoded on its way to the target, and
  // `bodySha256` (when given) checks the body itself. The cap then counts
  // body bytes; the decoder bounds what it writes. Never with `resumeFrom`.
  BodyDecoder* decoder = nullptr;
  std::optional<platform::Sha256Digest> bodySha256;
  // A failure of this request is reported but does not end its batch: the
  // caller has another way to the same file.
  bool mayFail = false;
  // A resumable download: the response's validator (a strong ETag, else
  // Last-Modified) is written to `validatorsPath` as soon as a new body
  // starts, before any of it. With `resumeFrom`, the target already holds
  // that many bytes of the body `ifRange` names: the rest is asked for
  // (Range and If-Range); a 206 from exactly there appends, a 200 starts
  // the target over. The prefix counts towards the cap and the digest.
  std::u16string validatorsPath;
  std::uint64_t resumeFrom = 0;
  std::string ifRange;
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
  std::uint64_t bytes = 0;    // body bytes received by this transfer (its bytes on the wire)
  std::uint64_t written = 0;  // bytes the target holds: decoded ones, or a resumed prefix and the rest
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

// The result of a batch: ok, or the first failed request in request order
// among those that may not fail.
struct BatchResult {
  bool ok = false;
  std::size_t failedIndex = 0;
  DownloadOutcome failed;
  std::vector<std::uint64_t> bytes;  // per request: body bytes received, when ok
  // Per request: how it ended (kFailed for one never started), and the
  // bytes its target holds.
  std::vector<DownloadStatus> statuses;
  std::vector<std::uint64_t> written;
};

}  // namespace velmora::transfer
