// Running a program as a child and waiting for its exit code.
#pragma once

#include <string>
#include <vector>

namespace velmora::platform {

// Starts `program` with `arguments` (argv[1..], passed as given) in the current
// folder with this process's standard streams, waits for it to end and puts
// its exit code in `*exitCode`. False when it cannot be started or waited for;
// on POSIX also when a signal ended it. POSIX: posix_spawnp, which searches PATH
// for a name without "/". Windows: CreateProcessW, whose search adds ".exe".
bool RunProgramAndWait(const std::u16string& program, const std::vector<std::u16string>& arguments, int* exitCode);

}  // namespace velmora::platform
