// Helpers of the Win32 backend tests: a temporary-folder fixture, whole-file reads and writes, junctions and child processes.
#include "platform/win32_test_support.h"

#include <algorithm>

#include "platform/crash_handler.h"
#include "platform/encoding.h"
#include "platform/instance_lock.h"
#include "platform/paths.h"
// Junctions are made with a device control the lean Windows header leaves out.
#include <winioctl.h>

namespace velmora::platform::win32_test {

namespace vp = velmora::platform;

namespace {

constexpr DWORD kChildWaitMs = 60000;

std::u16string ReadVariable(const wchar_t* name) {
  wchar_t value[1024] = {};
  const DWORD length = ::GetEnvironmentVariableW(name, value, 1024);
  if (length == 0 || length >= 1024) return std::u16string();
  return win32::FromWide(value);
}

// Writes the module directory and the arguments after the program name, one
// per line, then renames the file into place so the parent never reads half.
void ReportSelf(const std::u16string& reportPath) {
  std::string text = vp::WideToUtf8(vp::GetModuleDirectory()) + "\n";
  int count = 0;
  LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  for (int i = 1; arguments != nullptr && i < count; ++i) text += vp::WideToUtf8(win32::FromWide(arguments[i])) + "\n";
  ::LocalFree(arguments);
  const std::u16string partial = reportPath + u".part";
  if (WriteWholeFile(partial, text)) ::MoveFileExW(win32::AsWide(partial), win32::AsWide(reportPath), 1);
}

int RunChildRoleIfAsked() {
  const std::u16string role = ReadVariable(kRoleVariable);
  if (role.empty()) return 0;
  const std::u16string argument = ReadVariable(kArgumentVariable);
  if (role == u"hold") {
    ::Sleep(kChildWaitMs);  // the parent ends it long before
    ::ExitProcess(0);
  }
  // 10 taken, 11 held, 12 failed.
  if (role == u"filelock") ::ExitProcess(10 + static_cast<UINT>(vp::InstanceLock().Acquire(argument)));
  if (role == u"fileholder") {
    vp::InstanceLock lock;
    if (lock.Acquire(argument) == vp::LockResult::kTaken) WriteWholeFile(argument + u".taken", "");
    ::Sleep(kChildWaitMs);  // the parent ends it long before
    ::ExitProcess(0);
  }
  if (role == u"report") {
    ReportSelf(argument);
    ::ExitProcess(0);
  }
  if (role == u"crash") {
    vp::InstallCrashHandler();
    volatile std::uintptr_t address = 0;
    *reinterpret_cast<volatile int*>(address) = 1;
    ::ExitProcess(2);  // not reached: the fault ends the process
  }
  ::ExitProcess(99);
}

[[maybe_unused]] const int kChildRole = RunChildRoleIfAsked();

}  // namespace

bool WriteWholeFile(const std::u16string& path, const std::string& content) {
  win32::FileHandle file(::CreateFileW(win32::AsWide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file.IsValid() &&
         ::WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
         written == content.size();
}

std::string ReadWholeFile(const std::u16string& path) {
  win32::FileHandle file(::CreateFileW(win32::AsWide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string content;
  char buffer[4096];
  DWORD read = 0;
  while (file.IsValid() && ::ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    content.append(buffer, read);
  }
  return content;
}

std::u16string OwnExecutable() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return win32::FromWide(path);
}

// Wine's ntdll exports its version; Windows' does not.
bool RunsUnderWine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Removes a test folder whatever it holds: read-only files, and links, which
// are removed as links.
void RemoveTree(const std::u16string& folder) {
  WIN32_FIND_DATAW data{};
  win32::FindHandle search(::FindFirstFileW(win32::AsWide(folder + u"*"), &data));
  while (search.IsValid()) {
    const std::u16string name = win32::FromWide(data.cFileName);
    const std::u16string path = folder + name;
    if (name != u"." && name != u"..") {
      ::SetFileAttributesW(win32::AsWide(path), FILE_ATTRIBUTE_NORMAL);
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        if (!::RemoveDirectoryW(win32::AsWide(path))) ::DeleteFileW(win32::AsWide(path));
      } else if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveTree(path + u"\\");
      } else {
        ::DeleteFileW(win32::AsWide(path));
      }
    }
    if (!::FindNextFileW(search.Get(), &data)) break;
  }
  search.Reset();
  ::RemoveDirectoryW(win32::AsWide(folder));
}

// Makes `link` a junction (a mount point) to `target`, as mklink /J does.
bool CreateJunction(const std::u16string& link, const std::u16string& target) {
  if (!::CreateDirectoryW(win32::AsWide(link), nullptr)) return false;
  win32::FileHandle handle(::CreateFileW(win32::AsWide(link), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.IsValid()) return false;
  const std::u16string substitute = u"\\??\\" + target;
  // The mount-point layout: tag, data length, reserved, then the offsets and
  // lengths of the substitute and print names, then both names with NULs.
  struct {
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteOffset;
    WORD substituteLength;
    WORD printOffset;
    WORD printLength;
    wchar_t names[1024];
  } buffer{};
  const WORD substituteBytes = static_cast<WORD>(substitute.size() * 2);
  const WORD printBytes = static_cast<WORD>(target.size() * 2);
  buffer.tag = IO_REPARSE_TAG_MOUNT_POINT;
  buffer.substituteOffset = 0;
  buffer.substituteLength = substituteBytes;
  buffer.printOffset = static_cast<WORD>(substituteBytes + 2);
  buffer.printLength = printBytes;
  std::copy(substitute.begin(), substitute.end(), buffer.names);
  std::copy(target.begin(), target.end(), buffer.names + substitute.size() + 1);
  buffer.dataLength = static_cast<WORD>(8 + substituteBytes + 2 + printBytes + 2);
  DWORD returned = 0;
  return ::DeviceIoControl(handle.Get(), FSCTL_SET_REPARSE_POINT, &buffer, buffer.dataLength + 8u, nullptr, 0,
                           &returned, nullptr) != FALSE;
}

// A child started from a copy of this binary; ended and waited for at the end.
bool ChildProcess::Start(const std::u16string& executable, const std::u16string& role,
                         const std::u16string& argument) {
  ::SetEnvironmentVariableW(kRoleVariable, win32::AsWide(role));
  ::SetEnvironmentVariableW(kArgumentVariable, win32::AsWide(argument));
  const bool started = Run(executable, u"\"" + executable + u"\"");
  ::SetEnvironmentVariableW(kRoleVariable, nullptr);
  ::SetEnvironmentVariableW(kArgumentVariable, nullptr);
  return started;
}

bool ChildProcess::Run(const std::u16string& executable, std::u16string commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION information{};
  // CreateProcessW may write into the command line, so it gets its own copy.
  if (!::CreateProcessW(win32::AsWide(executable), reinterpret_cast<wchar_t*>(&commandLine[0]), nullptr, nullptr,
                        FALSE, 0, nullptr, nullptr, &startup, &information)) {
    return false;
  }
  ::CloseHandle(information.hThread);
  process_.Reset(information.hProcess);
  id_ = information.dwProcessId;
  return true;
}

DWORD ChildProcess::WaitForExit(DWORD milliseconds) {
  if (::WaitForSingleObject(process_.Get(), milliseconds) != WAIT_OBJECT_0) return STILL_ACTIVE;
  DWORD code = STILL_ACTIVE;
  ::GetExitCodeProcess(process_.Get(), &code);
  return code;
}

ChildProcess::~ChildProcess() {
  if (!process_.IsValid()) return;
  if (::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) ::TerminateProcess(process_.Get(), 1);
  ::WaitForSingleObject(process_.Get(), 10000);
}

void Win32BackendTest::SetUp() {
  wchar_t temp[MAX_PATH] = {};
  ASSERT_GT(::GetTempPathW(MAX_PATH, temp), 0u);
  static int counter = 0;
  folder_ = win32::FromWide(temp) + u"velmora-win32-" + Number(::GetCurrentProcessId()) + u"-" +
            Number(static_cast<DWORD>(++counter)) + u"\\";
  RemoveTree(folder_);
  ASSERT_TRUE(::CreateDirectoryW(win32::AsWide(folder_), nullptr));
}

void Win32BackendTest::TearDown() { RemoveTree(folder_); }

std::u16string Win32BackendTest::Number(DWORD value) { return vp::Utf8ToWide(std::to_string(value)); }


bool Win32BackendTest::Exists(const std::u16string& path) const {
  return ::GetFileAttributesW(win32::AsWide(path)) != INVALID_FILE_ATTRIBUTES;
}

std::u16string Win32BackendTest::CopyOfSelf(const std::u16string& relative) const {
  const std::u16string target = folder_ + relative;
  if (!::CopyFileW(win32::AsWide(OwnExecutable()), win32::AsWide(target), FALSE)) return std::u16string();
  return target;
}

}  // namespace velmora::platform::win32_test
