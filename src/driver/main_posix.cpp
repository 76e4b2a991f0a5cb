// The POSIX program's entry point: the command line as wide text, then the updater.
#include <csignal>
#include <cstdio>
#include <cstdlib>
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
  const int code = velmora::driver::RunUpdater(arguments);
#if VELMORA_QUICK_EXIT
  // Everything the run wrote is closed by now but the progress report in
  // standard output's buffer. The exit handlers of the libraries (libcurl's
  // TLS, Kerberos and LDAP libraries, the C++ runtime) would only tidy
  // memory the system takes back anyway, and running them touches about
  // 0.8 MiB of their pages: the updater ends without them.
  std::fflush(nullptr);
  std::_Exit(code);
#else
  return code;
#endif
}
