// The update run: fetch and verify the list, plan, download, stage, apply, record, restart.
#include "driver/update_run.h"

#include <ctime>
#include <set>
#include <utility>

#include "driver/file_fetch.h"
#include "driver/proxy_choice.h"
#include "driver/run_state.h"
#include "driver/staging.h"
#include "layout/name_policy.h"
#include "layout/own_files.h"
#include "layout/placement.h"
#include "manifest/safe_name.h"
#include "manifest/update_plan.h"
#include "platform/encoding.h"
#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "transfer/session.h"

namespace velmora::driver {
namespace {

constexpr std::size_t kPackageEndingLength = 4;  // ".zip"
// How long a host asked to close has before it is ended, and how long its
// end may then take.
constexpr std::uint32_t kHostCloseWaitMilliseconds = 10000;
constexpr std::uint32_t kHostEndWaitMilliseconds = 5000;

// The folders on the way to installed names, each looked at once: one that
// is a link (on Windows any reparse point) is handed out, once, to be set
// aside as the link itself, so that nothing is written through it.
class LinksOnTheWay {
 public:
  explicit LinksOnTheWay(const std::u16string& installFolder) : installFolder_(installFolder) {}

  template <typename Take>
  void Check(const std::u16string& name, Take take) {
    for (std::size_t separator = name.find(u'\\'); separator != std::u16string::npos;
         separator = name.find(u'\\', separator + 1)) {
      std::u16string folder = name.substr(0, separator);
      if (!seen_.insert(layout::FoldCase(folder)).second) continue;
      if (layout::IsLink(installFolder_ + folder)) take(std::move(folder));
    }
  }

 private:
  const std::u16string& installFolder_;
  std::set<std::u16string> seen_;
};


// Fetches the list into memory and decides whether it comes from the
// publisher: nothing of a list is read before that.
Outcome FetchAndVerify(RunState& state) {
  state.local = ReadLocalList(state.values);
  const Outcome fetched = FetchList(state.session, state.values, state.local, &state.fetch);
  if (fetched.kind == OutcomeKind::kNotModified) {
    // The server says the list is the one installed: so is its version.
    manifest::ListDocument local;
    if (local.Parse(state.local.bytes)) state.report.facts().installedVersion = local.ApplicationVersion();
    state.report.facts().remoteVersion = state.report.facts().installedVersion;
  }
  if (!fetched.Continues()) return fetched;
  const Outcome trusted = CheckListTrust(state.session, state.values, state.fetch.bytes, &state.trust);
  state.report.facts().listTimestamp = state.trust.timestamp;
  if (trusted.kind != OutcomeKind::kNoUpdateKey) return trusted;
  state.report.Note(trusted);
  return Outcome{};
}

// True when every entry of a signed list pins its content: a signature
// covers the files only through their hashes and exact sizes.
bool EveryFileIsPinned(const manifest::FileTable& files) {
  for (const auto& [name, entry] : files) {
    if (entry.sha256.empty() || !entry.hasSize) return false;
  }
  return true;
}

bool NamesTheUpdateKey(const manifest::FileTable& files) {
  for (const auto& [name, entry] : files) {
    if (layout::ClassifyOwnName(platform::Utf8ToWide(name)) == layout::OwnName::kUpdateKey) return true;
  }
  return false;
}

// Parses both lists from the bytes read before, and decides whether the
// remote one is newer and usable.
Outcome ReadLists(RunState& state) {
  if (!state.remote.Parse(state.fetch.bytes)) return Make(OutcomeKind::kListUnreadable);
  state.remoteVersion = state.remote.ApplicationVersion();
  state.report.facts().remoteVersion = state.remoteVersion;
  // A list without a version cannot say whether it is newer: it is broken,
  // not "no update".
  if (state.remoteVersion.empty()) return Make(OutcomeKind::kListUnreadable);
  if (state.local.readable) {
    auto document = std::make_unique<manifest::ListDocument>();
    if (document->Parse(state.local.bytes)) state.localDocument = std::move(document);
  }
  const std::string localVersion = state.localDocument ? state.localDocument->ApplicationVersion() : "";
  state.report.facts().installedVersion = localVersion;
  if (!manifest::ShouldRunUpdate(localVersion, state.remoteVersion)) {
    if (!state.checkOnly) SaveListValidators(state.values, state.fetch, state.local.bytes);
    return Make(OutcomeKind::kUpToDate);
  }
  manifest::FileTable files;
  if (manifest::ReadUpdateList(state.remote, &files, &state.entryPoint) != manifest::ListRead::kOk) {
    return Make(OutcomeKind::kListUnreadable);
  }
  if (state.entryPoint.empty()) return Make(OutcomeKind::kApplicationMissing);
  // The program the host runs now: the entry point of the installed list,
  // or of the remote one for an installation that has none.
  std::string installedEntryPoint = state.localDocument ? state.localDocument->ApplicationEntryPoint() : "";
  if (installedEntryPoint.empty() || !manifest::IsSafeListName(installedEntryPoint)) {
    installedEntryPoint = state.entryPoint;
  }
  state.installedHostPath = state.values.paths.installFolder + platform::Utf8ToWide(installedEntryPoint);
  if (state.trust.signedList && !EveryFileIsPinned(files)) return Make(OutcomeKind::kSignatureRefused);
  // Only a list its publisher signed may replace the key that checks it.
  if (!state.trust.signedList && NamesTheUpdateKey(files)) return Make(OutcomeKind::kListUnreadable);
  state.plan = std::move(files);
  return Outcome{};
}

// The files to fetch, and the write-back that will record them. An entry of
// the local list that cannot be read counts as not installed; the others
// keep their versions.
Outcome Plan(RunState& state) {
  manifest::FileTable local;
  if (state.localDocument && manifest::ReadInstalledList(*state.localDocument, &local)) {
    state.plan = manifest::BuildUpdatePlan(std::move(local), std::move(state.plan));
  }
  // To a check, a list that changes no file says there is nothing to do.
  if (state.plan.empty()) return Make(state.checkOnly ? OutcomeKind::kUpToDate : OutcomeKind::kNothingToUpdate);
  if (state.checkOnly) {
    state.report.facts().fileCount = state.plan.size();
    for (const auto& [name, entry] : state.plan) state.report.facts().downloadSize += entry.size;
    return Make(OutcomeKind::kUpdateAvailable);
  }
  if (state.local.exists && !state.localDocument) return Make(OutcomeKind::kLocalListUnreadable);
  switch (state.writer.Open(state.localDocument.get(), &state.remote)) {
    case manifest::UpdateListWriter::OpenResult::kOk: break;
    case manifest::UpdateListWriter::OpenResult::kNoRoot: return Make(OutcomeKind::kLocalListNoRoot);
    case manifest::UpdateListWriter::OpenResult::kNoFiles: return Make(OutcomeKind::kLocalListNoFiles);
  }
  for (const auto& [name, entry] : state.plan) {
    if (layout::ClassifyOwnName(platform::Utf8ToWide(name)) == layout::OwnName::kUpdater) return RunSelfUpdate(state);
  }
  return Outcome{};
}

// Every file arrives whole before anything in the installation changes.
Outcome Download(RunState& state) {
  std::vector<const manifest::FileEntry*> entries;
  entries.reserve(state.plan.size());
  for (const auto& [name, entry] : state.plan) entries.push_back(&entry);
  DropUnclaimedPartials(state.values, entries);
  FetchCounts counts;
  const Outcome fetched = FetchFiles(state.session, state.values, entries, &counts);
  RunFacts& facts = state.report.facts();
  facts.bytesDownloaded = counts.onWire;
  facts.bytesWritten = counts.written;
  for (const std::string& name : counts.fellBack) state.report.Note(WithName(OutcomeKind::kFellBack, name));
  if (fetched.Continues()) {
    state.report.Note(WithName(OutcomeKind::kFetchTotals,
                               std::to_string(counts.onWire) + " / " + std::to_string(counts.written)));
  }
  return fetched;
}

// The moves that install the plan: plain files from the download folder,
// packages from their staging folders, the update key last of all, so that
// the key that checked this list is replaced only once everything else is
// in place. kUnpackFailed when a package does not unpack; nothing installed
// has changed then.
Outcome Stage(RunState& state) {
  const layout::InstallationPaths& paths = state.values.paths;
  state.retireRunFolder = NewRetireRunFolder(paths.retireFolder);
  const auto plainFolders =
      std::make_shared<const MoveFolders>(MoveFolders{paths.downloadFolder, paths.installFolder, state.retireRunFolder});
  const auto stagingFolders =
      std::make_shared<const MoveFolders>(MoveFolders{paths.stagingFolder, paths.installFolder, state.retireRunFolder});
  LinksOnTheWay links(paths.installFolder);
  std::vector<FileMove> placed, last;
  for (const auto& [key, entry] : state.plan) {
    const std::u16string name = DownloadPathOf(state.values, key).substr(paths.downloadFolder.size());
    links.Check(name, [&](std::u16string link) { state.moves.push_back(Retiring(plainFolders, std::move(link))); });
    if (!manifest::IsPackageName(key)) {
      FileMove move;
      move.folders = plainFolders;
      move.name = name;
      const bool isKey = layout::ClassifyOwnName(name) == layout::OwnName::kUpdateKey;
      (isKey ? last : placed).push_back(std::move(move));
      continue;
    }
    const std::u16string folder = name.substr(0, name.size() - kPackageEndingLength);
    if (!StagePackage(paths.downloadFolder + name, *stagingFolders, folder, &placed)) {
      return WithPath(OutcomeKind::kUnpackFailed, paths.installFolder + name);
    }
  }
  // Links go aside first, then everything in the order planned, the update
  // key last.
  for (std::vector<FileMove>* group : {&placed, &last}) {
    for (FileMove& move : *group) state.moves.push_back(std::move(move));
  }
  return Outcome{};
}

// All or nothing: a file that cannot be placed takes back every file this
// run placed, and nothing is recorded.
Outcome Apply(RunState& state) {
  // Whether the host runs the entry point is asked before its file may be
  // replaced: afterwards the name leads to the new program, not the running
  // one.
  state.hostRunsEntryPoint = platform::ProcessRunsProgram(state.hostProcessId, state.installedHostPath);
  std::u16string failedPath, unrestoredPath;
  switch (state.installation.Apply(std::move(state.moves), &failedPath, &unrestoredPath)) {
    case ApplyResult::kApplied: return Outcome{};
    case ApplyResult::kRolledBack:
      state.report.Note(WithPath(OutcomeKind::kPlaceFailed, failedPath));
      return Make(OutcomeKind::kRolledBack);
    case ApplyResult::kRollbackFailed:
      state.report.Note(WithPath(OutcomeKind::kPlaceFailed, failedPath));
      return WithPath(OutcomeKind::kRollbackFailed, unrestoredPath);
  }
  return Outcome{};
}

// The zips of the packages just installed are kept as the bases their next
// patches apply to. One that cannot be kept costs only bytes: the next
// update of that package comes compressed or whole.
void KeepPackageBases(const RunState& state) {
  const layout::InstallationPaths& paths = state.values.paths;
  for (const auto& [key, entry] : state.plan) {
    if (!manifest::IsPackageName(key)) continue;
    const std::u16string downloaded = DownloadPathOf(state.values, key);
    const std::u16string kept = paths.packageBaseFolder + downloaded.substr(paths.downloadFolder.size());
    platform::CreateDirectoryChain(kept);
    if (!platform::MoveFileReplacing(downloaded, kept)) platform::RemoveFile(kept);
  }
}

Outcome Record(RunState& state) {
  for (const auto& [key, entry] : state.plan) state.writer.RecordAppliedFile(entry);
  state.writer.RecordApplication(state.remoteVersion, state.entryPoint);
  const Outcome recorded = RecordRun(state);
  if (!recorded.Continues()) return recorded;
  state.report.facts().installedVersion = state.remoteVersion;
  KeepPackageBases(state);
  // Only a run that reached the list's state lets the next one skip an
  // unchanged list; without the validators it merely fetches it again.
  SaveListValidators(state.values, state.fetch, state.writer.Text());
  return recorded;
}


// Stops the host, and only the host: a process that does not run the
// installation's entry point is left alone. It is asked to close first (a
// window message on Windows, SIGTERM on POSIX), so that it can save its
// work, and ended only when it has not within kHostCloseWait.
bool StopHost(const RunState& state) {
  const std::uint32_t id = state.hostProcessId;
  if (!state.hostRunsEntryPoint) return false;
  if (platform::AskProcessToClose(id) && platform::WaitForProcessExit(id, kHostCloseWaitMilliseconds)) return true;
  return platform::TerminateProcessById(id) && platform::WaitForProcessExit(id, kHostEndWaitMilliseconds);
}

// The host is stopped only now that every file is in place and recorded,
// and started again from the installation once it has ended.
Outcome Restart(RunState& state) {
  if (!StopHost(state)) state.report.Note(Make(OutcomeKind::kHostStopFailed));
  CleanDownloadFolder(state.values);
  const std::u16string hostPath = state.values.paths.installFolder + platform::Utf8ToWide(state.entryPoint);
  if (!platform::StartProgram(hostPath, u"", state.values.paths.installFolder)) {
    return WithPath(OutcomeKind::kStartFailed, hostPath);
  }
  state.report.Note(WithPath(OutcomeKind::kHostStarted, hostPath));
  return Make(OutcomeKind::kUpdated);
}

// The transfer settings of a run: an UpdateCA.pem beside the updater is the
// only set of authorities its https server is checked against; without proxy
// variables, the system's proxy setting for the base URL applies.
transfer::TransferOptions TransferOptionsFor(const RunValues& values, RunReport& report) {
  transfer::TransferOptions options = transfer::DefaultTransferOptions();
  if (platform::GetPathAttributes(values.paths.updateAuthority, nullptr)) options.caFile = values.paths.updateAuthority;
  const std::string proxy = ApplySystemProxy(values.baseUrl, &options);
  if (!proxy.empty()) report.Note(WithName(OutcomeKind::kSystemProxy, proxy));
  return options;
}

Outcome RunSteps(RunState& state) {
  for (RunStep step : {FetchAndVerify, ReadLists, Plan, Download, Stage, Apply, Record, Restart}) {
    const Outcome outcome = step(state);
    if (!outcome.Continues()) return outcome;
  }
  return Outcome{};
}

}  // namespace

Outcome RecordRun(RunState& state) {
  state.installation.Commit();
  const std::string text = state.writer.Text();
  const layout::InstallationPaths& paths = state.values.paths;
  const bool saved = (!state.trust.signedList || SaveListTimestamp(state.values, state.trust.timestamp)) &&
                     !text.empty() && platform::ReplaceFileContent(paths.localList, layout::TemporaryOf(paths.localList), text);
  if (!saved) {
    state.report.Note(Make(OutcomeKind::kSaveFailed));
    std::u16string unrestoredPath;
    if (state.installation.RollBack(&unrestoredPath)) return Make(OutcomeKind::kRolledBack);
    return WithPath(OutcomeKind::kRollbackFailed, unrestoredPath);
  }
  PruneRetired(state.values, state.retireRunFolder);
  return Outcome{};
}

// A folder of the retire folder that no run has used: named after the time,
// with a number added when a run of the same second made one already.
std::u16string NewRetireRunFolder(const std::u16string& retireFolder) {
  SetAsideLinkedRetireFolder(retireFolder);
  char stamp[32] = "run";
  const std::time_t now = std::time(nullptr);
  if (const std::tm* utc = std::gmtime(&now)) std::strftime(stamp, sizeof(stamp), "%Y%m%d-%H%M%S", utc);
  std::u16string folder = retireFolder + platform::Utf8ToWide(stamp);
  for (int n = 2; platform::GetPathAttributes(folder, nullptr); ++n) {
    folder = retireFolder + platform::Utf8ToWide(std::string(stamp) + "-" + std::to_string(n));
  }
  return folder + u"\\";
}

void SetAsideLinkedRetireFolder(const std::u16string& retireFolder) {
  // The retire folder is the updater's own: a link (or junction) planted in
  // its place is removed as the link itself, so that nothing is ever moved
  // into, or pruned from, the place it points to.
  const std::u16string bare = retireFolder.substr(0, retireFolder.size() - 1);
  if (layout::IsLink(bare)) layout::RemoveItem(bare);
}

void PruneRetired(const RunValues& values, const std::u16string& keptRunFolder) {
  const std::u16string& retireFolder = values.paths.retireFolder;
  SetAsideLinkedRetireFolder(retireFolder);
  platform::FolderSearch search;
  if (!search.Start(retireFolder + u"*.*")) return;
  do {
    const std::u16string& name = search.Name();
    if (name == u"." || name == u"..") continue;
    const std::u16string path = retireFolder + name;
    if (path + u"\\" != keptRunFolder) layout::RemoveItem(path);
  } while (search.Next());
}

void CleanDownloadFolder(const RunValues& values) {
  const layout::InstallationPaths& paths = values.paths;
  // A journal left means a rollback the next run must finish first.
  const bool keepJournal = platform::GetPathAttributes(paths.journal, nullptr);
  // An empty partial folder goes; one with copies to resume stays.
  platform::RemoveFolder(paths.partialFolder);
  const bool keepPartial = platform::GetPathAttributes(paths.partialFolder, nullptr);
  if (!keepJournal && !keepPartial) {
    platform::DeleteDirectoryTree(paths.downloadFolder);
    return;
  }
  platform::FolderSearch search;
  if (!search.Start(paths.downloadFolder + u"*.*")) return;
  do {
    const std::u16string& name = search.Name();
    const std::u16string path = paths.downloadFolder + name;
    if (name == u"." || name == u".." || name == layout::kJournalName || name == layout::kPartialFolderName) continue;
    if (search.IsFolder() && !search.IsLink()) {
      platform::DeleteDirectoryTree(path);
    } else {
      platform::RemoveFile(path);
    }
  } while (search.Next());
}

void RunUpdate(const RunValues& values, std::uint32_t hostProcessId, RunReport& report) {
  // Temporaries of a save a kill cut short are removed, and a run killed
  // while placing files may have left installed names missing (Windows
  // moves a file aside before the new one arrives): they come back first.
  layout::RemoveLeftTemporaries(values.paths);
  const Recovery recovery =
      RecoverInterruptedRun(values.paths.journal, values.paths.installFolder, values.paths.retireFolder);
  for (const std::u16string& path : recovery.restored) report.Note(WithPath(OutcomeKind::kRestored, path));
  for (const std::string& line : recovery.ignored) report.Note(WithName(OutcomeKind::kJournalLineIgnored, line));
  // A rollback that still cannot be finished keeps the installation from
  // changing further: the next run tries again.
  if (!recovery.unrestored.empty()) return report.End(WithPath(OutcomeKind::kRollbackFailed, recovery.unrestored));
  transfer::TransferSession session(TransferOptionsFor(values, report));
  RunState state(values, hostProcessId, false, session, report);
  report.End(RunSteps(state));
  CleanDownloadFolder(values);
}

void CheckForUpdate(const RunValues& values, RunReport& report) {
  transfer::TransferOptions options = TransferOptionsFor(values, report);
  // Standard output is the check's answer, one line.
  options.reportProgress = false;
  transfer::TransferSession session(options);
  RunState state(values, 0, true, session, report);
  for (RunStep step : {FetchAndVerify, ReadLists, Plan}) {
    const Outcome outcome = step(state);
    if (!outcome.Continues()) return report.End(outcome);
  }
}

}  // namespace velmora::driver
