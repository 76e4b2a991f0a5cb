// Fetches URLs into local files over HTTP(S), with a progress report on standard output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/sha256.h"

namespace velmora::transfer {

// How one download ended. Only kOk means the file holds a complete 200
// body (that matched its digest, when one was given).
enum class DownloadStatus {
  kOk,
  kFailed,        // no connection, time-out, stall, too many redirects, any status but 200
  kTooLarge,      // more than maxBytes arrived or were announced: cut off
  kHashMismatch,  // complete 200 body whose SHA-256 differs from the expected one
  kNotModified,   // 304 to a conditional request: the target is left empty
  kWriteFailed,   // the target could not be opened or written (full disk, say)
};

// One URL and where it goes.
struct DownloadRequest {
  std::string url;        // UTF-8; backslashes are sent as "/"
  std::u16string path;    // target file; "\" and "/" both separate folders
  std::uint64_t maxBytes = 0;  // 0: no cap
  // Checked against the SHA-256 of the body, hashed as it is written.
  std::optional<platform::Sha256Digest> sha256;
  // Conditional request headers (values of an earlier ETag and
  // Last-Modified); empty: not sent.
  std::string ifNoneMatch;
  std::string ifModifiedSince;
  // Connections to open to the same server as soon as the response shows
  // that a new body is coming (status 200 with validators other than the
  // ones asked about), for the transfers that follow; the next batch uses
  // them, and closes those it did not need.
  std::size_t warmConnections = 0;
};

struct DownloadOutcome {
  DownloadStatus status = DownloadStatus::kFailed;
  std::uint64_t bytes = 0;   // body bytes written to the target
  std::string etag;          // of the last response, as sent (quotes kept)
  std::string lastModified;  // of the last response
};

// Downloads one request on the calling thread. The old target is deleted
// first and missing folders are created; on failure whatever arrived stays
// in the target (the body of a 404 too). Redirects (at most 5) may lead
// only to http or https. A connection that takes more than 15 s to open, or
// a transfer below 1 byte per second for the stall window of the
// TransferOptions, fails. Connections are kept for later downloads. An empty
// URL or path fails without touching anything. Never logs, never throws.
DownloadOutcome Download(const DownloadRequest& request);

// Download of `url` into `path` (doubled backslashes count as one): true
// only for kOk.
bool DownloadFile(std::string url, const std::u16string& path);

// The result of a batch: ok, or the first failed request in request order.
struct BatchResult {
  bool ok = false;
  std::size_t failedIndex = 0;
  DownloadOutcome failed;
  std::vector<std::uint64_t> bytes;  // per request: body bytes written, when ok
};

// Fetches every request over up to TransferOptions::connections connections
// at once (never more than there are requests), reusing connections from one
// file to the next. Each transfer has its own stall limit, so a stalled
// connection is abandoned while the others go on. After the first failure no
// new transfer starts and the running ones are ended; of the requests that
// failed, the first in request order is reported. kNotModified counts as
// success. An empty batch is ok.
BatchResult DownloadBatch(const std::vector<DownloadRequest>& requests);

}  // namespace velmora::transfer
