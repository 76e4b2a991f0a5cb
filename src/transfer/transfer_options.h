// The settings a transfer session runs with: connections at once, stall window, proxy and certificate checks.
#pragma once

#include <string>

// The build's choices, from the CMake options of the same names; every
// user of this header sees the same values.
#ifndef VELMORA_DOWNLOAD_CONNECTIONS
#define VELMORA_DOWNLOAD_CONNECTIONS 8
#endif
#ifndef VELMORA_TLS_VERIFY
#define VELMORA_TLS_VERIFY 1
#endif
#ifndef VELMORA_TLS_TEST_SWITCH
#define VELMORA_TLS_TEST_SWITCH 0
#endif

namespace velmora::transfer {

// Whether this build obeys VELMORA_TLS_NO_VERIFY=1 (a test build only: a
// release ignores it, so nothing in a user's environment can turn the
// certificate checks off).
inline constexpr bool kTlsTestSwitchBuilt = VELMORA_TLS_TEST_SWITCH != 0;

// How the downloads of a session behave; the defaults are the ones a release
// runs with.
struct TransferOptions {
  // A transfer that receives less than 1 KiB per second for this many
  // seconds in a row is abandoned.
  long lowSpeedSeconds = 30;
  // Connections at once, and idle connections kept for reuse. 0 counts as 1.
  unsigned connections = VELMORA_DOWNLOAD_CONNECTIONS;
  // https: check the server's certificate chain against the trusted
  // certificate authorities, and its name against the URL's host.
  bool verifyPeer = VELMORA_TLS_VERIFY != 0;
  // Empty: the system's certificate authorities are trusted. Otherwise the
  // PEM file at this path holds the only ones trusted; when it cannot be
  // read, every https transfer fails.
  std::u16string caFile;
  // Whether transfers print their speed and progress on standard output.
  bool reportProgress = true;
  // Empty: libcurl takes the proxy from the environment (see TransferSession).
  // Otherwise every transfer goes through this proxy ("host:port", or a URL
  // naming its scheme) and the variables are not read; `noProxy` then lists
  // the hosts reached directly, in no_proxy's comma-separated form.
  std::string proxy;
  std::string noProxy;
};

// The release defaults, changed by test aids in the environment:
// VELMORA_LOW_SPEED_SECONDS=<seconds> shortens the stall window, and, only in
// a build with kTlsTestSwitchBuilt, VELMORA_TLS_NO_VERIFY=1 turns certificate
// checks off. Other values are ignored.
TransferOptions DefaultTransferOptions();

}  // namespace velmora::transfer
