// The update run: fetch the list, plan, download everything, then apply it.
#include "driver/update_run.h"

#include <memory>
#include <utility>

#include "diagnostics/logger.h"
#include "diagnostics/messages.h"
#include "driver/installation.h"
#include "driver/list_fetch.h"
#include "driver/staging.h"
#include "manifest/safe_name.h"
#include "manifest/update_plan.h"
#include "platform/encoding.h"
#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "platform/names.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "transfer/session.h"

namespace velmora::driver {

namespace {

constexpr std::size_t kPackageEndingLength = 4;  // ".zip"

diagnostics::LogCategory& Log() { return diagnostics::Logger::Instance().category; }

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
// one did not arrive whole: nothing is installed then.
bool DownloadAll(const manifest::FileTable& plan, const RunValues& values, transfer::TransferSession& session) {
  std::vector<const manifest::FileEntry*> entries;
  for (const auto& [key, entry] : plan) entries.push_back(&entry);
  const manifest::FileEntry* failed = nullptr;
  switch (FetchPlannedFiles(entries, values, session, &failed)) {
    case FetchResult::kOk: return true;
    case FetchResult::kFailed: Log().error(diagnostics::kDownloadFailedPrefix + CollapseName(failed->name)); break;
    case FetchResult::kWrongSize:
      Log().error(std::string(diagnostics::kSizeCheckPrefix) + std::to_string(failed->size) +
                  diagnostics::kSizeCheckSuffix);
      break;
    case FetchResult::kWrongHash:
      Log().error(diagnostics::kHashCheckFailedPrefix + CollapseName(failed->name));
      break;
  }
  return false;
}

FetchResult ResultOf(transfer::DownloadStatus status) {
  switch (status) {
    case transfer::DownloadStatus::kOk: return FetchResult::kOk;
    case transfer::DownloadStatus::kTooLarge: return FetchResult::kWrongSize;
    case transfer::DownloadStatus::kHashMismatch: return FetchResult::kWrongHash;
    default: return FetchResult::kFailed;
  }
}

// The moves that install the plan: plain files from the download folder,
// packages from their staging folders. False (logged) when a package does
// not unpack; nothing installed has changed then.
bool PlanMoves(const manifest::FileTable& plan, const RunValues& values, std::vector<FileMove>* moves) {
  const std::u16string staging = values.tempFolder + platform::StagingFolderName + u"\\";
  const auto plainFolders =
      std::make_shared<const MoveFolders>(MoveFolders{values.tempFolder, values.installFolder, values.retireFolder});
  for (const auto& [key, entry] : plan) {
    std::u16string name = platform::Utf8ToWide(CollapseName(key));
    if (!manifest::IsPackageName(key)) {
      FileMove move;
      move.folders = plainFolders;
      move.name = std::move(name);
      moves->push_back(std::move(move));
      continue;
    }
    const std::u16string folder = name.substr(0, name.size() - kPackageEndingLength) + u"\\";
    const PackageFolders folders{staging + folder, values.installFolder + folder, values.retireFolder + folder};
    if (!StagePackage(values.tempFolder + name, folders, moves)) {
      Log().error(diagnostics::kUnpackFailedPrefix + platform::WideToGbk(values.installFolder + name));
      return false;
    }
  }
  return true;
}

// The files to fetch. An entry of the local list that cannot be read counts
// as not installed; the others keep their versions. Neither list outlives
// the plan: with hundreds of entries each they are worth freeing before the
// downloads.
manifest::FileTable PlanUpdate(const std::u16string& localListPath, manifest::FileTable remote) {
  manifest::FileTable local;
  if (!manifest::ReadInstalledList(localListPath, local)) return remote;
  return manifest::BuildUpdatePlan(local, remote);
}

// Stops the host, clears the download folder and starts the host again.
void RestartHost(std::uint32_t hostProcessId, const RunValues& values, const std::string& hostExecutable) {
  if (!platform::TerminateProcessById(hostProcessId)) Log().error(diagnostics::kTerminateHostFailed);
  platform::DeleteDirectoryTree(values.tempFolder);

  const std::u16string hostPath = values.installFolder + platform::Utf8ToWide(hostExecutable);
  if (!platform::StartProgram(hostPath, u"")) {
    Log().error(diagnostics::kStartFailedPrefix + platform::WideToGbk(hostPath));
    return;
  }
  Log().info(platform::WideToGbk(hostPath));
  Log().info(diagnostics::kUpdateFinished);
}

}  // namespace

RunValues DeriveRunValues(const std::u16string& baseUrlArgument) {
  RunValues values;
  values.baseUrl = platform::WideToUtf8(baseUrlArgument);
  values.listUrl = values.baseUrl + platform::WideToUtf8(platform::LocalListFileName);
  values.installFolder = platform::GetModuleDirectory();
  values.tempFolder = values.installFolder + platform::DownloadFolderName + u"\\";
  values.retireFolder = platform::RetireFolderFor(values.installFolder);
  values.localListPath = values.installFolder + platform::LocalListFileName;
  values.downloadedListPath = values.tempFolder + platform::LocalListFileName;
  values.journalPath = values.tempFolder + platform::JournalFileName;
  return values;
}

std::string CollapseName(const std::string& key) {
  std::string name = key;
  platform::ReplaceAll(name, "\\\\", "\\");
  return name;
}

FetchResult FetchPlannedFiles(const std::vector<const manifest::FileEntry*>& entries, const RunValues& values,
                              transfer::TransferSession& session, const manifest::FileEntry** failed) {
  std::vector<transfer::DownloadRequest> requests;
  for (const manifest::FileEntry* entry : entries) {
    const std::string name = CollapseName(entry->name);
    transfer::DownloadRequest request;
    request.url = values.baseUrl + name;
    request.path = values.tempFolder + platform::Utf8ToWide(name);
    request.maxBytes = entry->size;
    platform::Sha256Digest digest{};
    // The list reader accepts only well-formed hashes.
    if (!entry->sha256.empty() && platform::ParseSha256Hex(entry->sha256, &digest)) request.sha256 = digest;
    requests.push_back(std::move(request));
  }
  const transfer::BatchResult batch = session.DownloadBatch(requests);
  if (!batch.ok) {
    if (failed != nullptr) *failed = entries[batch.failedIndex];
    return ResultOf(batch.failed.status);
  }
  // A body shorter than announced arrives complete as far as HTTP can tell.
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i]->size != 0 && batch.bytes[i] != entries[i]->size) {
      if (failed != nullptr) *failed = entries[i];
      return FetchResult::kWrongSize;
    }
  }
  return FetchResult::kOk;
}

bool SaveRun(manifest::UpdateListWriter& writer, const RunValues& values, const ListTrust& trust) {
  if (trust.verdict == ListTrust::Verdict::kSigned && !SaveListTimestamp(values, trust.timestamp)) return false;
  return writer.Save();
}

void RunUpdate(const std::u16string& baseUrlArgument, std::uint32_t hostProcessId) {
  const RunValues values = DeriveRunValues(baseUrlArgument);
  // A run killed while placing files may have left installed names missing
  // (Windows moves a file aside before the new one arrives): they come back
  // first.
  for (const std::u16string& path : RecoverInterruptedRun(values.journalPath)) {
    Log().info(diagnostics::kRestoredPrefix + platform::WideToGbk(path));
  }

  transfer::TransferSession session;
  const ListFetch fetch = FetchList(values, session);
  if (fetch.status == ListFetch::Status::kNotModified) {
    Log().info(diagnostics::kNoUpdateNeeded);
    return;
  }
  if (fetch.status == ListFetch::Status::kFailed) {
    Log().error(diagnostics::kListDownloadFailed);
    return;
  }
  // Nothing of a list is read before it is known to come from the publisher.
  const ListTrust trust = CheckListTrust(values, session);
  if (trust.verdict == ListTrust::Verdict::kNoKey) Log().info(diagnostics::kNoUpdateKey);
  if (trust.verdict == ListTrust::Verdict::kRefused) {
    Log().error(diagnostics::kSignatureCheckFailed);
    return;
  }
  if (!manifest::ShouldRunUpdate(values.localListPath, values.downloadedListPath)) {
    SaveListValidators(values, fetch);
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
  // A signature covers the files only through their hashes.
  if (trust.verdict == ListTrust::Verdict::kSigned && !EveryFileIsPinned(remote)) {
    Log().error(diagnostics::kSignatureCheckFailed);
    return;
  }

  const manifest::FileTable plan = PlanUpdate(values.localListPath, std::move(remote));
  if (plan.empty()) {
    Log().error(diagnostics::kNothingToUpdate);
    return;
  }

  manifest::UpdateListWriter writer;
  if (LogOpenFailure(writer.OpenForWriteBack(values.localListPath, values.downloadedListPath))) return;

  const auto self = plan.find(platform::UpdaterFileName);
  if (self != plan.end()) {
    RunSelfUpdate(self->second, values, trust, baseUrlArgument, writer, session);
    return;
  }
  // The list to write back is known to open; its document is loaded again
  // once the files are here, rather than held through the downloads.
  writer.Close();

  // Every file arrives whole and every package unpacks before anything in
  // the installation changes.
  if (!DownloadAll(plan, values, session)) return;
  std::vector<FileMove> moves;
  if (!PlanMoves(plan, values, &moves)) return;
  if (LogOpenFailure(writer.OpenForWriteBack(values.localListPath, values.downloadedListPath))) return;

  // All or nothing: a file that cannot be placed takes back every file this
  // run placed, and nothing is recorded.
  Installation installation(values.journalPath);
  std::u16string failedPath;
  if (!installation.Apply(std::move(moves), &failedPath)) {
    Log().error(diagnostics::kReplaceFailedPrefix + platform::WideToGbk(failedPath));
    Log().error(diagnostics::kRunRolledBack);
    return;
  }
  for (const auto& [key, entry] : plan) writer.RecordAppliedFile(entry);
  installation.Commit();
  if (!SaveRun(writer, values, trust)) {
    Log().error(diagnostics::kSaveFailed);
    if (installation.RollBack()) Log().error(diagnostics::kRunRolledBack);
    return;
  }

  // Only a run that reached the list's state lets the next one skip an
  // unchanged list; without the validators it merely fetches it again.
  SaveListValidators(values, fetch);

  // The host is stopped only now that every file is in place and recorded.
  RestartHost(hostProcessId, values, hostExecutable);
}

}  // namespace velmora::driver
