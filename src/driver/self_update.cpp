// The self-update: replace the running updater and restart it.
#include <memory>

#include "diagnostics/logger.h"
#include "diagnostics/messages.h"
#include "driver/installation.h"
#include "driver/update_run.h"
#include "platform/encoding.h"
#include "platform/names.h"
#include "platform/process.h"

namespace velmora::driver {

void RunSelfUpdate(const manifest::FileEntry& self, const RunValues& values, const ListTrust& trust,
                   const std::u16string& baseUrlArgument, manifest::UpdateListWriter& writer,
                   transfer::TransferSession& session) {
  auto& log = diagnostics::Logger::Instance().category;
  const std::u16string name = platform::Utf8ToWide(platform::UpdaterFileName);
  const std::u16string installedPath = values.installFolder + name;

  log.info(diagnostics::kSelfUpdateStarted);
  // A download that did not complete, or has another size or hash than
  // announced, never replaces the updater.
  const FetchResult fetched = FetchPlannedFiles({&self}, values, session, nullptr);
  if (fetched == FetchResult::kFailed) {
    log.error(diagnostics::kDownloadFailedPrefix + std::string(platform::UpdaterFileName));
    return;
  }
  log.info(diagnostics::kSelfDownloadFinished);
  if (fetched == FetchResult::kWrongSize) {
    log.error(diagnostics::kSelfSizeCheckFailed);
    return;
  }
  if (fetched == FetchResult::kWrongHash) {
    log.error(diagnostics::kHashCheckFailedPrefix + std::string(platform::UpdaterFileName));
    return;
  }

  // The running executable is set aside (the process goes on from the
  // retired file) and the new one takes its name; a journal covers the
  // moment on Windows when the name is free.
  Installation installation(values.journalPath);
  std::u16string failedPath;
  FileMove move;
  move.folders =
      std::make_shared<const MoveFolders>(MoveFolders{values.tempFolder, values.installFolder, values.retireFolder});
  move.name = name;
  if (!installation.Apply({move}, &failedPath)) {
    log.error(diagnostics::kSelfReplaceFailed);
    return;
  }
  log.info(diagnostics::kSelfReplaced);

  writer.RecordAppliedFile(self);
  installation.Commit();
  // Without its version recorded the new updater would fetch itself again
  // and restart without end: the old one goes back and nothing restarts.
  if (!SaveRun(writer, values, trust)) {
    log.error(diagnostics::kSaveFailed);
    if (installation.RollBack()) log.error(diagnostics::kRunRolledBack);
    return;
  }
  log.info(diagnostics::kSelfVersionRecorded);

  // The base URL is quoted where it needs it, so the new updater receives it
  // as one argument.
  if (!platform::StartProgram(installedPath, u"start " + platform::QuoteArgument(baseUrlArgument) + u" 0")) {
    log.error(diagnostics::kStartFailedPrefix + platform::WideToGbk(installedPath));
    return;
  }
  log.info(diagnostics::kSelfRestarted);
}

}  // namespace velmora::driver
