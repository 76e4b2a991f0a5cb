// Which proxy a run's transfers take: the user's proxy variables, else the system's proxy setting.
#pragma once

#include <string>

#include "transfer/transfer_options.h"

namespace velmora::driver {

// True when a proxy variable libcurl reads holds a value: http_proxy,
// https_proxy, HTTPS_PROXY, all_proxy or ALL_PROXY. Windows finds names
// whatever their letter case, so HTTP_PROXY counts there; POSIX never reads it.
bool ProxyVariableSet();

// With no proxy variable set, asks the system's proxy setting once for
// `baseUrl` and gives `options` its proxy and bypass list, the hosts of a
// no_proxy (NO_PROXY) variable added. Returns what it chose for the log
// ("host:port", with the bypass list), or empty when transfers go direct or
// by the variables (always so on POSIX, whose backend has no such setting).
std::string ApplySystemProxy(const std::string& baseUrl, transfer::TransferOptions* options);

}  // namespace velmora::driver
