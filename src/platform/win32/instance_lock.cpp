// The single-instance lock as a named kernel mutex.
#include "platform/instance_lock.h"

#include "platform/win32/win32.h"

namespace velmora::platform {

bool AcquireInstanceLock(const std::u16string& name) {
  win32::KernelHandle mutex(::CreateMutexW(nullptr, FALSE, win32::AsWide(name)));
  const DWORD error = ::GetLastError();
  if (error == ERROR_ALREADY_EXISTS) return false;  // the handle just obtained is closed here
  // A mutex of that name made by another user with tighter security cannot be
  // opened at all: it exists all the same, so another updater holds it.
  if (!mutex.IsValid() && error == ERROR_ACCESS_DENIED) return false;
  // Holding the handle is the lock; the system closes it when the process
  // ends, however it ends.
  mutex.Release();
  return true;
}

}  // namespace velmora::platform
