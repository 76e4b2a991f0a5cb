// Start-up: the crash handler, the single-instance lock and the command line.
#include "driver/startup.h"

#include <chrono>
#include <thread>

#include "diagnostics/logger.h"
#include "diagnostics/messages.h"
#include "driver/update_run.h"
#include "platform/crash_handler.h"
#include "platform/file_system.h"
#include "platform/instance_lock.h"
#include "platform/names.h"
#include "platform/paths.h"

namespace velmora::driver {

namespace {

constexpr char16_t SingleInstanceMutexName[] = u"Quillon_Update";
// Each argument is held in a buffer of 260 units, terminator included.
constexpr std::size_t kMaxArgumentLength = 259;
// A restarted updater (host id 0) starts while the one that restarted it is
// still ending and holding the lock; it waits this long for it.
constexpr auto kRestartLockWait = std::chrono::seconds(10);
constexpr auto kLockRetryInterval = std::chrono::milliseconds(100);

void LogError(const char* message) { diagnostics::Logger::Instance().category.error(message); }

bool IsRestartedUpdater(const std::vector<std::u16string>& arguments) {
  if (arguments.size() != 4) return false;
  const std::optional<std::uint32_t> id = ReadProcessId(arguments[3]);
  return id.has_value() && *id == 0;
}

bool TakeInstanceLock(const std::vector<std::u16string>& arguments) {
  if (platform::AcquireInstanceLock(SingleInstanceMutexName)) return true;
  if (!IsRestartedUpdater(arguments)) return false;
  const auto deadline = std::chrono::steady_clock::now() + kRestartLockWait;
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kLockRetryInterval);
    if (platform::AcquireInstanceLock(SingleInstanceMutexName)) return true;
  }
  return false;
}

void RunChecked(const std::vector<std::u16string>& arguments) {
  if (!TakeInstanceLock(arguments)) {
    LogError(diagnostics::kAlreadyRunning);
    return;
  }
  if (arguments.size() != 4) {
    LogError(diagnostics::kWrongArgumentCount);
    return;
  }
  for (std::size_t i = 1; i < 4; ++i) {
    if (arguments[i].size() > kMaxArgumentLength) {
      LogError(diagnostics::kBadArguments);
      return;
    }
  }
  if (!IsStartWord(arguments[1])) {
    LogError(diagnostics::kBadArguments);
    return;
  }
  const std::optional<std::uint32_t> hostProcessId = ReadProcessId(arguments[3]);
  if (!hostProcessId) {
    LogError(diagnostics::kBadArguments);
    return;
  }
  // Without its own folder every path of the run would be relative to the
  // working folder, which may be anywhere.
  const std::u16string moduleFolder = platform::GetModuleDirectory();
  if (moduleFolder.empty()) {
    LogError(diagnostics::kModuleFolderUnknown);
    return;
  }
  const std::u16string tempFolder = moduleFolder + platform::DownloadFolderName + u"\\";
  std::uint32_t osError = 0;
  if (!platform::CreateFolder(tempFolder, &osError) && !platform::IsAlreadyExistsError(osError)) {
    LogError(diagnostics::kFolderCreateFailed);
    return;
  }
  RunUpdate(arguments[2], *hostProcessId);
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

bool IsStartWord(const std::u16string& text) {
  static constexpr char16_t kWord[] = u"start";
  if (text.size() != 5) return false;
  for (std::size_t i = 0; i < 5; ++i) {
    char16_t c = text[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != kWord[i]) return false;
  }
  return true;
}

int RunUpdater(const std::vector<std::u16string>& arguments) {
  platform::InstallCrashHandler();
  RunChecked(arguments);
  platform::RemoveCrashHandler();
  return 0;
}

}  // namespace velmora::driver
