// Sets the libcurl options of one transfer: request, callbacks, proxy, limits, allowed schemes and certificate checks.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "transfer/downloader_private.h"

namespace velmora::transfer {
namespace {

constexpr long kMaxRedirects = 5;
// A server that does not accept within this time is treated as unreachable.
constexpr long kConnectTimeoutSeconds = 15;
// Less than this many bytes per second over the stall window ends the
// transfer: a server that trickles must not hold the updater, and with it
// the single-instance lock, for hours.
constexpr long kMinimumBytesPerSecond = 1024;
// Deadlines: a file of known size may take as long as it would at 4 KiB/s
// on average, but never less than a minute (connection, redirects and a
// slow start); one of unknown size gets a fixed half hour.
constexpr std::uint64_t kDeadlineBytesPerSecond = 4 * 1024;
constexpr std::uint64_t kMinDeadlineSeconds = 60;
constexpr std::uint64_t kUnannouncedDeadlineSeconds = 30 * 60;

bool AppendHeader(CurlList& list, const char* name, const std::string& value) {
  if (value.empty()) return true;
  curl_slist* grown = curl_slist_append(list.get(), (name + value).c_str());
  if (grown == nullptr) return false;
  list.release();  // now owned through `grown`
  list.reset(grown);
  return true;
}

long DeadlineMilliseconds(const DownloadRequest& request) {
  std::uint64_t seconds = request.deadlineSeconds;
  if (seconds == 0) {
    seconds = request.maxBytes == 0
                  ? kUnannouncedDeadlineSeconds
                  : std::max(kMinDeadlineSeconds, request.maxBytes / kDeadlineBytesPerSecond);
  }
  // A long holds milliseconds for 24 days where it has 32 bits (Windows).
  constexpr std::uint64_t kMaxSeconds = static_cast<std::uint64_t>(std::numeric_limits<long>::max()) / 1000;
  return static_cast<long>(std::min(seconds, kMaxSeconds) * 1000);
}

bool StartsWithHttps(const std::string& url) {
  static constexpr char kScheme[] = "https://";
  if (url.size() < sizeof(kScheme) - 1) return false;
  for (std::size_t i = 0; i + 1 < sizeof(kScheme); ++i) {
    const char c = url[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kScheme[i]) return false;
  }
  return true;
}

// Only web addresses, for the request and for every redirect: a URL or a
// Location header naming file://, ftp:// or any other scheme fails, and
// what began over https never goes on in the clear.
bool RestrictSchemes(CURL* curl, bool httpsOnly) {
#if LIBCURL_VERSION_NUM >= 0x075500  // 7.85: the bit masks are deprecated
  return curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, httpsOnly ? "https" : "http,https") == CURLE_OK;
#else
  return curl_easy_setopt(curl, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS)) ==
             CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS,
                          static_cast<long>(httpsOnly ? CURLPROTO_HTTPS : CURLPROTO_HTTP | CURLPROTO_HTTPS)) == CURLE_OK;
#endif
}

}  // namespace

bool Downloader::ApplyOptions() {
  CURL* curl = handle.get();
  if (!AppendHeader(headers, "If-None-Match: ", request.ifNoneMatch) ||
      !AppendHeader(headers, "If-Modified-Since: ", request.ifModifiedSince) ||
      (offset > 0 && !AppendHeader(headers, "If-Range: ", request.ifRange))) {
    return false;
  }
  const std::string range = std::to_string(offset) + "-";
  if (offset > 0 && curl_easy_setopt(handle.get(), CURLOPT_RANGE, range.c_str()) != CURLE_OK) return false;
  // The first options keep the order the downloader always set them in.
  return curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_URL, url.c_str()) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_POST, 0L) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteCallback) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_WRITEDATA, this) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_NOPROGRESS, session.options.reportProgress ? 0L : 1L) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_PROGRESSDATA, this) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_PROGRESSFUNCTION, ProgressCallback) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, static_cast<long>(bufferBytes)) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, HeaderCallback) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_HEADERDATA, this) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, WarmPool::OpenSocketCallback) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, &session.pool) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_SOCKOPTFUNCTION, WarmPool::SocketOptionsCallback) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_SOCKOPTDATA, &session.pool) == CURLE_OK && ApplyProxy() && ApplyLimits() &&
         ApplySecurity();
}

bool Downloader::ApplyProxy() {
  const TransferOptions& options = session.options;
  // Left unset, libcurl reads the proxy variables itself: setting an empty
  // proxy would turn them off.
  if (options.proxy.empty()) return true;
  // Set even when empty: libcurl would otherwise take a no_proxy variable
  // in its place.
  return curl_easy_setopt(handle.get(), CURLOPT_PROXY, options.proxy.c_str()) == CURLE_OK &&
         curl_easy_setopt(handle.get(), CURLOPT_NOPROXY, options.noProxy.c_str()) == CURLE_OK;
}

bool Downloader::ApplyLimits() {
  CURL* curl = handle.get();
  if (curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds) != CURLE_OK ||
      curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, kMinimumBytesPerSecond) != CURLE_OK ||
      curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, session.options.lowSpeedSeconds) != CURLE_OK ||
      curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, DeadlineMilliseconds(request)) != CURLE_OK) {
    return false;
  }
  if (!session.http2) return true;
  // Over TLS a server may offer HTTP/2, and then the transfers of a batch
  // share one connection. Waiting for the first connection to show whether
  // it does is worth it only there: plain http stays HTTP/1.1, and its
  // transfers open their own connections at once.
  return curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS)) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_PIPEWAIT, StartsWithHttps(url) ? 1L : 0L) == CURLE_OK;
}

bool Downloader::ApplySecurity() {
  CURL* curl = handle.get();
  const long verify = session.options.verifyPeer ? 1L : 0L;
  if (!RestrictSchemes(curl, StartsWithHttps(url)) ||
      curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, verify) != CURLE_OK ||
      curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, verify * 2) != CURLE_OK) {
    return false;
  }
  if (session.caPem == nullptr) {
    // Windows builds of libcurl on OpenSSL read the system store only when
    // asked; elsewhere the flag changes nothing.
    return curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_NATIVE_CA)) == CURLE_OK;
  }
  // The authorities are handed over in memory: Schannel builds would open a
  // path through the ANSI code page, which cannot name every folder. No
  // file, folder or system store is consulted besides them. A private
  // authority seldom publishes revocation lists: Schannel, which alone
  // checks them, then refuses only a certificate known to be revoked.
  // Schannel builds know no folder of authorities and refuse the option
  // as not built in: there is none to clear, and that is no failure.
  const CURLcode folder = curl_easy_setopt(curl, CURLOPT_CAPATH, static_cast<char*>(nullptr));
  curl_blob authorities{const_cast<char*>(session.caPem->data()), session.caPem->size(), CURL_BLOB_NOCOPY};
  return (folder == CURLE_OK || folder == CURLE_NOT_BUILT_IN) &&
         curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT)) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_CAINFO, static_cast<char*>(nullptr)) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &authorities) == CURLE_OK;
}

}  // namespace velmora::transfer
