// Helpers of the Win32 backend tests: a temporary-folder fixture, whole-file reads and writes, junctions and child processes.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/win32/win32.h"

namespace velmora::platform::win32_test {

// A test that needs a second process starts a copy of its own binary with
// these variables set. The role ("hold", "lock", "filelock", "fileholder",
// "report", "crash") runs before GoogleTest starts and ends the process.
inline constexpr wchar_t kRoleVariable[] = L"VELMORA_WIN32_CHILD";
inline constexpr wchar_t kArgumentVariable[] = L"VELMORA_WIN32_ARG";

bool WriteWholeFile(const std::u16string& path, const std::string& content);
// The whole content, or empty when the file cannot be read.
std::string ReadWholeFile(const std::u16string& path);
std::u16string OwnExecutable();
bool RunsUnderWine();
// Removes a folder (ending in "\") whatever it holds; links go as links.
void RemoveTree(const std::u16string& folder);
// Makes `link` a junction (a mount point) to `target`; false where the file
// system or the platform has none.
bool CreateJunction(const std::u16string& link, const std::u16string& target);

// A child process started from a copy of the test binary in a given role; one
// still running at the end is terminated and waited for.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Start(const std::u16string& executable, const std::u16string& role, const std::u16string& argument);
  // Starts any program with a whole command line, program name included.
  bool Run(const std::u16string& executable, std::u16string commandLine);
  // The exit code, or STILL_ACTIVE when the child did not end in time.
  DWORD WaitForExit(DWORD milliseconds = 60000);
  DWORD Id() const { return id_; }

 private:
  win32::KernelHandle process_;
  DWORD id_ = 0;
};

// Owns a fresh folder below the user's temporary folder; folder_ ends in "\".
class Win32BackendTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  static std::u16string Number(DWORD value);
  bool Exists(const std::u16string& path) const;
  // A copy of the test binary at folder_ + relative, ready to run as a child.
  std::u16string CopyOfSelf(const std::u16string& relative) const;

  std::u16string folder_;
};

}  // namespace velmora::platform::win32_test
