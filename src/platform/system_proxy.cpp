// Turning Windows' proxy and bypass lists into the forms libcurl takes, on every platform.
#include "platform/system_proxy.h"

#include <cctype>
#include <vector>

namespace velmora::platform {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The settings separate entries with ';'; lists typed by hand also use blanks and ','.
std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> entries;
  std::string entry;
  for (const char c : list + ";") {
    if (c == ';' || c == ',' || std::isspace(static_cast<unsigned char>(c))) {
      if (!entry.empty()) entries.push_back(entry);
      entry.clear();
    } else {
      entry.push_back(c);
    }
  }
  return entries;
}

// "https" for "HTTPS://host/"; a URL without a scheme is taken as http.
std::string SchemeOf(const std::string& url) {
  const std::size_t end = url.find("://");
  return end == std::string::npos ? "http" : Lower(url.substr(0, end));
}

// "host" for "http://user@Host:80/path", "::1" for "http://[::1]:80/".
std::string HostOf(const std::string& url) {
  std::size_t begin = url.find("://");
  begin = begin == std::string::npos ? 0 : begin + 3;
  std::string authority = url.substr(begin, url.find_first_of("/?#", begin) - begin);
  const std::size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);
  if (!authority.empty() && authority[0] == '[') return Lower(authority.substr(1, authority.find(']') - 1));
  return Lower(authority.substr(0, authority.find(':')));
}

// "10.*" or "192.168.1.*" as the address block no_proxy understands; empty
// for any other pattern.
std::string AddressPatternAsBlock(const std::string& pattern) {
  const std::string prefix = pattern.substr(0, pattern.size() - 2);
  int parts = 0;
  std::size_t digits = 0;
  for (const char c : prefix + ".") {
    if (c == '.') {
      if (digits == 0 || digits > 3) return std::string();
      ++parts;
      digits = 0;
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      ++digits;
    } else {
      return std::string();
    }
  }
  if (parts > 3) return std::string();
  std::string address = prefix;
  for (int i = parts; i < 4; ++i) address += ".0";
  return address + "/" + std::to_string(parts * 8);
}

// One bypass entry in no_proxy form; empty when it has none.
std::string NoProxyEntry(const std::string& entry, const std::string& host) {
  std::string name = Lower(entry);
  const std::size_t scheme = name.find("://");
  if (scheme != std::string::npos) name.erase(0, scheme + 3);
  if (name == "<local>") {
    // Windows goes direct to every name without a dot, which no_proxy cannot
    // say: it gets the loopback names, and this URL's host if it is such a name.
    std::string names = "localhost,127.0.0.1,::1";
    if (!host.empty() && host.find_first_of(".:") == std::string::npos && host != "localhost") names += "," + host;
    return names;
  }
  if (name == "*") return name;
  // A leading dot makes no_proxy match the domain's hosts.
  if (name.compare(0, 2, "*.") == 0 && name.find('*', 2) == std::string::npos) return name.substr(1);
  if (name.size() > 2 && name.compare(name.size() - 2, 2, ".*") == 0) return AddressPatternAsBlock(name);
  return name.find('*') == std::string::npos ? name : std::string();
}

}  // namespace

bool ChooseProxyFor(const std::string& url, const std::string& proxyList, const std::string& bypassList,
                    SystemProxy* out) {
  const std::string scheme = SchemeOf(url);
  std::string forScheme;
  std::string forAll;
  for (const std::string& entry : SplitList(proxyList)) {
    const std::size_t equals = entry.find('=');
    if (equals == std::string::npos) {
      if (forAll.empty()) forAll = entry;
    } else if (forScheme.empty() && Lower(entry.substr(0, equals)) == scheme) {
      forScheme = entry.substr(equals + 1);
    }
  }
  SystemProxy chosen;
  chosen.proxy = forScheme.empty() ? forAll : forScheme;
  if (chosen.proxy.empty()) return false;
  const std::string host = HostOf(url);
  for (const std::string& entry : SplitList(bypassList)) {
    const std::string names = NoProxyEntry(entry, host);
    if (names.empty()) continue;
    if (!chosen.bypass.empty()) chosen.bypass += ",";
    chosen.bypass += names;
  }
  *out = chosen;
  return true;
}

}  // namespace velmora::platform
