// Holds the download options and reads their test aids from the environment.
#include "transfer/transfer_options.h"

#include <cstdlib>
#include <cstring>

namespace velmora::transfer {

namespace {

// Set by the build (VELMORA_DOWNLOAD_CONNECTIONS, VELMORA_TLS_VERIFY).
#ifndef VELMORA_DOWNLOAD_CONNECTIONS
#define VELMORA_DOWNLOAD_CONNECTIONS 8
#endif
#ifndef VELMORA_TLS_VERIFY
#define VELMORA_TLS_VERIFY 1
#endif

TransferOptions& Current() {
  static TransferOptions options = DefaultTransferOptions();
  return options;
}

}  // namespace

TransferOptions DefaultTransferOptions() {
  TransferOptions options;
  options.connections = VELMORA_DOWNLOAD_CONNECTIONS;
  options.verifyPeer = VELMORA_TLS_VERIFY != 0;
  if (const char* seconds = std::getenv("VELMORA_LOW_SPEED_SECONDS")) {
    char* end = nullptr;
    const long value = std::strtol(seconds, &end, 10);
    if (end != seconds && *end == '\0' && value > 0) options.lowSpeedSeconds = value;
  }
  if (const char* noVerify = std::getenv("VELMORA_TLS_NO_VERIFY")) {
    if (std::strcmp(noVerify, "1") == 0) options.verifyPeer = false;
  }
  return options;
}

void SetTransferOptions(const TransferOptions& options) {
  Current() = options;
  if (Current().connections == 0) Current().connections = 1;
}

const TransferOptions& CurrentTransferOptions() { return Current(); }

}  // namespace velmora::transfer
