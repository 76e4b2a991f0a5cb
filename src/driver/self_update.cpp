// The self-update: replace the running updater, record its version and start the new one.
#include <memory>

#include "driver/file_fetch.h"
#include "driver/run_state.h"
#include "layout/own_files.h"
#include "platform/encoding.h"
#include "platform/environment.h"
#include "platform/process.h"

namespace velmora::driver {
namespace {

// A download that did not complete, or has another size or hash than
// announced, never replaces the updater.
Outcome FetchSelf(RunState& state, const manifest::FileEntry& self) {
  FetchCounts counts;
  const Outcome fetched = FetchFiles(state.session, state.values, {&self}, &counts);
  state.report.facts().bytesDownloaded = counts.onWire;
  state.report.facts().bytesWritten = counts.written;
  for (const std::string& name : counts.fellBack) state.report.Note(WithName(OutcomeKind::kFellBack, name));
  Outcome failed = fetched;
  switch (fetched.kind) {
    case OutcomeKind::kContinue: break;
    case OutcomeKind::kSizeMismatch: failed.kind = OutcomeKind::kSelfSizeMismatch; break;
    case OutcomeKind::kHashMismatch: failed.kind = OutcomeKind::kSelfHashMismatch; break;
    default: failed.kind = OutcomeKind::kSelfDownloadFailed; return failed;
  }
  state.report.Note(Make(OutcomeKind::kSelfDownloadFinished));
  return failed;
}

// The running executable is set aside (the process goes on from the
// retired file) and the new one takes its name; a journal covers the
// moment on Windows when the name is free.
Outcome ReplaceSelf(RunState& state, const std::string& name) {
  const layout::InstallationPaths& paths = state.values.paths;
  state.retireRunFolder = NewRetireRunFolder(paths.retireFolder);
  FileMove move;
  move.folders = std::make_shared<const MoveFolders>(
      MoveFolders{paths.downloadFolder, paths.installFolder, state.retireRunFolder});
  move.name = platform::Utf8ToWide(name);
  std::u16string failedPath, unrestoredPath;
  switch (state.installation.Apply({move}, &failedPath, &unrestoredPath)) {
    case ApplyResult::kApplied: break;
    case ApplyResult::kRolledBack: return Make(OutcomeKind::kSelfReplaceFailed);
    case ApplyResult::kRollbackFailed:
      state.report.Note(Make(OutcomeKind::kSelfReplaceFailed));
      return WithPath(OutcomeKind::kRollbackFailed, unrestoredPath);
  }
  state.report.Note(Make(OutcomeKind::kSelfReplaced));
  return Outcome{};
}

}  // namespace

Outcome RunSelfUpdate(RunState& state) {
  const manifest::FileEntry* self = nullptr;
  for (const auto& [name, entry] : state.plan) {
    if (layout::ClassifyOwnName(platform::Utf8ToWide(name)) == layout::OwnName::kUpdater) self = &entry;
  }
  state.report.Note(Make(OutcomeKind::kSelfUpdateStarted));
  Outcome outcome = FetchSelf(state, *self);
  if (!outcome.Continues()) return outcome;
  outcome = ReplaceSelf(state, self->name);
  if (!outcome.Continues()) return outcome;

  // Without its version recorded the new updater would fetch itself again
  // and restart without end: the old one goes back and nothing restarts.
  state.writer.RecordAppliedFile(*self);
  outcome = RecordRun(state);
  if (!outcome.Continues()) return outcome;
  state.report.Note(Make(OutcomeKind::kSelfVersionRecorded));

  // The new updater goes on with the same base URL and the same host, once
  // this one has ended: it waits for the lock this process holds until then.
  const std::u16string installedPath = state.values.paths.installFolder + platform::Utf8ToWide(self->name);
  const std::u16string arguments = u"start " + platform::QuoteArgument(platform::Utf8ToWide(state.values.baseUrl)) +
                                   u" " + platform::Utf8ToWide(std::to_string(state.hostProcessId));
  if (!platform::SetEnvironmentValue(kRestartVariable, u"1") ||
      !platform::StartProgram(installedPath, arguments)) {
    return WithPath(OutcomeKind::kStartFailed, installedPath);
  }
  return Make(OutcomeKind::kSelfRestarted);
}

}  // namespace velmora::driver
