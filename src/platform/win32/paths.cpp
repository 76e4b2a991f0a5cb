// The updater's own folder and native path forms on Windows.
#include "platform/paths.h"

#include "platform/win32/win32.h"

namespace velmora::platform {

const char16_t kExecutableEnding[] = u".exe";
const bool kNamesIgnoreCase = true;

std::u16string GetModuleDirectory() {
  // A null module handle names the executable itself; 260 units is the
  // classic path limit the updater supports.
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  // A path that filled the whole buffer was cut short: it names no real folder.
  if (length == 0 || length >= MAX_PATH) return std::u16string();
  const std::u16string full = win32::FromWide(path);
  const std::size_t lastSeparator = full.rfind(u'\\');
  if (lastSeparator == std::u16string::npos) return std::u16string();
  return full.substr(0, lastSeparator + 1);
}


}  // namespace velmora::platform
