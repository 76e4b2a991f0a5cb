// The lock that admits one updater at a time per installation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace velmora::platform {

enum class LockResult {
  kTaken,   // this object holds the lock now
  kHeld,    // another holder (another process, or another InstanceLock) has it
  kFailed,  // the lock file could not be opened or locked; see the system error
};

// An exclusive lock on a file, held while this object lives. The system
// releases it when the process ends, however it ends (kill -9 included), and
// programs the process starts never inherit it. Keep the object for the whole
// run. Windows: CreateFileW (sharing read, write and delete) and LockFileEx;
// POSIX: open with O_CLOEXEC and flock.
class InstanceLock {
 public:
  InstanceLock();
  ~InstanceLock();
  InstanceLock(InstanceLock&& other) noexcept;
  InstanceLock& operator=(InstanceLock&& other) noexcept;
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Creates the file at `lockFilePath` if it is missing and tries to lock it
  // without waiting. kFailed writes the system error code to `osError` (when
  // given); nothing is held then. An object that holds a lock gives it up first.
  LockResult Acquire(const std::u16string& lockFilePath, std::uint32_t* osError = nullptr);
  bool IsHeld() const;

 private:
  struct File;  // the open descriptor or handle, per backend
  std::unique_ptr<File> file_;
};

}  // namespace velmora::platform
