// The POSIX program's entry point: the command line as wide text, then the updater.
#include <csignal>
#include <string>
#include <vector>

#include "driver/startup.h"
#include "platform/encoding.h"

int main(int argc, char** argv) {
  // A reader of the progress report that goes away must not end the updater
  // in the middle of placing files; a failed write is simply a failed write.
  ::signal(SIGPIPE, SIG_IGN);
  std::vector<std::u16string> arguments;
  arguments.reserve(static_cast<std::size_t>(argc));
  for (int i = 0; i < argc; ++i) arguments.push_back(velmora::platform::Utf8ToWide(argv[i]));
  return velmora::driver::RunUpdater(arguments);
}
