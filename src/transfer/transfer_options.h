// The process-wide settings of every download: connections at once, stall window and certificate checks.
#pragma once

// The build's choices, from the CMake options of the same names; every
// user of this header sees the same values.
#ifndef VELMORA_DOWNLOAD_CONNECTIONS
#define VELMORA_DOWNLOAD_CONNECTIONS 8
#endif
#ifndef VELMORA_TLS_VERIFY
#define VELMORA_TLS_VERIFY 1
#endif

namespace velmora::transfer {

// How downloads behave; the defaults are the ones a release runs with.
struct TransferOptions {
  // A transfer that receives less than 1 byte per second for this many
  // seconds in a row is abandoned.
  long lowSpeedSeconds = 30;
  // Transfers a batch runs at once, and connections kept for reuse.
  unsigned connections = VELMORA_DOWNLOAD_CONNECTIONS;
  // https: check the server's certificate chain against the system's
  // certificate authorities, and its name against the URL's host.
  bool verifyPeer = VELMORA_TLS_VERIFY != 0;
};

// The release defaults, changed by two aids for tests and benchmarks:
// VELMORA_LOW_SPEED_SECONDS=<seconds> shortens the stall window and
// VELMORA_TLS_NO_VERIFY=1 turns certificate checks off. Other values are
// ignored.
TransferOptions DefaultTransferOptions();

// Replaces the options of every download that starts afterwards. Meant to
// be called once at start-up, before any download, from the main thread;
// until then DefaultTransferOptions() applies. A connection count of 0
// counts as 1.
void SetTransferOptions(const TransferOptions& options);

// The options in force.
const TransferOptions& CurrentTransferOptions();

}  // namespace velmora::transfer
