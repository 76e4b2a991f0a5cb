// Forced termination of a process by id and detached program start with the Windows calls.
#include "platform/process.h"

#include "platform/win32/win32.h"

namespace velmora::platform {

bool TerminateProcessById(std::uint32_t processId) {
  // Id 0 is the idle process: it names nothing that can be stopped.
  if (processId == 0) return false;
  // Access right 1 is PROCESS_TERMINATE; the handle is not inheritable.
  win32::KernelHandle process(::OpenProcess(1, FALSE, processId));
  if (!process.IsValid()) return false;
  // Exit code 0; TerminateProcess starts the termination and does not wait.
  return ::TerminateProcess(process.Get(), 0) != FALSE;
}

bool StartProgram(const std::u16string& path, const std::u16string& parameters) {
  const wchar_t* arguments = parameters.empty() ? nullptr : win32::AsWide(parameters);
  // No owner window, verb "open", no working folder, show command 5 (SW_SHOW).
  HINSTANCE result = ::ShellExecuteW(nullptr, L"open", win32::AsWide(path), arguments, nullptr, 5);
  // ShellExecuteW reports success with a value greater than 32.
  return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace velmora::platform
