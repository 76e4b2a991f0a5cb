// Writes a minidump beside the executable when a fault reaches no handler, then lets the process end.
#include "platform/crash_handler.h"

#include "platform/win32/win32.h"

namespace velmora::platform {
namespace {

constexpr int kPathUnits = MAX_PATH;  // 260 UTF-16 units, terminator included
// MiniDumpScanMemory (0x10) with MiniDumpWithIndirectlyReferencedMemory (0x40).
constexpr DWORD kDumpType = 0x50;
// "[" + 14 digits + "]" + ".dmp" and the terminator.
constexpr int kTimeAndExtensionUnits = 16 + 4 + 1;

// Appends with lstrcatW only when the result still fits the buffer: a module
// path near the limit must never write past it inside a crashing process.
bool AppendBounded(wchar_t* buffer, const wchar_t* text) {
  if (::lstrlenW(buffer) + ::lstrlenW(text) >= kPathUnits) return false;
  ::lstrcatW(buffer, text);
  return true;
}

// Set by the first fault. A fault while the dump is being written would enter
// the filter again, and again, until the stack runs out.
volatile LONG filterEntered = 0;

LONG WINAPI WriteCrashDump(EXCEPTION_POINTERS* exceptionPointers) {
  if (::InterlockedExchange(&filterEntered, 1) != 0) {
    const UINT code = exceptionPointers != nullptr && exceptionPointers->ExceptionRecord != nullptr
                          ? exceptionPointers->ExceptionRecord->ExceptionCode
                          : 1;
    ::TerminateProcess(::GetCurrentProcess(), code);
    return EXCEPTION_EXECUTE_HANDLER;
  }
  // Stack buffers only: the heap may be what failed.
  wchar_t dumpPath[kPathUnits] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, dumpPath, kPathUnits);
  if (length == 0 || length >= static_cast<DWORD>(kPathUnits)) return EXCEPTION_EXECUTE_HANDLER;
  wchar_t* lastSeparator = nullptr;
  for (wchar_t* unit = dumpPath; *unit != L'\0'; ++unit) {
    if (*unit == L'\\') lastSeparator = unit;
  }
  if (lastSeparator == nullptr) return EXCEPTION_EXECUTE_HANDLER;
  lastSeparator[1] = L'\0';
  if (!AppendBounded(dumpPath, L"Error\\")) return EXCEPTION_EXECUTE_HANDLER;

  const DWORD attributes = ::GetFileAttributesW(dumpPath);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    // Result not examined: a failure shows up when the file cannot be created.
    ::SHCreateDirectoryExW(nullptr, dumpPath, nullptr);
  }

  wchar_t modulePath[kPathUnits] = {};
  ::GetModuleFileNameW(nullptr, modulePath, kPathUnits);
  const wchar_t* executableName = ::PathFindFileNameW(modulePath);
  if (::lstrlenW(dumpPath) + ::lstrlenW(executableName) + 2 + kTimeAndExtensionUnits > kPathUnits) {
    return EXCEPTION_EXECUTE_HANDLER;
  }
  AppendBounded(dumpPath, L"[");
  AppendBounded(dumpPath, executableName);
  AppendBounded(dumpPath, L"]");

  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  wchar_t timePart[32] = {};
  ::wsprintfW(timePart, L"[%04d%02d%02d%02d%02d%02d]", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
              now.wSecond);
  AppendBounded(dumpPath, timePart);
  AppendBounded(dumpPath, L".dmp");

  win32::FileHandle file(::CreateFileW(dumpPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return EXCEPTION_EXECUTE_HANDLER;

  MINIDUMP_EXCEPTION_INFORMATION exceptionInformation{};
  exceptionInformation.ThreadId = ::GetCurrentThreadId();
  exceptionInformation.ExceptionPointers = exceptionPointers;
  exceptionInformation.ClientPointers = FALSE;
  // No callback. A callback record whose routine is null means the same on
  // Windows, but some dbghelp implementations call through it; none at all is
  // understood everywhere. A partial dump is kept; the file is closed either way.
  ::MiniDumpWriteDump(::GetCurrentProcess(), ::GetCurrentProcessId(), file.Get(), static_cast<MINIDUMP_TYPE>(kDumpType),
                      exceptionPointers != nullptr ? &exceptionInformation : nullptr, nullptr, nullptr);
  // EXCEPTION_EXECUTE_HANDLER: the process ends without the system's error report.
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void InstallCrashHandler() { ::SetUnhandledExceptionFilter(WriteCrashDump); }

void RemoveCrashHandler() { ::SetUnhandledExceptionFilter(nullptr); }

}  // namespace velmora::platform
