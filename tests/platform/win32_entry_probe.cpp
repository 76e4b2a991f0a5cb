// Stands in for the updater behind the Windows entry point: reports the arguments it was handed.
#include <string>
#include <vector>

#include "driver/startup.h"
#include "platform/encoding.h"
#include "platform/win32/win32.h"

namespace velmora::driver {

// Writes each argument as UTF-8 on a line of its own into the file named by
// VELMORA_ENTRY_REPORT, and returns 40 plus their count, so a test sees both
// what the entry point passed on and that it returns this function's result.
int RunUpdater(const std::vector<std::u16string>& arguments) {
  wchar_t reportPath[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"VELMORA_ENTRY_REPORT", reportPath, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  std::string text;
  for (const std::u16string& argument : arguments) text += platform::WideToUtf8(argument) + "\n";
  platform::win32::FileHandle file(
      ::CreateFileW(reportPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (!file.IsValid() || !::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
    return 2;
  }
  return 40 + static_cast<int>(arguments.size());
}

}  // namespace velmora::driver
