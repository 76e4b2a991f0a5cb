// Conversions between wide (UTF-16), UTF-8 and ANSI text.
#pragma once

#include <string>

namespace velmora::platform {

// Each conversion reads its source up to the first NUL, never fails loudly and
// returns an empty string when the platform cannot convert. Malformed UTF-8
// becomes U+FFFD; a character the target cannot hold becomes its default
// character. "ANSI" is the active code page on Windows and UTF-8 on POSIX.
std::string WideToUtf8(std::u16string text);
std::u16string Utf8ToWide(std::string text);
std::string WideToAnsi(std::u16string text);
std::u16string AnsiToWide(std::string text);
// The log's encoding on every platform: code page 936 (GBK). A character it
// cannot hold becomes "?".
std::string WideToGbk(const std::u16string& text);
// GBK bytes (the log's fixed texts) as wide text; a sequence GBK does not
// define becomes U+FFFD.
std::u16string GbkToWide(const std::string& text);

}  // namespace velmora::platform
