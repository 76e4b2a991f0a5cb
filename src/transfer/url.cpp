// Percent-encodes list names into URL paths; pure text work, no libcurl.
#include "transfer/url.h"

namespace velmora::transfer {
namespace {

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

}  // namespace

std::string EncodeUrlPath(const std::string& name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string path;
  path.reserve(name.size());
  bool separatorDue = false;  // a segment ended; "/" goes before the next one
  for (const char character : name) {
    const auto c = static_cast<unsigned char>(character);
    if (c == '/' || c == '\\') {
      separatorDue = !path.empty();
      continue;
    }
    if (separatorDue) path.push_back('/');
    separatorDue = false;
    if (IsUnreserved(c)) {
      path.push_back(character);
    } else {
      path.push_back('%');
      path.push_back(kHex[c >> 4]);
      path.push_back(kHex[c & 0x0F]);
    }
  }
  return path;
}

std::string JoinUrl(const std::string& baseUrl, const std::string& name) {
  std::string url = baseUrl;
  if (url.empty() || url.back() != '/') url.push_back('/');
  return url + EncodeUrlPath(name);
}

}  // namespace velmora::transfer
