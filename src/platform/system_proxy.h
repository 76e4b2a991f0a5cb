// The proxy that the system's own settings choose for a URL.
#pragma once

#include <string>

namespace velmora::platform {

// A proxy in the forms libcurl takes.
struct SystemProxy {
  std::string proxy;   // "host:port"
  std::string bypass;  // hosts reached directly, comma-separated as no_proxy
};

// Windows: the current user's settings (WinHttpGetIEProxyConfigForCurrentUser).
// With auto-detection or an auto-config script, the proxy that chooses for
// `url` (WinHttpGetProxyForUrl, which can take seconds); else the static one.
// False, `out` untouched, when the URL goes direct. POSIX: always false.
bool GetSystemProxyFor(const std::string& url, SystemProxy* out);

// From Windows' proxy and bypass lists, as the settings hold them, the proxy
// for `url`: the list's entry for the URL's scheme ("http=h:p;https=h:p"),
// else its first entry without a scheme. "<local>" and "*" patterns become
// what no_proxy can say of them. False when no entry fits.
bool ChooseProxyFor(const std::string& url, const std::string& proxyList, const std::string& bypassList,
                    SystemProxy* out);

}  // namespace velmora::platform
