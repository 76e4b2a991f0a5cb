// Downloads one URL into one file with libcurl's easy interface.
#include "transfer/downloader.h"

#include <cstdio>
#include <new>
#include <utility>

#include "platform/encoding.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "transfer/connection_pool.h"
#include "transfer/downloader_private.h"
#include "transfer/progress_text.h"

namespace velmora::transfer {

const char kUserAgent[] =
    "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/55.0.2883.87 Safari/537.36";
static_assert(sizeof(kUserAgent) == 108 + 1, "the user agent has 108 characters");

namespace {

constexpr long kMaxRedirects = 5;
// A server that does not accept within this time is treated as unreachable.
constexpr long kConnectTimeoutSeconds = 15;
// Less than kLowSpeedBytes per second for kLowSpeedSeconds in a row ends the
// transfer: a stalled server must never hold the updater, and with it the
// single-instance lock, forever.
constexpr long kLowSpeedBytes = 1;
constexpr long kLowSpeedSeconds = 30;
// Only web addresses, for the request and for every redirect: a URL or a
// Location header naming file://, ftp:// or any other scheme fails.
constexpr long kAllowedProtocols = CURLPROTO_HTTP | CURLPROTO_HTTPS;
// Larger receive and file buffers than the defaults (16 KiB and 4 KiB) cut
// the system calls of a large download several times over.
constexpr long kReceiveBufferBytes = 256 * 1024;
constexpr std::size_t kFileBufferBytes = 256 * 1024;

}  // namespace

Downloader::~Downloader() {
  // The file is closed before the handle is released, and before its buffer.
  file.reset();
  fileBuffer.reset();
  handle.reset();
  url.clear();
  filePath.clear();
}

bool Downloader::Download(std::string sourceUrl, std::string targetPath) {
  if (sourceUrl.empty() || targetPath.empty()) return false;

  url = std::move(sourceUrl);
  platform::ReplaceAll(url, "\\", "/");
  filePath = targetPath;

  // The old file goes first, from the path as given, so that a failed
  // transfer can never leave the previous version looking current.
  platform::RemoveFile(platform::Utf8ToWide(targetPath));

  platform::ReplaceAll(filePath, "\\\\", "\\");
  platform::CreateDirectoryChain(filePath);

  handle.reset(curl_easy_init());
  if (!ApplyOptions(handle.get())) return false;

  file.reset(platform::OpenForBinaryWrite(filePath));
  if (!file) return false;
  // Without the larger buffer the download is merely slower. The buffer is
  // given explicitly because a C library may ignore the size otherwise.
  fileBuffer.reset(new (std::nothrow) char[kFileBufferBytes]);
  if (fileBuffer) std::setvbuf(file.get(), fileBuffer.get(), _IOFBF, kFileBufferBytes);

  if (curl_easy_perform(handle.get()) != CURLE_OK) return false;

  long status = 0;
  if (curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) return false;
  if (status != 200) return false;

  // Data still in the stream's buffer must reach the file before success is
  // reported: a full disk shows up here, not silently at the close.
  return std::fflush(file.get()) == 0 && std::ferror(file.get()) == 0;
}

bool Downloader::ApplyOptions(CURL* curl) {
  if (curl == nullptr || url.empty()) return false;

  const bool applied =
      curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent) == CURLE_OK &&
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
      curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L) == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds) == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytes) == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kLowSpeedSeconds) == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_PROTOCOLS, kAllowedProtocols) == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS, kAllowedProtocols) == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kReceiveBufferBytes) == CURLE_OK;
  if (!applied) return false;

  // Without the share object every download opens its own connection, which
  // is slower but still correct.
  CURLSH* share = SharedConnections();
  return share == nullptr || curl_easy_setopt(curl, CURLOPT_SHARE, share) == CURLE_OK;
}

std::size_t Downloader::Write(const void* data, std::size_t size, std::size_t count) {
  if (!file) return 0;
  return std::fwrite(data, size, count, file.get());
}

void Downloader::PrintProgress(double totalBytes, double receivedBytes) {
  std::fputs(FormatProgressLine(totalBytes, receivedBytes).c_str(), stdout);
}

std::size_t WriteCallback(char* data, std::size_t size, std::size_t count, void* userData) {
  if (userData == nullptr) return 0;
  return static_cast<Downloader*>(userData)->Write(data, size, count);
}

int ProgressCallback(void* userData, double downloadTotal, double downloaded, double /*uploadTotal*/,
                     double /*uploaded*/) {
  try {
    auto* downloader = static_cast<Downloader*>(userData);
    if (downloader == nullptr || !downloader->handle) return 0;
    double speed = 0.0;
    if (curl_easy_getinfo(downloader->handle.get(), CURLINFO_SPEED_DOWNLOAD, &speed) != CURLE_OK) {
      return 0;
    }
    std::fputs(FormatSpeedLine(speed).c_str(), stdout);
    downloader->PrintProgress(downloadTotal, downloaded);
  } catch (...) {
    // The report is never worth failing a transfer: libcurl cannot unwind an
    // exception, and the data keeps arriving either way.
  }
  return 0;
}

bool DownloadFile(std::string url, std::string path) {
  Downloader downloader;
  return downloader.Download(std::move(url), std::move(path));
}

}  // namespace velmora::transfer
