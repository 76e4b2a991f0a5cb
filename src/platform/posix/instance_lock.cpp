// The single-instance lock on POSIX: flock on a lock file.
#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
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

}  // namespace velmora::platform
