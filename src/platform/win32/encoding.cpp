// Conversions between UTF-16, UTF-8 and the active ANSI code page with the Windows text calls.
#include "platform/encoding.h"

#include <algorithm>
#include <vector>

#include "platform/win32/win32.h"

namespace velmora::platform {
namespace {

using win32::AsWide;

// Length -1 makes the platform read the source up to its first NUL and count
// that terminator too, so text after an embedded NUL is dropped. Flags 0: a
// character the code page cannot hold silently becomes its default character.
std::string WideToNarrow(UINT codePage, const std::u16string& text) {
  const int size = ::WideCharToMultiByte(codePage, 0, AsWide(text), -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  // One byte more than announced, all zero, so the result is always terminated.
  std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
  if (::WideCharToMultiByte(codePage, 0, AsWide(text), -1, buffer.data(), size, nullptr, nullptr) <= 0) {
    return std::string();
  }
  return std::string(buffer.data());
}

// Flags 0 (no MB_ERR_INVALID_CHARS): a malformed sequence becomes U+FFFD
// instead of failing the whole conversion.
std::u16string NarrowToWide(UINT codePage, const std::string& text) {
  const int size = ::MultiByteToWideChar(codePage, 0, text.c_str(), -1, nullptr, 0);
  if (size <= 0) return std::u16string();
  // Zero-filled, so a conversion that fails the second time yields empty text
  // rather than whatever the memory held.
  std::vector<wchar_t> buffer(static_cast<size_t>(size), L'\0');
  if (::MultiByteToWideChar(codePage, 0, text.c_str(), -1, buffer.data(), size) <= 0) {
    return std::u16string();
  }
  buffer.back() = L'\0';
  return win32::FromWide(buffer.data());
}

}  // namespace

std::string WideToUtf8(std::u16string text) { return WideToNarrow(CP_UTF8, text); }

std::u16string Utf8ToWide(std::string text) { return NarrowToWide(CP_UTF8, text); }

std::string WideToAnsi(std::u16string text) { return WideToNarrow(CP_ACP, text); }

std::u16string AnsiToWide(std::string text) { return NarrowToWide(CP_ACP, text); }

std::string WideToGbk(const std::u16string& text) { return WideToNarrow(936, text); }

std::u16string GbkToWide(const std::string& text) {
  // Code page 936 gives the lone byte 0xFF, which starts no GBK character,
  // the private-use character U+F8F5; it reads as any other undefined byte.
  std::u16string wide = NarrowToWide(936, text);
  std::replace(wide.begin(), wide.end(), u'\uF8F5', u'\uFFFD');
  return wide;
}

}  // namespace velmora::platform
