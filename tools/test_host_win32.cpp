// The Windows stand-in host application for tests: records its start, may hold files open, then waits in a window.
//
// Like tools/test_host.cpp it appends its pid as one line to "host-started.log",
// writes it to "host.pid" and its working folder to "host.cwd", all in the
// folder of its own executable, then keeps an invisible top-level window for a
// bounded time (120 s, or the seconds given as its first argument) and exits 0.
// WM_CLOSE ends it early, as it ends most desktop programs, unless the
// environment variable VELMORA_HOST_IGNORES_STOP is set. Further arguments "share:NAME" and "lock:NAME" keep the file NAME
// (relative to that folder) open while it sleeps: "share" with delete sharing,
// as the loader holds a DLL, so it can be renamed; "lock" without, so it cannot.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using UniqueFile = std::unique_ptr<void, HandleCloser>;

struct ArgvFree {
  void operator()(LPWSTR* argv) const { ::LocalFree(argv); }
};

std::wstring OwnFolder() {
  std::vector<wchar_t> buffer(32768);
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  std::wstring path(buffer.data(), length);
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L".\\" : path.substr(0, slash + 1);
}

UniqueFile OpenFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition) {
  HANDLE handle = ::CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return UniqueFile(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

// One write call per record, so concurrent hosts never interleave a line.
void WriteRecord(const std::wstring& path, bool append, const std::string& text) {
  const UniqueFile file = OpenFile(path, append ? FILE_APPEND_DATA : GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, append ? OPEN_ALWAYS : CREATE_ALWAYS);
  DWORD written = 0;
  if (file) ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

bool IgnoresStop() { return ::GetEnvironmentVariableW(L"VELMORA_HOST_IGNORES_STOP", nullptr, 0) != 0; }

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      if (!IgnoresStop()) ::DestroyWindow(window);
      return 0;
    case WM_TIMER:  // the bounded lifetime is over
      ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

// An invisible top-level window that ends the program after `seconds`, or
// null where no window can be made (Wine without a display driver).
HWND MakeWindow(HINSTANCE instance, long seconds) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = HostWindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"VelmoraTestHost";
  if (::RegisterClassW(&windowClass) == 0) return nullptr;
  HWND window = ::CreateWindowExW(0, windowClass.lpszClassName, L"Velmora test host", WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 320, 200, nullptr, nullptr, instance, nullptr);
  if (window != nullptr && ::SetTimer(window, 1, static_cast<UINT>(seconds) * 1000, nullptr) == 0) {
    ::DestroyWindow(window);
    return nullptr;
  }
  return window;
}

void RecordWorkingFolder(const std::wstring& path) {
  std::vector<wchar_t> folder(32768);
  const DWORD length = ::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
  if (length == 0 || length >= folder.size()) return;
  const int size = static_cast<int>(length);
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, folder.data(), size, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, folder.data(), size, &utf8[0], bytes, nullptr, nullptr);
  WriteRecord(path, false, utf8 + "\n");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int argc = 0;
  const std::unique_ptr<LPWSTR, ArgvFree> argv(::CommandLineToArgvW(::GetCommandLineW(), &argc));
  long seconds = 120;
  if (argv && argc > 1) {
    wchar_t* end = nullptr;
    const long requested = std::wcstol(argv.get()[1], &end, 10);
    if (end != argv.get()[1] && *end == L'\0' && requested >= 0 && requested <= 3600) seconds = requested;
  }
  const std::wstring folder = OwnFolder();
  std::vector<UniqueFile> held;
  for (int i = 2; argv && i < argc; ++i) {
    const std::wstring argument = argv.get()[i];
    const bool share = argument.rfind(L"share:", 0) == 0;
    if (!share && argument.rfind(L"lock:", 0) != 0) continue;
    const std::wstring name = argument.substr(share ? 6 : 5);
    const DWORD sharing = FILE_SHARE_READ | (share ? FILE_SHARE_DELETE : 0);
    held.push_back(OpenFile(folder + name, GENERIC_READ, sharing, OPEN_EXISTING));
  }
  // The window exists before the start is recorded: whoever reads host.pid
  // may ask the host to close at once.
  HWND window = MakeWindow(instance, seconds);
  RecordWorkingFolder(folder + L"host.cwd");
  const std::string line = std::to_string(::GetCurrentProcessId()) + "\n";
  // host.pid first: whoever waits for the start log may read the pid at once.
  WriteRecord(folder + L"host.pid", false, line);
  WriteRecord(folder + L"host-started.log", true, line);
  if (window == nullptr) {
    ::Sleep(static_cast<DWORD>(seconds) * 1000);
    return 0;
  }
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
  return 0;
}
