// Which relative names may become files inside the installation, and the path each installs to.
#include "layout/name_policy.h"

#include <algorithm>
#include <cstddef>

namespace velmora::layout {
namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// The upper case Windows gives a UTF-16 unit when it compares file names,
// for the scripts a file name is written in (Latin, Greek, Cyrillic,
// Armenian and the full-width forms); units it has no upper case for stay
// as they are, as they do in the file system's own table.
char16_t UpperOf(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) ||
      (c >= 0x430 && c <= 0x44F) || (c >= 0xFF41 && c <= 0xFF5A)) {
    return static_cast<char16_t>(c - 0x20);
  }
  if (c == 0xFF) return 0x178;
  if (c == 0x3C2) return 0x3A3;  // final sigma
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  if (c >= 0x561 && c <= 0x586) return static_cast<char16_t>(c - 0x30);
  // Latin Extended-A and the Cyrillic supplement pair upper and lower case
  // as even and odd units, with the exceptions around the dotless i.
  const bool pairedLatin = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
  const bool pairedCyrillic = (c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F);
  if ((pairedLatin || pairedCyrillic) && (c & 1) != 0 && c != 0x131) return static_cast<char16_t>(c - 1);
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E) || (c >= 0x4C1 && c <= 0x4CE)) {
    return (c & 1) == 0 ? static_cast<char16_t>(c - 1) : c;
  }
  return c;
}

// Windows opens the device whatever extension follows: "nul.txt" is NUL.
bool IsDeviceName(const std::u16string& component) {
  std::u16string base = component.substr(0, component.find(u'.'));
  while (!base.empty() && base.back() == u' ') base.pop_back();
  for (const char16_t* device : {u"con", u"prn", u"aux", u"nul"}) {
    if (EqualsIgnoringCase(base, device)) return true;
  }
  if (base.size() != 4 || base[3] < u'1' || base[3] > u'9') return false;
  const std::u16string stem = base.substr(0, 3);
  return EqualsIgnoringCase(stem, u"com") || EqualsIgnoringCase(stem, u"lpt");
}

// "PROGRA~1" or "UPDATE~12.PUB": Windows may give such a short name to any
// long one, so it could reach a file the list never named.
bool CouldBeShortAlias(const std::u16string& component) {
  const std::size_t end = component.find(u'.');
  const std::size_t stemEnd = end == std::u16string::npos ? component.size() : end;
  const std::size_t tilde = component.rfind(u'~', stemEnd);
  if (tilde == std::u16string::npos || tilde == 0 || tilde + 1 >= stemEnd) return false;
  for (std::size_t i = tilde + 1; i < stemEnd; ++i) {
    if (component[i] < u'0' || component[i] > u'9') return false;
  }
  return true;
}

bool IsSafeComponent(const std::u16string& component) {
  bool onlyDotsAndBlanks = true;
  for (char16_t c : component) {
    if (c < 0x20 || c == 0x7F) return false;
    for (char16_t refused : u":*?\"<>|") {
      if (refused != 0 && c == refused) return false;
    }
    if (c != u'.' && c != u' ') onlyDotsAndBlanks = false;
  }
  // Windows drops trailing dots and blanks, so "a." and "a " would name "a",
  // and ".." or ". ." the parent.
  if (onlyDotsAndBlanks) return false;
  if (component.back() == u'.' || component.back() == u' ') return false;
  return !IsDeviceName(component) && !CouldBeShortAlias(component);
}

// Decodes strict UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF) into UTF-16; false at the first malformed sequence.
bool DecodeStrictUtf8(const std::string& text, std::u16string* wide) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    int extra = 0;
    char32_t point = 0;
    if (lead < 0x80) {
      point = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1, point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2, point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3, point = lead & 0x07;
    } else {
      return false;
    }
    if (extra > 0 && i + static_cast<std::size_t>(extra) >= text.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      if ((next & 0xC0) != 0x80) return false;
      point = (point << 6) | (next & 0x3F);
    }
    const bool overlong = (extra == 2 && point < 0x800) || (extra == 3 && point < 0x10000);
    if (overlong || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
    if (point >= 0x10000) {
      point -= 0x10000;
      wide->push_back(static_cast<char16_t>(0xD800 + (point >> 10)));
      wide->push_back(static_cast<char16_t>(0xDC00 + (point & 0x3FF)));
    } else {
      wide->push_back(static_cast<char16_t>(point));
    }
    i += static_cast<std::size_t>(extra) + 1;
  }
  return true;
}

}  // namespace

bool EqualsIgnoringCase(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperOf(a[i]) != UpperOf(b[i])) return false;
  }
  return true;
}

std::u16string FoldCase(std::u16string name) {
  for (char16_t& c : name) c = UpperOf(c);
  return name;
}

bool IsSafeRelativeName(const std::u16string& name) {
  if (name.empty() || IsSeparator(name.front())) return false;
  std::size_t begin = 0;
  while (begin < name.size()) {
    std::size_t end = begin;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    if (end > begin && !IsSafeComponent(name.substr(begin, end - begin))) return false;
    begin = end + 1;
  }
  return true;
}

bool InstalledPathKey(const std::string& name, std::u16string* key) {
  std::u16string wide;
  if (!DecodeStrictUtf8(name, &wide)) return false;
  std::u16string folded;
  folded.reserve(wide.size());
  for (char16_t c : wide) {
    if (IsSeparator(c)) {
      if (!folded.empty() && folded.back() != u'\\') folded.push_back(u'\\');
      continue;
    }
    folded.push_back(UpperOf(c));
  }
  if (!folded.empty() && folded.back() == u'\\') folded.pop_back();
  *key = std::move(folded);
  return true;
}

bool AreDistinctPlaces(std::vector<std::u16string> keys) {
  std::sort(keys.begin(), keys.end());
  if (std::adjacent_find(keys.begin(), keys.end()) != keys.end()) return false;
  for (const std::u16string& key : keys) {
    for (std::size_t separator = key.find(u'\\'); separator != std::u16string::npos;
         separator = key.find(u'\\', separator + 1)) {
      if (std::binary_search(keys.begin(), keys.end(), key.substr(0, separator))) return false;
    }
  }
  return true;
}

}  // namespace velmora::layout
