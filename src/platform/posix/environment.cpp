// The process's environment variables on POSIX.
#include "platform/environment.h"

#include <cstdlib>

#include "platform/encoding.h"

namespace velmora::platform {

bool SetEnvironmentValue(const char* name, const std::u16string& value) {
  return ::setenv(name, WideToUtf8(value).c_str(), 1) == 0;
}

std::optional<std::u16string> ReadEnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return Utf8ToWide(value);
}

void RemoveEnvironmentValue(const char* name) { ::unsetenv(name); }

}  // namespace velmora::platform
