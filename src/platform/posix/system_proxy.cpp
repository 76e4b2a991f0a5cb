// No system proxy setting on POSIX: the proxy environment variables serve there.
#include "platform/system_proxy.h"

namespace velmora::platform {

// libcurl reads http_proxy, https_proxy and no_proxy by itself.
bool GetSystemProxyFor(const std::string&, SystemProxy*) { return false; }

}  // namespace velmora::platform
