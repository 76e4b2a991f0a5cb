// The single-instance locks on POSIX: flock on a lock file, and the older abstract-namespace socket.
#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/encoding.h"
#include "platform/posix/native.h"

namespace velmora::platform {

// flock belongs to the open file description: closing the descriptor, or the
// process's end, releases it. O_CLOEXEC keeps it out of started programs.
struct InstanceLock::File {
  posix::UniqueFd fd;
};

InstanceLock::InstanceLock() = default;
InstanceLock::~InstanceLock() = default;
InstanceLock::InstanceLock(InstanceLock&& other) noexcept = default;
InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept = default;

LockResult InstanceLock::Acquire(const std::u16string& lockFilePath, std::uint32_t* osError) {
  file_.reset();
  const std::string path = posix::ToNative(lockFilePath);
  posix::UniqueFd fd;
  do {
    fd = posix::UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  } while (!fd.IsValid() && errno == EINTR);
  if (!fd.IsValid()) {
    if (osError != nullptr) *osError = static_cast<std::uint32_t>(errno);
    return LockResult::kFailed;
  }
  // A second descriptor on the same file conflicts even within this process.
  int locked;
  do {
    locked = ::flock(fd.Get(), LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    if (errno == EWOULDBLOCK) return LockResult::kHeld;
    if (osError != nullptr) *osError = static_cast<std::uint32_t>(errno);
    return LockResult::kFailed;
  }
  file_ = std::make_unique<File>(File{std::move(fd)});
  return LockResult::kTaken;
}

bool InstanceLock::IsHeld() const { return file_ != nullptr; }

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
