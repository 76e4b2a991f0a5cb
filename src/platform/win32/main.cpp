// The Windows program's entry point: a GUI-subsystem program that hands its wide arguments to the updater.
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/startup.h"
#include "platform/win32/win32.h"

namespace {

// The runtime's parsed wide argument vector, program name first. Should the
// runtime not have filled it, the same rules applied to the process's own
// command line give the same vector.
std::vector<std::u16string> ReadArguments() {
  std::vector<std::u16string> arguments;
  if (__wargv != nullptr) {
    for (int i = 0; i < __argc; ++i) arguments.push_back(velmora::platform::win32::FromWide(__wargv[i]));
    return arguments;
  }
  int count = 0;
  LPWSTR* parsed = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (parsed == nullptr) return arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(velmora::platform::win32::FromWide(parsed[i]));
  ::LocalFree(parsed);
  return arguments;
}

}  // namespace

// The parameters of the entry point itself (instances, command-line text,
// show flag) are not used.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return velmora::driver::RunUpdater(ReadArguments()); }
