// A transfer session: the connections, options and warm connections that downloads share, with libcurl.
#pragma once

#include <memory>
#include <vector>

#include "transfer/downloader.h"
#include "transfer/transfer_options.h"

namespace velmora::transfer {

// Every download of a session runs on the thread that calls it, one call at
// a time, and keeps its connections and DNS answers for the next. A file
// target's old file is deleted first and missing folders are created; on
// failure whatever arrived stays in the target (the body of a 404 too).
//
// Limits of every transfer:
// - only http and https, for the request and each of at most 5 redirects; a
//   redirect from an https URL only to https;
// - 15 s to connect; then at least 1 KiB per second over every window of
//   TransferOptions::lowSpeedSeconds; the whole transfer within the
//   request's deadline (see DownloadRequest::deadlineSeconds);
// - the body within maxBytes, or kUnannouncedSizeCap without one (the bodies
//   of redirects followed do not count);
// - https checks the certificate against the system's authorities, or only
//   those of TransferOptions::caFile; the SSL_CERT_FILE, SSL_CERT_DIR and
//   CURL_CA_BUNDLE variables are never read.
// Servers that offer HTTP/2 over TLS get up to 100 transfers at once over one
// connection, from the first response that shows it on (for the session's
// later batches from their start); HTTP/1.1 servers get
// TransferOptions::connections connections.
// Proxies are TransferOptions::proxy and noProxy when a proxy is given;
// otherwise libcurl's from the environment: http_proxy, https_proxy or
// HTTPS_PROXY, all_proxy or ALL_PROXY, no_proxy or NO_PROXY (never
// HTTP_PROXY on POSIX, which a CGI environment sets from a request's Proxy
// header; Windows finds variables whatever their letter case).
class TransferSession {
 public:
  // Starts libcurl (after the lean start of the cryptography library).
  explicit TransferSession(TransferOptions options = DefaultTransferOptions());
  // Frees the handles, closing cached and unused warm connections.
  ~TransferSession();
  TransferSession(const TransferSession&) = delete;
  TransferSession& operator=(const TransferSession&) = delete;

  // False when libcurl could not be set up; every download then fails with
  // kFailed.
  bool ok() const;

  // Downloads one request. An empty URL, or an empty path without a body,
  // fails without touching anything. Never logs, never throws.
  DownloadOutcome Download(const DownloadRequest& request);

  // Fetches every request, as many at once as the server allows (above),
  // reusing connections from one file to the next. Each transfer has its
  // own limits, so a stalled connection is abandoned while the others go
  // on. After the first failure no new transfer starts and the running ones
  // are ended; of the requests that failed, the first in request order is
  // reported. A request that may fail neither stops the batch nor is
  // reported that way; its status says how it ended. kNotModified counts as success. An empty batch is ok. Warm
  // connections left unused are closed at the end.
  BatchResult DownloadBatch(const std::vector<DownloadRequest>& requests);

  // The options in force (a connection count of 0 given is 1 here).
  const TransferOptions& options() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace velmora::transfer
