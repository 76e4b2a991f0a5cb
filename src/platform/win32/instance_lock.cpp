// The single-instance lock on Windows: a byte-range lock on a lock file.
#include "platform/instance_lock.h"

#include "platform/win32/win32.h"

namespace velmora::platform {

// The lock belongs to the handle and ends with the process however it ends.
// The system frees a lock left by a closed handle only when it gets to it, so
// a lock given up while running is unlocked first.
struct InstanceLock::File {
  win32::FileHandle handle;
  ~File() {
    OVERLAPPED start{};
    ::UnlockFileEx(handle.Get(), 0, 1, 0, &start);
  }
};

InstanceLock::InstanceLock() = default;
InstanceLock::~InstanceLock() = default;
InstanceLock::InstanceLock(InstanceLock&& other) noexcept = default;
InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept = default;

LockResult InstanceLock::Acquire(const std::u16string& lockFilePath, std::uint32_t* osError) {
  file_.reset();
  // Sharing everything lets a second updater open the file and learn from the
  // lock, not from a sharing violation, that the first one runs. No security
  // attributes: the handle is not inheritable, so started programs never hold it.
  win32::FileHandle handle(::CreateFileW(win32::AsWide(lockFilePath), GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle.IsValid()) {
    if (osError != nullptr) *osError = ::GetLastError();
    return LockResult::kFailed;
  }
  // One byte is enough; a second handle conflicts even within this process.
  OVERLAPPED start{};
  if (!::LockFileEx(handle.Get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &start)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_LOCK_VIOLATION) return LockResult::kHeld;
    if (osError != nullptr) *osError = error;
    return LockResult::kFailed;
  }
  file_ = std::make_unique<File>();
  file_->handle = std::move(handle);
  return LockResult::kTaken;
}

bool InstanceLock::IsHeld() const { return file_ != nullptr; }

}  // namespace velmora::platform
