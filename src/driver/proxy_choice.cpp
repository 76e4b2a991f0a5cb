// Chooses between the proxy variables and the system's proxy setting, once per run.
#include "driver/proxy_choice.h"

#include <initializer_list>
#include <optional>

#include "platform/encoding.h"
#include "platform/environment.h"
#include "platform/system_proxy.h"

namespace velmora::driver {
namespace {

// The value of the first of `names` that is set and not empty.
std::string FirstValueOf(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const std::optional<std::u16string> value = platform::ReadEnvironmentValue(name);
    if (value && !value->empty()) return platform::WideToUtf8(*value);
  }
  return std::string();
}

}  // namespace

bool ProxyVariableSet() {
  // Lower case first, as libcurl looks: on Windows the lookup ignores case,
  // so "http_proxy" also finds HTTP_PROXY, which POSIX must never take (a
  // CGI environment sets it from a request's Proxy header).
  return !FirstValueOf({"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}).empty();
}

std::string ApplySystemProxy(const std::string& baseUrl, transfer::TransferOptions* options) {
  // Whoever set a variable chose the proxy for this process: libcurl then
  // follows the variables alone, as it does for every other program.
  if (ProxyVariableSet()) return std::string();
  platform::SystemProxy chosen;
  if (!platform::GetSystemProxyFor(baseUrl, &chosen)) return std::string();
  // Hosts the user named in no_proxy stay direct through any proxy.
  const std::string userBypass = FirstValueOf({"no_proxy", "NO_PROXY"});
  if (!userBypass.empty()) chosen.bypass += (chosen.bypass.empty() ? "" : ",") + userBypass;
  options->proxy = chosen.proxy;
  options->noProxy = chosen.bypass;
  return chosen.bypass.empty() ? chosen.proxy : chosen.proxy + " (bypass " + chosen.bypass + ")";
}

}  // namespace velmora::driver
