// Prepares, feeds and finishes one transfer: options, callbacks, target file, digest and outcome.
#include "transfer/downloader_private.h"

#include <cstdio>
#include <limits>
#include <new>
#include <utility>

#include "platform/encoding.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "transfer/progress_text.h"
#include "transfer/transfer_options.h"
#include "transfer/warm_connections.h"

namespace velmora::transfer {

const char kUserAgent[] =
    "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/55.0.2883.87 Safari/537.36";
static_assert(sizeof(kUserAgent) == 108 + 1, "the user agent has 108 characters");

namespace {

constexpr long kMaxRedirects = 5;
// A server that does not accept within this time is treated as unreachable.
constexpr long kConnectTimeoutSeconds = 15;
// Less than kLowSpeedBytes per second for the stall window ends the
// transfer: a stalled server must never hold the updater, and with it the
// single-instance lock, forever.
constexpr long kLowSpeedBytes = 1;
// Only web addresses, for the request and for every redirect: a URL or a
// Location header naming file://, ftp:// or any other scheme fails.
constexpr long kAllowedProtocols = CURLPROTO_HTTP | CURLPROTO_HTTPS;
constexpr long kNotModified = 304;

bool HasLineBreak(const std::string& value) { return value.find_first_of("\r\n") != std::string::npos; }

bool AppendHeader(CurlList& list, const char* name, const std::string& value) {
  if (value.empty()) return true;
  curl_slist* grown = curl_slist_append(list.get(), (name + value).c_str());
  if (grown == nullptr) return false;
  list.release();  // now owned through `grown`
  list.reset(grown);
  return true;
}

bool NameIs(std::string_view line, std::size_t colon, std::string_view name) {
  if (colon != name.size()) return false;
  for (std::size_t i = 0; i < colon; ++i) {
    const char c = line[i];
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower != name[i]) return false;
  }
  return true;
}

std::string Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(first, last - first + 1));
}

}  // namespace

Downloader::Downloader(const DownloadRequest& request, std::size_t bufferBytes)
    : request(request), bufferBytes(bufferBytes) {}

Downloader::~Downloader() {
  // The file is closed before the handle is released, and before its buffer.
  file.reset();
  fileBuffer.reset();
  handle.reset();
}

DownloadStatus Downloader::Prepare() {
  if (request.url.empty() || request.path.empty()) return DownloadStatus::kFailed;
  // A line break would let a stored value add headers of its own.
  if (HasLineBreak(request.ifNoneMatch) || HasLineBreak(request.ifModifiedSince)) return DownloadStatus::kFailed;

  url = request.url;
  platform::ReplaceAll(url, "\\", "/");
  // The old file goes first, so that a failed transfer can never leave the
  // previous version looking current.
  platform::RemoveFile(request.path);

  handle.reset(curl_easy_init());
  if (!handle || !ApplyOptions(handle.get())) return DownloadStatus::kFailed;

  // Folders are made only when the first open fails: in a batch most
  // targets share folders that exist by then.
  file.reset(platform::OpenForBinaryWrite(request.path));
  if (!file) {
    platform::CreateDirectoryChain(request.path);
    file.reset(platform::OpenForBinaryWrite(request.path));
  }
  if (!file) return DownloadStatus::kWriteFailed;
  // Without the buffer the download is merely slower. It is given
  // explicitly because a C library may ignore the size otherwise.
  fileBuffer.reset(new (std::nothrow) char[bufferBytes]);
  if (fileBuffer) std::setvbuf(file.get(), fileBuffer.get(), _IOFBF, bufferBytes);
  if (request.sha256) hasher.emplace();
  return DownloadStatus::kOk;
}

bool Downloader::ApplyOptions(CURL* curl) {
  const TransferOptions& options = CurrentTransferOptions();
  const long verify = options.verifyPeer ? 1L : 0L;
  if (!AppendHeader(headers, "If-None-Match: ", request.ifNoneMatch) ||
      !AppendHeader(headers, "If-Modified-Since: ", request.ifModifiedSince)) {
    return false;
  }
  // The first options keep the order the downloader always set them in.
  return curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_URL, url.c_str()) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_POST, 0L) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteCallback) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_WRITEDATA, this) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_PROGRESSDATA, this) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_PROGRESSFUNCTION, ProgressCallback) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, verify) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytes) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, options.lowSpeedSeconds) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_PROTOCOLS, kAllowedProtocols) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS, kAllowedProtocols) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, static_cast<long>(bufferBytes)) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, verify * 2) == CURLE_OK &&
         // Windows builds of libcurl on OpenSSL read the system store only
         // when asked; elsewhere the flag changes nothing.
         curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_NATIVE_CA)) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, HeaderCallback) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_HEADERDATA, this) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, OpenSocketCallback) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_SOCKOPTFUNCTION, SocketOptionsCallback) == CURLE_OK;
}

std::size_t Downloader::Write(const char* data, std::size_t size) {
  if (!file) return 0;
  // Servers may omit the length: the cap is enforced on what arrives, and
  // nothing of the piece that crosses it reaches the file.
  if (request.maxBytes != 0 && size > request.maxBytes - bytes) {
    cutOff = true;
    return 0;
  }
  if (std::fwrite(data, 1, size, file.get()) != size) {
    writeFailed = true;
    return 0;
  }
  // A hasher that failed is spent, and the digest check then fails.
  if (hasher) hasher->Update(data, size);
  bytes += size;
  return size;
}

void Downloader::Header(std::string_view line) {
  // Each response of a redirect chain starts with its status line; only
  // the last response's fields count.
  if (line.compare(0, 5, "HTTP/") == 0) {
    etag.clear();
    lastModified.clear();
    served.clear();
    return;
  }
  if (Trimmed(line).empty()) {
    // The end of a response's header: a server that ignores conditional
    // requests answers an unchanged list with its old validators.
    const bool unchanged = (!request.ifNoneMatch.empty() && etag == request.ifNoneMatch) ||
                           (!request.ifModifiedSince.empty() && lastModified == request.ifModifiedSince);
    long status = 0;
    curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status == 200 && !unchanged && request.warmConnections > 0 && !warmed) {
      warmed = true;
      WarmConnections(request.warmConnections);
    }
    return;
  }
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return;
  if (NameIs(line, colon, "etag")) etag = Trimmed(line.substr(colon + 1));
  if (NameIs(line, colon, "last-modified")) lastModified = Trimmed(line.substr(colon + 1));
  if (NameIs(line, colon, "date")) served = Trimmed(line.substr(colon + 1));
}

DownloadOutcome Downloader::Finish(CURLcode result) {
  DownloadOutcome outcome;
  outcome.bytes = bytes;
  // Times have a resolution of one second, and servers such as nginx build
  // the ETag from the modification time and size: a file changed within the
  // second it was served could change again and keep both. Such validators
  // are not handed out, so a later conditional request cannot miss a change.
  const time_t modified = lastModified.empty() ? -1 : curl_getdate(lastModified.c_str(), nullptr);
  const time_t servedAt = served.empty() ? -1 : curl_getdate(served.c_str(), nullptr);
  if (modified == -1 || servedAt == -1 || modified < servedAt) {
    outcome.etag = std::move(etag);
    outcome.lastModified = std::move(lastModified);
  }
  long status = 0;
  curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status);
  const bool conditional = !request.ifNoneMatch.empty() || !request.ifModifiedSince.empty();

  if (writeFailed) {
    outcome.status = DownloadStatus::kWriteFailed;
  } else if (cutOff || result == CURLE_FILESIZE_EXCEEDED) {
    outcome.status = DownloadStatus::kTooLarge;
  } else if (result != CURLE_OK) {
    outcome.status = DownloadStatus::kFailed;
  } else if (status == kNotModified && conditional) {
    outcome.status = DownloadStatus::kNotModified;
  } else if (status != 200) {
    outcome.status = DownloadStatus::kFailed;
  } else if (std::fflush(file.get()) != 0 || std::ferror(file.get()) != 0) {
    // Data still in the stream's buffer must reach the file before success
    // is reported: a full disk shows up here, not silently at the close.
    outcome.status = DownloadStatus::kWriteFailed;
  } else {
    platform::Sha256Digest digest{};
    const bool matches = !request.sha256 || (hasher->Finish(&digest) && digest == *request.sha256);
    outcome.status = matches ? DownloadStatus::kOk : DownloadStatus::kHashMismatch;
  }
  return outcome;
}

void Downloader::PrintProgress(double totalBytes, double receivedBytes) {
  double speed = 0.0;
  if (curl_easy_getinfo(handle.get(), CURLINFO_SPEED_DOWNLOAD, &speed) != CURLE_OK) return;
  std::fputs(FormatSpeedLine(speed).c_str(), stdout);
  std::fputs(FormatProgressLine(totalBytes, receivedBytes).c_str(), stdout);
}

std::size_t WriteCallback(char* data, std::size_t size, std::size_t count, void* userData) {
  if (userData == nullptr) return 0;
  return static_cast<Downloader*>(userData)->Write(data, size * count);
}

std::size_t HeaderCallback(char* data, std::size_t size, std::size_t count, void* userData) {
  try {
    if (userData != nullptr) static_cast<Downloader*>(userData)->Header(std::string_view(data, size * count));
  } catch (...) {
    return 0;  // out of memory: libcurl cannot unwind, so the transfer ends
  }
  return size * count;
}

int ProgressCallback(void* userData, double downloadTotal, double downloaded, double /*uploadTotal*/,
                     double /*uploaded*/) {
  try {
    if (userData != nullptr) static_cast<Downloader*>(userData)->PrintProgress(downloadTotal, downloaded);
  } catch (...) {
    // The report is never worth failing a transfer: libcurl cannot unwind an
    // exception, and the data keeps arriving either way.
  }
  return 0;
}

}  // namespace velmora::transfer
