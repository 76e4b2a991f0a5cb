// Start-up: the crash handler, the single-instance lock and the command line.
#include "driver/startup.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "diagnostics/logger.h"
#include "driver/run_report.h"
#include "driver/run_values.h"
#include "driver/update_run.h"
#include "layout/own_files.h"
#include "platform/crash_handler.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/instance_lock.h"
#include "platform/paths.h"

namespace velmora::driver {

namespace {

// Each argument is held in a buffer of 260 units, terminator included.
constexpr std::size_t kMaxArgumentLength = 259;
// An updater started by one that replaced itself starts while the old one is
// still ending and holding the lock; it waits this long for it.
constexpr auto kRestartLockWait = std::chrono::seconds(10);
constexpr auto kLockRetryInterval = std::chrono::milliseconds(100);

// Takes the installation's lock; false when another updater holds it. An
// updater restarted after a self-update waits for the one that started it;
// any other finds the lock at once or not at all. The variable that marks
// the restart is cleared, so that the host started later does not inherit
// it. A lock file that cannot be made at all (a folder nobody may write)
// holds nobody back: such a run fails at its first write and says so.
bool TakeInstanceLock(platform::InstanceLock& lock, const std::u16string& lockPath) {
  const bool restarted = platform::ReadEnvironmentValue(kRestartVariable).has_value();
  platform::RemoveEnvironmentValue(kRestartVariable);
  platform::LockResult result = lock.Acquire(lockPath);
  const auto deadline = std::chrono::steady_clock::now() + kRestartLockWait;
  while (result == platform::LockResult::kHeld && restarted && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kLockRetryInterval);
    result = lock.Acquire(lockPath);
  }
  return result != platform::LockResult::kHeld;
}

// The checks before a run; kContinue when the arguments are good: "start
// <baseUrl> <hostPid>" with the host's id in `*hostProcessId`, or "check
// <baseUrl>" with `*checkOnly` set.
Outcome CheckArguments(const std::vector<std::u16string>& arguments, std::uint32_t* hostProcessId,
                       bool* checkOnly) {
  *checkOnly = arguments.size() == 3 && IsCommandWord(arguments[1], u"check");
  if (arguments.size() != 4 && !*checkOnly) return Make(OutcomeKind::kWrongArgumentCount);
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    if (arguments[i].size() > kMaxArgumentLength) return Make(OutcomeKind::kBadArguments);
  }
  if (*checkOnly) return Outcome{};
  if (!IsCommandWord(arguments[1], u"start")) return Make(OutcomeKind::kBadArguments);
  const std::optional<std::uint32_t> id = ReadProcessId(arguments[3]);
  if (!id) return Make(OutcomeKind::kBadArguments);
  *hostProcessId = *id;
  return Outcome{};
}

void RunLocked(const std::vector<std::u16string>& arguments, const std::u16string& moduleFolder,
               const layout::InstallationPaths& paths, RunReport& report) {
  std::uint32_t hostProcessId = 0;
  bool checkOnly = false;
  const Outcome checked = CheckArguments(arguments, &hostProcessId, &checkOnly);
  if (!checked.Continues()) return report.End(checked);
  if (checkOnly) {
    diagnostics::Logger::KeepOffStandardOutput();
    CheckForUpdate(DeriveRunValues(arguments[2], moduleFolder), report);
    std::fputs((report.Summary() + "\n").c_str(), stdout);
    return;
  }
  std::uint32_t osError = 0;
  if (!platform::CreateFolder(paths.downloadFolder, &osError) && !platform::IsAlreadyExistsError(osError)) {
    Outcome failed = Make(OutcomeKind::kFolderCreateFailed);
    failed.codeKind = CodeKind::kSystem;
    failed.code = osError;
    return report.End(failed);
  }
  RunUpdate(DeriveRunValues(arguments[2], moduleFolder), hostProcessId, report);
}

void RunChecked(const std::vector<std::u16string>& arguments, RunReport& report) {
  // Without its own folder every path of the run would be relative to the
  // working folder, which may be anywhere.
  const std::u16string moduleFolder = platform::GetModuleDirectory();
  if (moduleFolder.empty()) return report.End(Make(OutcomeKind::kModuleFolderUnknown));
  const layout::InstallationPaths paths = layout::PathsOf(moduleFolder);
  // The lock is the installation's own: updaters of other installations on
  // the same machine run at the same time.
  platform::InstanceLock lock;
  if (!TakeInstanceLock(lock, paths.lock)) {
    report.End(Make(OutcomeKind::kAlreadyRunning));
  } else {
    RunLocked(arguments, moduleFolder, paths, report);
  }
  // The last thing a run does, whatever it did: the host reads it next.
  report.WriteStatus(paths.status, layout::TemporaryOf(paths.status));
}

}  // namespace

std::optional<std::uint32_t> ReadProcessId(const std::u16string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  if (i >= text.size() || text[i] < u'0' || text[i] > u'9') return std::nullopt;
  std::uint64_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + static_cast<std::uint64_t>(text[i] - u'0');
    if (value > 0xFFFFFFFFull) return std::nullopt;
  }
  const auto id = static_cast<std::uint32_t>(value);
  return negative ? static_cast<std::uint32_t>(0u - id) : id;
}

bool IsCommandWord(const std::u16string& text, const std::u16string& word) {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    char16_t c = text[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != word[i]) return false;
  }
  return true;
}

int RunUpdater(const std::vector<std::u16string>& arguments) {
  platform::InstallCrashHandler();
  RunReport report;
  RunChecked(arguments, report);
  platform::RemoveCrashHandler();
  return 0;
}

}  // namespace velmora::driver
