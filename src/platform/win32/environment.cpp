// The process's environment variables on Windows.
#include "platform/environment.h"

#include <vector>

#include "platform/encoding.h"
#include "platform/win32/win32.h"

namespace velmora::platform {

bool SetEnvironmentValue(const char* name, const std::u16string& value) {
  const std::u16string wideName = Utf8ToWide(name);
  return ::SetEnvironmentVariableW(win32::AsWide(wideName), win32::AsWide(value)) != FALSE;
}

std::optional<std::u16string> ReadEnvironmentValue(const char* name) {
  const std::u16string wideName = Utf8ToWide(name);
  const DWORD needed = ::GetEnvironmentVariableW(win32::AsWide(wideName), nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::vector<wchar_t> buffer(needed);
  const DWORD length = ::GetEnvironmentVariableW(win32::AsWide(wideName), buffer.data(), needed);
  if (length == 0 || length >= needed) return std::nullopt;
  return win32::FromWide(buffer.data());
}

void RemoveEnvironmentValue(const char* name) {
  const std::u16string wideName = Utf8ToWide(name);
  ::SetEnvironmentVariableW(win32::AsWide(wideName), nullptr);
}

}  // namespace velmora::platform
