// Which relative names may become files inside the installation.
#include "platform/name_policy.h"

#include <cstddef>

#include "platform/encoding.h"
#include "platform/names.h"

namespace velmora::platform {
namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

char16_t AsciiLower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool EqualsIgnoringCase(const std::u16string& text, const std::u16string& word) {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (AsciiLower(text[i]) != AsciiLower(word[i])) return false;
  }
  return true;
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
  return !IsDeviceName(component);
}

}  // namespace

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

bool IsUpdaterOwnName(const std::u16string& component) {
  // Both forms of the retire folder: Windows uses the drive's "RECYCLER" and,
  // without a drive letter, the installation's own ".RECYCLER".
  const std::u16string ownNames[] = {DownloadFolderName, LogFolderName,     CrashFolderName,
                                     u"RECYCLER",        u".RECYCLER",      LocalListFileName,
                                     UpdateKeyFileName,  ListTimestampFileName, ListValidatorsFileName, StagingFolderName,
                                     JournalFileName};
  for (const std::u16string& own : ownNames) {
    if (EqualsIgnoringCase(component, own)) return true;
  }
  // The executable's name as the plan matches it: exactly.
  return component == Utf8ToWide(UpdaterFileName);
}

}  // namespace velmora::platform
