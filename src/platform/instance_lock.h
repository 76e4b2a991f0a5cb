// The system-wide lock that admits one updater at a time.
#pragma once

#include <string>

namespace velmora::platform {

// Creates the named lock (CreateMutexW, not initially owned; on POSIX an
// abstract-namespace socket). Returns false, having closed what it opened,
// when another process already holds it. Once taken, the lock is held until
// the process ends, however it ends.
bool AcquireInstanceLock(const std::u16string& name);

}  // namespace velmora::platform
