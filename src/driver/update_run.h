// One update run: from the remote update list to the restart of the host.
#pragma once

#include <cstdint>

#include "driver/run_report.h"
#include "driver/run_values.h"

namespace velmora::driver {

// Brings the installation up to date with the list at the base URL, stopping
// the host (by id) only after every file is in place and recorded, and
// starting it again. The run is a sequence of steps, each ending with an
// outcome; `report` logs them and keeps the last. Whatever the outcome, the
// download folder holds nothing afterwards but what a later run needs.
void RunUpdate(const RunValues& values, std::uint32_t hostProcessId, RunReport& report);

// Fetches and verifies the list, compares it and plans as a run would, and
// ends with kUpdateAvailable (the facts give the remote version, the file
// count and the download size), kUpToDate, or the failure a run would have
// met. Downloads no file, stops no process, keeps no validators and leaves
// the download folder alone.
void CheckForUpdate(const RunValues& values, RunReport& report);

}  // namespace velmora::driver
