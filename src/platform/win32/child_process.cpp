// Running a program and waiting for it, with CreateProcessW and WaitForSingleObject.
#include "platform/child_process.h"

#include "platform/process.h"
#include "platform/win32/win32.h"

namespace velmora::platform {

bool RunProgramAndWait(const std::u16string& program, const std::vector<std::u16string>& arguments, int* exitCode) {
  // The child splits its command line as CommandLineToArgvW does, which is
  // what QuoteArgument quotes for.
  std::u16string commandLine = QuoteArgument(program);
  for (const std::u16string& argument : arguments) commandLine += u" " + QuoteArgument(argument);
  // CreateProcessW may write into the command line, so it gets a copy it owns.
  std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
  writable.push_back(L'\0');

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  // No handles inherited, no creation flags: a console program shares this console.
  if (!::CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
    return false;
  }
  const win32::KernelHandle process(started.hProcess);
  const win32::KernelHandle thread(started.hThread);
  if (::WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  if (!::GetExitCodeProcess(process.Get(), &code)) return false;
  *exitCode = static_cast<int>(code);
  return true;
}

}  // namespace velmora::platform
