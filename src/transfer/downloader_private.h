// The object behind one transfer and its libcurl callbacks, private to the transfer module.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/sha256.h"
#include "transfer/curl_types.h"
#include "transfer/downloader.h"
#include "transfer/transfer_options.h"
#include "transfer/warm_connections.h"

namespace velmora::transfer {

// The user agent every request carries (108 characters).
extern const char kUserAgent[];

// What a session lends each of its transfers; all of it outlives them.
struct SessionParts {
  const TransferOptions& options;
  WarmPool& pool;
  // libcurl was built with HTTP/2.
  bool http2 = false;
  // The content of TransferOptions::caFile when one is given (empty when it
  // could not be read, which fails every certificate); null: the system's
  // authorities.
  const std::string* caPem = nullptr;
};

// One transfer: prepared (old file deleted, handle configured, target open),
// run by a multi handle, finished into an outcome, then destroyed (file
// closed first, then the handle released). Not reusable. The request must
// outlive the object.
class Downloader {
 public:
  // `bufferBytes` sizes both the receive buffer and the file buffer.
  Downloader(const DownloadRequest& request, const SessionParts& session, std::size_t bufferBytes);
  ~Downloader();
  Downloader(const Downloader&) = delete;
  Downloader& operator=(const Downloader&) = delete;

  // Everything before the transfer; true when the handle is ready to run,
  // otherwise false with the outcome the download ends with in `*failure`.
  bool Prepare(DownloadOutcome* failure);
  // The configured easy handle (after a successful Prepare).
  CURL* Handle() const { return handle.get(); }
  // True once a response of this transfer arrived over HTTP/2 (or later):
  // its connection carries many transfers at once.
  bool Multiplexed() const { return multiplexed; }
  // The outcome once libcurl reports `result` for the handle: the status
  // code, the cut-off, the final flush and the digest decide it.
  DownloadOutcome Finish(CURLcode result);

  // Takes received body data: the number of bytes written, 0 to end the
  // transfer (cut-off or write error).
  std::size_t Write(const char* data, std::size_t size);
  // Takes one received header line (ETag, Last-Modified).
  void Header(std::string_view line);
  // Prints the speed and the progress line for the bytes received so far.
  void PrintProgress(double totalBytes, double receivedBytes);

 private:
  // Sets every option on the handle; false at the first one libcurl rejects.
  bool ApplyOptions();
  bool ApplyProxy();
  bool ApplyLimits();
  bool ApplySecurity();
  // Opens the target file (making its folders when needed), to append when
  // resuming.
  bool OpenTarget();
  // Hashes the prefix a resumed target already holds; false when it cannot
  // be read whole.
  bool HashPrefix();
  // At the end of the last response's header: a new body writes its
  // validator, a 200 to a resumed request starts the target over, and a 206
  // must continue exactly where the target ends. False ends the transfer.
  bool TakeResponse(long status);
  // Writes decoded (or plain) bytes to the target; false on a failed write.
  bool Emit(const char* data, std::size_t size);

  const DownloadRequest& request;
  const SessionParts& session;
  const std::size_t bufferBytes;
  const std::uint64_t cap;
  // The bytes the target holds of a resumed body; 0 once it starts over.
  std::uint64_t offset;
  CurlHandle handle;
  FileHandle file;
  std::string url;
  CurlList headers;
  // The stream buffer of `file`; it must outlive the stream.
  std::unique_ptr<char[]> fileBuffer;
  std::optional<platform::Sha256Hasher> hasher;
  std::optional<platform::Sha256Hasher> bodyHasher;
  std::uint64_t bytes = 0;
  std::uint64_t written = 0;
  // The target's prefix counts: a 206 continued it.
  bool resumed = false;
  bool cutOff = false;
  bool writeFailed = false;
  bool decodeFailed = false;
  bool responseRefused = false;
  std::string contentRange;
  std::uint32_t osError = 0;
  std::string etag;
  std::string lastModified;
  std::string served;  // the Date of the last response
  bool warmed = false;
  bool multiplexed = false;
};

// CURLOPT_WRITEFUNCTION: hands the data to Write of the Downloader in
// `userData`; 0 (a write error for libcurl) when there is none.
std::size_t WriteCallback(char* data, std::size_t size, std::size_t count, void* userData);

// CURLOPT_HEADERFUNCTION: hands each header line to Header.
std::size_t HeaderCallback(char* data, std::size_t size, std::size_t count, void* userData);

// CURLOPT_PROGRESSFUNCTION (double form): prints the average speed and the
// progress line. Always 0, so the transfer is never aborted from here.
int ProgressCallback(void* userData, double downloadTotal, double downloaded, double uploadTotal,
                     double uploaded);

}  // namespace velmora::transfer
