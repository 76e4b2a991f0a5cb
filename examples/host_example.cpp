// A small Windows desktop program that shows how a host application works with Velmora.
//
// A real application does the same three things:
// 1. On start it reads UpdateStatus.xml beside its executable, which Velmora
//    leaves after a run, to tell the user how the last update went (this
//    example writes "outcome=<value>" to host_example.log instead).
// 2. It starts "Velmora.exe start <baseUrl> <its own pid>" from its own folder
//    and goes on working; it never waits for the updater.
// 3. It closes cleanly on WM_CLOSE: that is how Velmora asks it to stop before
//    it replaces the installed files and starts the application again.
// The base URL comes from the first command-line argument or from the first
// line of host_example.url beside the executable.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

std::wstring OwnFolder() {
  std::vector<wchar_t> path(32768);
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  const std::wstring file(path.data(), length);
  return file.substr(0, file.find_last_of(L'\\') + 1);
}

// The whole file, or empty when there is none.
std::string ReadText(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) text.append(buffer, read);
  ::CloseHandle(file);
  return text;
}

void WriteText(const std::wstring& path, const std::string& text) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(file);
}

std::string Trim(const std::string& text) {
  const std::size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return std::string();
  return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

std::wstring FromUtf8(const std::string& text) {
  const int size = static_cast<int>(text.size());
  std::wstring wide(static_cast<std::size_t>(::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0)), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, &wide[0], static_cast<int>(wide.size()));
  return wide;
}

// The text of <Outcome> in the status file. A real application reads the
// file with the XML parser it already has.
void RecordLastOutcome(const std::wstring& folder) {
  const std::string status = ReadText(folder + L"UpdateStatus.xml");
  const std::size_t open = status.find("<Outcome>");
  const std::size_t close = status.find("</Outcome>");
  if (open == std::string::npos || close == std::string::npos || close < open) return;
  const std::size_t begin = open + std::string("<Outcome>").size();
  WriteText(folder + L"host_example.log", "outcome=" + Trim(status.substr(begin, close - begin)) + "\n");
}

// Starts the updater detached, in the installation folder, with this
// process's id so that it knows which program to close.
bool StartUpdater(const std::wstring& folder, const std::wstring& baseUrl) {
  const std::wstring parameters = L"start \"" + baseUrl + L"\" " + std::to_wstring(::GetCurrentProcessId());
  const HINSTANCE result = ::ShellExecuteW(nullptr, L"open", (folder + L"Velmora.exe").c_str(), parameters.c_str(),
                                           folder.c_str(), SW_SHOWNORMAL);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      // A real application saves its work here, then closes.
      ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  const std::wstring folder = OwnFolder();
  RecordLastOutcome(folder);

  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = L"VelmoraHostExample";
  if (::RegisterClassW(&windowClass) == 0) return 1;
  HWND window = ::CreateWindowExW(0, windowClass.lpszClassName, L"Velmora host example", WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 480, 320, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  ::ShowWindow(window, show);

  // The window exists first, so the updater always finds something to close.
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  std::wstring baseUrl = argv != nullptr && argc > 1 ? argv[1] : L"";
  ::LocalFree(argv);
  if (baseUrl.empty()) {
    const std::string file = ReadText(folder + L"host_example.url");
    baseUrl = FromUtf8(Trim(file.substr(0, file.find('\n'))));
  }
  if (!baseUrl.empty()) StartUpdater(folder, baseUrl);

  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return 0;
}
