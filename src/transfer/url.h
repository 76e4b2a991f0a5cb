// Builds the URLs of list names: path segments percent-encoded as RFC 3986 requires.
#pragma once

#include <string>

namespace velmora::transfer {

// The URL of `name` (a list name in UTF-8; "\" and "/" separate segments,
// doubled separators count as one, leading and trailing ones are dropped)
// below `baseUrl`. A base URL without a trailing "/" gets one. Each segment is
// percent-encoded: every byte except the unreserved characters
// (A-Z a-z 0-9 - . _ ~) becomes %XX (upper-case hex). The base is taken as is.
std::string JoinUrl(const std::string& baseUrl, const std::string& name);

// The same encoding of one name's segments alone, joined by "/" (no base).
std::string EncodeUrlPath(const std::string& name);

}  // namespace velmora::transfer
