// Reads the test aids of the download options from the environment.
#include "transfer/transfer_options.h"

#include <cstdlib>
#include <cstring>

namespace velmora::transfer {

TransferOptions DefaultTransferOptions() {
  TransferOptions options;
  if (const char* seconds = std::getenv("VELMORA_LOW_SPEED_SECONDS")) {
    char* end = nullptr;
    const long value = std::strtol(seconds, &end, 10);
    if (end != seconds && *end == '\0' && value > 0) options.lowSpeedSeconds = value;
  }
  if (kTlsTestSwitchBuilt) {
    const char* noVerify = std::getenv("VELMORA_TLS_NO_VERIFY");
    if (noVerify != nullptr && std::strcmp(noVerify, "1") == 0) options.verifyPeer = false;
  }
  return options;
}

}  // namespace velmora::transfer
