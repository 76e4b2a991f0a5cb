// Runs a helper program of the end-to-end tests (minisign, openssl, velmora-release) to its end.
#pragma once

#include <string>
#include <vector>

#include "support/file_support.h"
#include "support/process_support.h"

namespace velmora::e2e {

// Runs `program` in `folder` (bounded); true when it exited with 0. Its output
// goes to `output` when given.
inline bool RunTool(const std::string& program, const std::vector<std::string>& arguments,
                    const std::string& folder, std::string* output = nullptr) {
  const std::string outputFile = folder + "/tool.out";
  testing::RemoveTree(outputFile);
  const pid_t child = testing::Spawn(program, arguments, folder, outputFile);
  if (child <= 0) return false;
  const testing::ExitStatus status = testing::WaitForChild(child, 30);
  if (!status.ended) testing::KillChild(child);
  if (output != nullptr) *output = testing::ReadFile(outputFile);
  return status.exited && status.code == 0;
}

}  // namespace velmora::e2e
