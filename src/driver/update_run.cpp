// The update run: fetch the list, plan, download everything, then apply it.
#include "driver/update_run.h"

#include "archive/package.h"
#include "diagnostics/logger.h"
#include "diagnostics/messages.h"
#include "manifest/update_plan.h"
#include "platform/encoding.h"
#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "platform/names.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "transfer/downloader.h"

namespace velmora::driver {

namespace {

constexpr char UpdateListFileName[] = "UpdateList.xml";
constexpr char kPackageEnding[] = ".zip";

diagnostics::LogCategory& Log() { return diagnostics::Logger::Instance().category; }

bool IsPackage(const std::string& path) {
  return path.size() >= 4 && path.compare(path.size() - 4, 4, kPackageEnding) == 0;
}

bool LogOpenFailure(manifest::UpdateListWriter::OpenResult result) {
  using OpenResult = manifest::UpdateListWriter::OpenResult;
  switch (result) {
    case OpenResult::kOk: return false;
    case OpenResult::kCannotLoad: Log().error(diagnostics::kLocalListOpenFailed); break;
    case OpenResult::kNoRoot: Log().error(diagnostics::kRootNodeMissing); break;
    case OpenResult::kNoFiles: Log().error(diagnostics::kFilesNodeMissing); break;
  }
  return true;
}

// Fetches every planned file into the download folder. False (logged) when
// one does not have the size the list announces: nothing is installed then.
bool DownloadAll(const manifest::FileTable& plan, const RunValues& values) {
  for (const auto& [key, entry] : plan) {
    const std::string name = CollapseName(key);
    const std::string downloadPath = values.tempDir + name;
    // A failed download shows up in the size check.
    transfer::DownloadFile(values.baseUrl + name, downloadPath);
    if (!platform::CheckFileSize(downloadPath, entry.size)) {
      Log().error(std::string(diagnostics::kSizeCheckPrefix) + std::to_string(entry.size) +
                  diagnostics::kSizeCheckSuffix);
      return false;
    }
  }
  return true;
}

// Puts one downloaded file in place (and unpacks it when it is a package).
// True when it arrived, so its version may be recorded.
bool ApplyFile(const std::string& name, const RunValues& values) {
  const std::string installedPath = values.installDir + name;
  if (!platform::ReplaceInstalledFile(values.recycleDir + name, installedPath, values.tempDir + name)) {
    Log().error(diagnostics::kReplaceFailedPrefix + installedPath);
    return false;
  }
  if (!IsPackage(installedPath)) return true;

  const std::string folder = installedPath.substr(0, installedPath.size() - 4);
  if (!platform::DeleteDirectoryTree(platform::AnsiToWide(folder))) {
    const std::uint32_t code = platform::LastOsError();
    Log().error(diagnostics::kPackageFolderDeleteFailed + std::to_string(code));
  }
  const bool unpacked = archive::UnzipPackage(installedPath, folder);
  if (!unpacked) Log().error(diagnostics::kUnpackFailedPrefix + installedPath);
  platform::RemoveFile(platform::AnsiToWide(installedPath));
  return unpacked;
}

}  // namespace

RunValues DeriveRunValues(const std::u16string& baseUrlArgument) {
  RunValues values;
  values.baseUrl = platform::WideToUtf8(baseUrlArgument);
  values.installDir = platform::WideToAnsi(platform::GetModuleDirectory());
  values.tempDir = values.installDir + "temp\\";
  values.recycleDir = platform::RetireFolderFor(values.installDir);
  values.localListPath = values.installDir + UpdateListFileName;
  values.listUrl = values.baseUrl + UpdateListFileName;
  values.downloadedListPath = values.tempDir + UpdateListFileName;
  return values;
}

std::string CollapseName(const std::string& key) {
  std::string name = key;
  platform::ReplaceAll(name, "\\\\", "\\");
  return name;
}

void RunUpdate(const std::u16string& baseUrlArgument, std::uint32_t hostProcessId) {
  const RunValues values = DeriveRunValues(baseUrlArgument);

  if (!transfer::DownloadFile(values.listUrl, values.downloadedListPath)) {
    Log().error(diagnostics::kListDownloadFailed);
    return;
  }
  if (!manifest::ShouldRunUpdate(values.localListPath, values.downloadedListPath)) {
    Log().info(diagnostics::kNoUpdateNeeded);
    return;
  }

  manifest::FileTable remote;
  std::string hostExecutable;
  if (!manifest::ReadUpdateList(values.downloadedListPath, remote, hostExecutable)) {
    Log().error(diagnostics::kListParseFailed);
    return;
  }
  if (hostExecutable.empty()) {
    Log().error(diagnostics::kApplicationParseFailed);
    return;
  }

  manifest::FileTable local;
  std::string unusedEntryPoint;
  const manifest::FileTable plan = manifest::ReadUpdateList(values.localListPath, local, unusedEntryPoint)
                                       ? manifest::BuildUpdatePlan(local, remote)
                                       : remote;
  if (plan.empty()) {
    Log().error(diagnostics::kNothingToUpdate);
    return;
  }

  manifest::UpdateListWriter writer;
  if (LogOpenFailure(writer.OpenForWriteBack(values.localListPath, values.downloadedListPath))) return;

  const auto self = plan.find(platform::UpdaterFileName);
  if (self != plan.end()) {
    RunSelfUpdate(self->second, values, baseUrlArgument, writer);
    return;
  }

  // Every file arrives, with its announced size, before any is installed.
  if (!DownloadAll(plan, values)) return;

  for (const auto& [key, entry] : plan) {
    // Only what arrived is recorded, so the next run fetches the rest again.
    if (ApplyFile(CollapseName(key), values)) writer.RecordAppliedFile(entry);
  }
  writer.Save();

  // The host is stopped only now that every file is in place.
  if (!platform::TerminateProcessById(hostProcessId)) Log().error(diagnostics::kTerminateHostFailed);
  platform::DeleteDirectoryTree(platform::AnsiToWide(values.tempDir));

  const std::string hostPath = values.installDir + hostExecutable;
  platform::StartProgram(platform::AnsiToWide(hostPath), u"");
  Log().info(hostPath);
  Log().info(diagnostics::kUpdateFinished);
}

}  // namespace velmora::driver
