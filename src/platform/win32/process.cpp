// Recognising, asking to close, waiting for and terminating a process by id, and starting programs, with the Windows calls.
#include "platform/process.h"

#include <climits>
#include <vector>

#include "platform/win32/win32.h"

namespace velmora::platform {

namespace {

// Id 0 is the idle process: it names nothing that can be stopped. Ids are
// kept within a positive int as on POSIX, so both backends refuse the same.
bool IsSingleProcessId(std::uint32_t processId) {
  return processId != 0 && processId <= static_cast<std::uint32_t>(INT_MAX);
}

// The full path of `path` as the system would open it, with 8.3 short names
// (as a temporary folder may have) spelled out; empty when it has none.
std::u16string FullPathOf(const std::u16string& path) {
  std::vector<wchar_t> full(32768);
  const DWORD length =
      ::GetFullPathNameW(win32::AsWide(path), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length == 0 || length >= full.size()) return std::u16string();
  std::vector<wchar_t> longPath(32768);
  const DWORD longLength = ::GetLongPathNameW(full.data(), longPath.data(), static_cast<DWORD>(longPath.size()));
  // A path that cannot be looked up is compared as it is written.
  const bool spelledOut = longLength != 0 && longLength < longPath.size();
  return win32::FromWide(spelledOut ? longPath.data() : full.data());
}

struct CloseRequest {
  DWORD processId;
  int posted;
};

BOOL CALLBACK PostCloseToWindowOf(HWND window, LPARAM parameter) {
  CloseRequest* request = reinterpret_cast<CloseRequest*>(parameter);
  DWORD owner = 0;
  if (::GetWindowThreadProcessId(window, &owner) != 0 && owner == request->processId &&
      ::PostMessageW(window, WM_CLOSE, 0, 0)) {
    ++request->posted;
  }
  return TRUE;  // on to the next window: a program may have several
}

}  // namespace

bool ProcessRunsProgram(std::uint32_t processId, const std::u16string& programPath) {
  if (!IsSingleProcessId(processId)) return false;
  // The limited right is granted for processes of other integrity levels too.
  win32::KernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, processId));
  if (!process.IsValid()) return false;
  // An ended process keeps its id while anyone holds a handle to it.
  if (::WaitForSingleObject(process.Get(), 0) != WAIT_TIMEOUT) return false;
  std::vector<wchar_t> image(32768);
  DWORD length = static_cast<DWORD>(image.size());
  if (!::QueryFullProcessImageNameW(process.Get(), 0, image.data(), &length)) return false;
  const std::u16string running = FullPathOf(win32::FromWide(image.data()));
  const std::u16string wanted = FullPathOf(programPath);
  if (running.empty() || wanted.empty()) return false;
  // File names on Windows compare without case, ordinally, as the file system does.
  return ::CompareStringOrdinal(win32::AsWide(running), static_cast<int>(running.size()), win32::AsWide(wanted),
                                static_cast<int>(wanted.size()), TRUE) == CSTR_EQUAL;
}

bool AskProcessToClose(std::uint32_t processId) {
  if (!IsSingleProcessId(processId)) return false;
  CloseRequest request{processId, 0};
  ::EnumWindows(PostCloseToWindowOf, reinterpret_cast<LPARAM>(&request));
  return request.posted > 0;
}

bool WaitForProcessExit(std::uint32_t processId, std::uint32_t milliseconds) {
  if (!IsSingleProcessId(processId)) return false;
  win32::KernelHandle process(::OpenProcess(SYNCHRONIZE, FALSE, processId));
  // An id that names no process at all is refused as an invalid parameter;
  // any other refusal (access denied) says nothing about its end.
  if (!process.IsValid()) return ::GetLastError() == ERROR_INVALID_PARAMETER;
  return ::WaitForSingleObject(process.Get(), milliseconds) == WAIT_OBJECT_0;
}

bool TerminateProcessById(std::uint32_t processId) {
  if (processId == 0) return false;
  // Access right 1 is PROCESS_TERMINATE; the handle is not inheritable.
  win32::KernelHandle process(::OpenProcess(1, FALSE, processId));
  if (!process.IsValid()) return false;
  // Exit code 0; TerminateProcess starts the termination and does not wait.
  return ::TerminateProcess(process.Get(), 0) != FALSE;
}

bool StartProgram(const std::u16string& path, const std::u16string& parameters,
                  const std::u16string& workingFolder) {
  const wchar_t* arguments = parameters.empty() ? nullptr : win32::AsWide(parameters);
  const wchar_t* folder = workingFolder.empty() ? nullptr : win32::AsWide(workingFolder);
  // No owner window, verb "open", show command 5 (SW_SHOW).
  HINSTANCE result = ::ShellExecuteW(nullptr, L"open", win32::AsWide(path), arguments, folder, 5);
  // ShellExecuteW reports success with a value greater than 32.
  return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace velmora::platform
