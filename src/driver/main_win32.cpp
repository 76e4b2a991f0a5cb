// The Windows program's entry point: a GUI-subsystem program that hands its wide arguments to the updater.
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "driver/startup.h"

// The runtime calls wmain with the arguments split by the Windows rules
// (-municode), whether the program is built for the console or, as here,
// for the GUI subsystem. Windows' wchar_t holds UTF-16 units.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::u16string> arguments;
  arguments.reserve(static_cast<std::size_t>(argc));
  for (int i = 0; i < argc; ++i) {
    std::u16string argument;
    for (const wchar_t* unit = argv[i]; *unit != L'\0'; ++unit) argument.push_back(static_cast<char16_t>(*unit));
    arguments.push_back(std::move(argument));
  }
  return velmora::driver::RunUpdater(arguments);
}
