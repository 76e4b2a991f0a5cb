// The self-update: replace the running updater and restart it.
#include "diagnostics/logger.h"
#include "diagnostics/messages.h"
#include "driver/update_run.h"
#include "platform/encoding.h"
#include "platform/file_ops.h"
#include "platform/names.h"
#include "platform/process.h"
#include "transfer/downloader.h"

namespace velmora::driver {

void RunSelfUpdate(const manifest::FileEntry& self, const RunValues& values,
                   const std::u16string& baseUrlArgument, manifest::UpdateListWriter& writer) {
  auto& log = diagnostics::Logger::Instance().category;
  const std::string name = platform::UpdaterFileName;
  const std::string downloadPath = values.tempDir + name;
  const std::string installedPath = values.installDir + name;

  log.info(diagnostics::kSelfUpdateStarted);
  // A failed download shows up in the size check.
  transfer::DownloadFile(values.baseUrl + name, downloadPath);
  log.info(diagnostics::kSelfDownloadFinished);
  if (!platform::CheckFileSize(downloadPath, self.size)) {
    log.error(diagnostics::kSelfSizeCheckFailed);
    return;
  }

  // The running executable is moved aside (the process goes on from the moved
  // file) and the new one takes its name.
  if (!platform::ReplaceInstalledFile(values.recycleDir + name, installedPath, downloadPath)) {
    log.error(diagnostics::kSelfReplaceFailed);
    return;
  }
  log.info(diagnostics::kSelfReplaced);

  writer.RecordAppliedFile(self);
  writer.Save();
  log.info(diagnostics::kSelfVersionRecorded);

  // The base URL is quoted where it needs it, so the new updater receives it
  // as one argument.
  platform::StartProgram(platform::AnsiToWide(installedPath),
                         u"start " + platform::QuoteArgument(baseUrlArgument) + u" 0");
  log.info(diagnostics::kSelfRestarted);
}

}  // namespace velmora::driver
