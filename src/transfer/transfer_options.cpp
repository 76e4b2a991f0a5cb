// Holds the download options and reads their test aids from the environment.
#include "transfer/transfer_options.h"

#include <cstdlib>
#include <cstring>

namespace velmora::transfer {

namespace {

TransferOptions& Current() {
  static TransferOptions options = DefaultTransferOptions();
  return options;
}

}  // namespace

TransferOptions DefaultTransferOptions() {
  TransferOptions options;
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
