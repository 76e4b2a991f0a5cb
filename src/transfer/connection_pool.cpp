// Keeps the libcurl share object through which downloads reuse connections.
#include "transfer/connection_pool.h"

namespace velmora::transfer {

namespace {

CurlShareHandle MakeShare() {
  CurlShareHandle share(curl_share_init());
  if (!share) return share;
  if (curl_share_setopt(share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT) != CURLSHE_OK ||
      curl_share_setopt(share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) != CURLSHE_OK) {
    share.reset();
  }
  return share;
}

}  // namespace

CURLSH* SharedConnections() {
  // Released at process exit, after the last easy handle is gone, so its
  // cached connections are closed rather than leaked.
  static const CurlShareHandle share = MakeShare();
  return share.get();
}

}  // namespace velmora::transfer
