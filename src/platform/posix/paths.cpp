// The updater's own folder and native path forms on POSIX.
#include "platform/paths.h"

#include <unistd.h>

#include <algorithm>

#include "platform/encoding.h"
#include "platform/posix/native.h"

namespace velmora::platform {

const char16_t kExecutableEnding[] = u"";
const bool kNamesIgnoreCase = false;

namespace posix {

std::string ToNative(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::string ToNative(const std::u16string& path) { return ToNative(WideToUtf8(path)); }

bool UniqueFd::Reset() {
  bool ok = true;
  if (fd_ >= 0) ok = ::close(fd_) == 0;
  fd_ = -1;
  return ok;
}

}  // namespace posix

std::u16string GetModuleDirectory() {
  char buffer[4096];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (length <= 0) return {};
  const std::string path(buffer, static_cast<std::size_t>(length));
  const std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return Utf8ToWide(path.substr(0, slash + 1));
}


}  // namespace velmora::platform
