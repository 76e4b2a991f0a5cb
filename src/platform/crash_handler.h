// Writes a crash record of a fault that nothing else handles, then ends.
#pragma once

namespace velmora::platform {

// Installs the handler (SetUnhandledExceptionFilter with WriteCrashDump; the
// fatal signals on POSIX). Everything the handler needs is computed here, so a
// fault only writes "Error\[<exe name>][YYYYMMDDhhmmss].dmp" beside the
// executable and ends the process without any dialog.
void InstallCrashHandler();

// Removes the handler again (a null filter; default actions on POSIX).
void RemoveCrashHandler();

}  // namespace velmora::platform
