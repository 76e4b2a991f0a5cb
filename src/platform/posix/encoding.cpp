// Text conversions on POSIX, where the ANSI code page is UTF-8.
#include "platform/encoding.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

namespace velmora::platform {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void AppendUtf16(std::u16string& out, std::uint32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::uint32_t unit = text[i];
    if (unit == 0) break;  // the source ends at its first NUL
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendUtf8(out, kReplacement);  // an unpaired surrogate
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

// Decodes UTF-8; every maximal ill-formed subsequence becomes one U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char lead = bytes[i];
    if (lead == 0) break;
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    std::size_t length = 0;
    std::uint32_t c = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      c = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      c = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    std::size_t consumed = 1;
    bool valid = true;
    for (; consumed < length; ++consumed) {
      if (i + consumed >= n) {
        valid = false;
        break;
      }
      const unsigned char next = bytes[i + consumed];
      const unsigned char min = consumed == 1 ? low : 0x80;
      const unsigned char max = consumed == 1 ? high : 0xBF;
      if (next < min || next > max) {
        valid = false;
        break;
      }
      c = (c << 6) | (next & 0x3F);
    }
    if (valid) {
      AppendUtf16(out, c);
    } else {
      out.push_back(kReplacement);
    }
    i += consumed;
  }
  return out;
}

}  // namespace

std::string WideToUtf8(std::u16string text) { return Utf16ToUtf8(text); }
std::u16string Utf8ToWide(std::string text) { return Utf8ToUtf16(text); }
std::string WideToAnsi(std::u16string text) { return Utf16ToUtf8(text); }
std::u16string AnsiToWide(std::string text) { return Utf8ToUtf16(text); }

std::string WideToGbk(const std::u16string& text) {
  std::string utf8 = WideToUtf8(text);
  // ASCII reads the same in GBK. Most logged paths are ASCII, and loading
  // the converter costs about 0.15 MiB of resident memory.
  bool ascii = true;
  for (const char c : utf8) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return utf8;
  iconv_t converter = ::iconv_open("GBK//TRANSLIT", "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) return utf8;
  std::string out(utf8.size() * 2 + 4, '\0');
  char* in = utf8.data();
  std::size_t inLeft = utf8.size();
  char* next = out.data();
  std::size_t outLeft = out.size();
  while (inLeft > 0) {
    if (::iconv(converter, &in, &inLeft, &next, &outLeft) != static_cast<std::size_t>(-1)) break;
    if (errno != EILSEQ && errno != EINVAL) break;
    // A character GBK cannot hold: one "?" for its whole UTF-8 sequence.
    std::size_t length = 1;
    while (length < inLeft && (static_cast<unsigned char>(in[length]) & 0xC0) == 0x80) ++length;
    in += length;
    inLeft -= length;
    if (outLeft == 0) break;
    *next++ = '?';
    --outLeft;
  }
  ::iconv_close(converter);
  out.resize(out.size() - outLeft);
  return out;
}

std::u16string GbkToWide(const std::string& text) {
  bool ascii = true;
  for (const char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return Utf8ToWide(text);
  iconv_t converter = ::iconv_open("UTF-8", "GBK");
  if (converter == reinterpret_cast<iconv_t>(-1)) return Utf8ToWide(text);
  std::string in = text;
  char* next = in.data();
  std::size_t inLeft = in.size();
  // Every GBK character takes at most three bytes of UTF-8.
  std::string out(in.size() * 2 + 4, '\0');
  char* written = out.data();
  std::size_t outLeft = out.size();
  while (inLeft > 0) {
    if (::iconv(converter, &next, &inLeft, &written, &outLeft) != static_cast<std::size_t>(-1)) break;
    if ((errno != EILSEQ && errno != EINVAL) || outLeft < 3) break;
    // A byte that starts no GBK character: U+FFFD in its place.
    ++next;
    --inLeft;
    for (const char c : {'\xEF', '\xBF', '\xBD'}) *written++ = c;
    outLeft -= 3;
  }
  ::iconv_close(converter);
  out.resize(out.size() - outLeft);
  return Utf8ToWide(out);
}

}  // namespace velmora::platform
