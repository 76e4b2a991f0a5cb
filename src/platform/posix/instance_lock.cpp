// The single-instance lock on POSIX: an abstract-namespace socket.
#include "platform/instance_lock.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/encoding.h"

namespace velmora::platform {

bool AcquireInstanceLock(const std::u16string& name) {
  // An abstract socket name lives as long as the socket, so the kernel frees
  // it however the process ends, kill -9 included, and leaves no file behind.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return true;  // no lock to be had; start-up goes on, as with a null mutex
  const std::string utf8 = WideToUtf8(name);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t length = std::min(utf8.size(), sizeof(address.sun_path) - 1);
  std::memcpy(address.sun_path + 1, utf8.data(), length);
  const socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
    const bool held = errno == EADDRINUSE;
    ::close(fd);
    return !held;
  }
  // The descriptor stays open, and so the lock held, until the process ends.
  return true;
}

}  // namespace velmora::platform
