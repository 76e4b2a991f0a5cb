// Running a program and waiting for it, with posix_spawnp and waitpid.
#include "platform/child_process.h"

#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <cerrno>

#include "platform/encoding.h"
#include "platform/posix/native.h"

extern char** environ;

namespace velmora::platform {

bool RunProgramAndWait(const std::u16string& program, const std::vector<std::u16string>& arguments, int* exitCode) {
  std::vector<std::string> texts{posix::ToNative(program)};
  for (const std::u16string& argument : arguments) texts.push_back(WideToUtf8(argument));
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);

  // glibc's posix_spawnp reports a failed exec as its result, so a missing
  // program fails here and not as an exit code 127 of a forked child.
  pid_t child = 0;
  if (::posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  pid_t waited;
  do {
    waited = ::waitpid(child, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited != child || !WIFEXITED(status)) return false;
  *exitCode = WEXITSTATUS(status);
  return true;
}

}  // namespace velmora::platform
