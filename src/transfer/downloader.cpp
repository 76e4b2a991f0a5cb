// Prepares, feeds and finishes one transfer: callbacks, target file or string, digest and outcome.
#include "transfer/downloader_private.h"

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#include "platform/encoding.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "transfer/progress_text.h"

namespace velmora::transfer {

const char kUserAgent[] =
    "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/55.0.2883.87 Safari/537.36";
static_assert(sizeof(kUserAgent) == 108 + 1, "the user agent has 108 characters");

namespace {

constexpr long kNotModified = 304;
constexpr long kPartialContent = 206;

bool HasLineBreak(const std::string& value) { return value.find_first_of("\r\n") != std::string::npos; }

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

Downloader::Downloader(const DownloadRequest& request, const SessionParts& session, std::size_t bufferBytes)
    : request(request),
      session(session),
      bufferBytes(bufferBytes),
      cap(request.maxBytes != 0 || request.exactlyEmpty ? request.maxBytes : kUnannouncedSizeCap),
      // A range without its validator could splice two versions of a file.
      offset(request.body == nullptr && request.decoder == nullptr && !request.ifRange.empty() ? request.resumeFrom
                                                                                                 : 0) {}

Downloader::~Downloader() {
  // The file is closed before the handle is released, and before its buffer.
  file.reset();
  fileBuffer.reset();
  handle.reset();
}

bool Downloader::Prepare(DownloadOutcome* failure) {
  failure->status = DownloadStatus::kFailed;
  if (request.url.empty() || (request.body == nullptr && request.path.empty())) return false;
  // A line break would let a stored value add headers of its own.
  if (HasLineBreak(request.ifNoneMatch) || HasLineBreak(request.ifModifiedSince) || HasLineBreak(request.ifRange)) {
    return false;
  }

  url = request.url;
  platform::ReplaceAll(url, "\\", "/");
  if (request.sha256) hasher.emplace();
  if (request.bodySha256) bodyHasher.emplace();
  if (request.body != nullptr) {
    request.body->clear();
  } else if (offset == 0 || !HashPrefix()) {
    // The old file goes first, so that a failed transfer can never leave the
    // previous version looking current. A prefix that cannot be read whole
    // is fetched again.
    offset = 0;
    if (request.sha256) hasher.emplace();
    platform::RemoveFile(request.path);
  }

  handle.reset(curl_easy_init());
  if (!handle || !ApplyOptions()) return false;

  if (request.body == nullptr && !OpenTarget()) {
    failure->status = DownloadStatus::kWriteFailed;
    failure->osError = osError;
    return false;
  }
  return true;
}

bool Downloader::HashPrefix() {
  if (!hasher) return true;
  FileHandle prefix(platform::OpenForBinaryRead(request.path));
  if (!prefix) return false;
  std::vector<char> buffer(std::min<std::uint64_t>(offset, bufferBytes));
  for (std::uint64_t left = offset; left > 0;) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
    if (std::fread(buffer.data(), 1, want, prefix.get()) != want) return false;
    hasher->Update(buffer.data(), want);
    left -= want;
  }
  return true;
}

bool Downloader::OpenTarget() {
  // Folders are made only when the first open fails: in a batch most
  // targets share folders that exist by then.
  const auto open = offset > 0 ? platform::OpenForBinaryAppend : platform::OpenForBinaryWrite;
  file.reset(open(request.path));
  if (!file) {
    platform::CreateDirectoryChain(request.path);
    errno = 0;
    file.reset(open(request.path));
  }
  if (!file) {
    osError = static_cast<std::uint32_t>(errno);
    return false;
  }
  // Without the buffer the download is merely slower. It is given
  // explicitly because a C library may ignore the size otherwise.
  fileBuffer.reset(new (std::nothrow) char[bufferBytes]);
  if (fileBuffer) std::setvbuf(file.get(), fileBuffer.get(), _IOFBF, bufferBytes);
  return true;
}

std::size_t Downloader::Write(const char* data, std::size_t size) {
  if (responseRefused || (!file && request.body == nullptr)) return 0;
  // Servers may omit the length: the cap is enforced on what arrives, and
  // nothing of the piece that crosses it reaches the target.
  const std::uint64_t counted = request.decoder != nullptr ? bytes : written;
  if (counted > cap || size > cap - counted) {
    cutOff = true;
    return 0;
  }
  if (request.decoder != nullptr) {
    if (!request.decoder->Feed(data, size, [this](const char* piece, std::size_t length) {
          return Emit(piece, length);
        })) {
      if (!writeFailed) decodeFailed = true;
      return 0;
    }
  } else if (!Emit(data, size)) {
    return 0;
  }
  if (bodyHasher) bodyHasher->Update(data, size);
  bytes += size;
  return size;
}

bool Downloader::Emit(const char* data, std::size_t size) {
  if (request.body != nullptr) {
    try {
      request.body->append(data, size);
    } catch (...) {
      writeFailed = true;  // out of memory: libcurl cannot unwind
      return false;
    }
  } else if (std::fwrite(data, 1, size, file.get()) != size) {
    osError = static_cast<std::uint32_t>(errno);
    writeFailed = true;
    return false;
  }
  // A hasher that failed is spent, and the digest check then fails.
  if (hasher) hasher->Update(data, size);
  written += size;
  return true;
}

bool Downloader::TakeResponse(long status) {
  if (status == kPartialContent && offset > 0) {
    // "bytes 1000-1999/2000": the rest, from exactly where the target ends.
    resumed = contentRange.rfind("bytes " + std::to_string(offset) + "-", 0) == 0;
    written = offset;
    return resumed;
  }
  if (status != 200 || request.body != nullptr) return true;
  if (offset > 0) {
    // The server sends the whole body (it ignores ranges, or the file
    // changed): the target starts over.
    offset = 0;
    file.reset(platform::OpenForBinaryWrite(request.path));
    if (!file) {
      osError = static_cast<std::uint32_t>(errno);
      writeFailed = true;
      return false;
    }
    if (fileBuffer) std::setvbuf(file.get(), fileBuffer.get(), _IOFBF, bufferBytes);
    if (request.sha256) hasher.emplace();
  }
  if (request.validatorsPath.empty()) return true;
  // A weak ETag cannot make a range request conditional; the modification
  // time can. Without either the copy cannot be resumed: none is written.
  const std::string& validator = !etag.empty() && etag.rfind("W/", 0) != 0 ? etag : lastModified;
  platform::RemoveFile(request.validatorsPath);
  if (validator.empty()) return true;
  // A validator that cannot be written whole is not left half-written: the
  // copy is then fetched afresh next time rather than resumed.
  FileHandle out(platform::OpenForBinaryWrite(request.validatorsPath));
  const bool written = out && std::fwrite(validator.data(), 1, validator.size(), out.get()) == validator.size() &&
                       std::fflush(out.get()) == 0;
  out.reset();
  if (!written) platform::RemoveFile(request.validatorsPath);
  return true;
}

void Downloader::Header(std::string_view line) {
  // Each response of a redirect chain starts with its status line; only
  // the last response's fields count.
  if (line.compare(0, 5, "HTTP/") == 0) {
    etag.clear();
    lastModified.clear();
    served.clear();
    contentRange.clear();
    return;
  }
  if (Trimmed(line).empty()) {
    // The end of a response's header: a server that ignores conditional
    // requests answers an unchanged list with its old validators.
    const bool unchanged = (!request.ifNoneMatch.empty() && etag == request.ifNoneMatch) ||
                           (!request.ifModifiedSince.empty() && lastModified == request.ifModifiedSince);
    long status = 0;
    curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status);
    long version = CURL_HTTP_VERSION_NONE;
    if (curl_easy_getinfo(handle.get(), CURLINFO_HTTP_VERSION, &version) == CURLE_OK &&
        version >= CURL_HTTP_VERSION_2_0) {
      multiplexed = true;
    }
    // A server that multiplexes needs no more connections than this one.
    if (status == 200 && !unchanged && !multiplexed && request.warmConnections > 0 && !warmed) {
      warmed = true;
      session.pool.Warm(request.warmConnections);
    }
    if (!TakeResponse(status)) responseRefused = true;
    return;
  }
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return;
  if (NameIs(line, colon, "etag")) etag = Trimmed(line.substr(colon + 1));
  if (NameIs(line, colon, "last-modified")) lastModified = Trimmed(line.substr(colon + 1));
  if (NameIs(line, colon, "date")) served = Trimmed(line.substr(colon + 1));
  if (NameIs(line, colon, "content-range")) contentRange = Trimmed(line.substr(colon + 1));
}

DownloadOutcome Downloader::Finish(CURLcode result) {
  DownloadOutcome outcome;
  outcome.bytes = bytes;
  outcome.written = written;
  outcome.transferError = static_cast<int>(result);
  outcome.osError = osError;
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
  if (curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &outcome.httpStatus) != CURLE_OK) {
    outcome.httpStatus = 0;
  }
  const long status = outcome.httpStatus;
  const bool conditional = !request.ifNoneMatch.empty() || !request.ifModifiedSince.empty();

  if (writeFailed) {
    outcome.status = DownloadStatus::kWriteFailed;
  } else if (cutOff || result == CURLE_FILESIZE_EXCEEDED) {
    outcome.status = DownloadStatus::kTooLarge;
  } else if (responseRefused) {
    outcome.status = DownloadStatus::kFailed;
  } else if (decodeFailed) {
    outcome.status = DownloadStatus::kDecodeFailed;
  } else if (result != CURLE_OK) {
    outcome.status = DownloadStatus::kFailed;
  } else if (status == kNotModified && conditional) {
    outcome.status = DownloadStatus::kNotModified;
  } else if (status != 200 && !(status == kPartialContent && resumed)) {
    outcome.status = DownloadStatus::kFailed;
  } else if (file && (std::fflush(file.get()) != 0 || std::ferror(file.get()) != 0)) {
    // Data still in the stream's buffer must reach the file before success
    // is reported: a full disk shows up here, not silently at the close.
    outcome.osError = static_cast<std::uint32_t>(errno);
    outcome.status = DownloadStatus::kWriteFailed;
  } else if (request.decoder != nullptr && !request.decoder->End()) {
    outcome.status = DownloadStatus::kDecodeFailed;
  } else {
    platform::Sha256Digest digest{}, bodyDigest{};
    const bool matches = (!request.sha256 || (hasher->Finish(&digest) && digest == *request.sha256)) &&
                         (!request.bodySha256 || (bodyHasher->Finish(&bodyDigest) && bodyDigest == *request.bodySha256));
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
