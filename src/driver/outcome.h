// What a step of an update run ended with: a kind, what it concerns, and the system's own code.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::driver {

// Every way a run, or one of its steps, can end or report on its way. Each
// kind has one row in the table of run_report.cpp that gives its fixed log
// lines and the outcome the host reads in the status file.
enum class OutcomeKind {
  kContinue,  // the step is done; the run goes on
  // Notes on the way: logged, the run goes on.
  kRestored,
  kJournalLineIgnored,
  kFellBack,
  kFetchTotals,  // name: "<bytes on the wire> / <bytes written>"
  kSystemProxy,  // name: the proxy the system setting chose
  kNoUpdateKey,
  kHostStopFailed,
  kHostStarted,
  kSelfUpdateStarted,
  kSelfDownloadFinished,
  kSelfReplaced,
  kSelfVersionRecorded,
  // Ends of a run.
  kUpdated,
  kSelfRestarted,
  kNotModified,
  kUpToDate,
  kUpdateAvailable,
  kListDownloadFailed,
  kListUnreadable,
  kApplicationMissing,
  kSignatureRefused,
  kUpdateKeyUnreadable,
  kListExpired,
  kNothingToUpdate,
  kLocalListUnreadable,
  kLocalListNoRoot,
  kLocalListNoFiles,
  kDownloadFailed,
  kSizeMismatch,
  kHashMismatch,
  kSelfDownloadFailed,
  kSelfSizeMismatch,
  kSelfHashMismatch,
  kSelfReplaceFailed,
  kUnpackFailed,
  kPlaceFailed,  // a note: the run is taken back next
  kSaveFailed,   // a note: the run is taken back next
  kRolledBack,
  kRollbackFailed,
  kStartFailed,
  // Ends before a run starts.
  kAlreadyRunning,
  kWrongArgumentCount,
  kBadArguments,
  kModuleFolderUnknown,
  kFolderCreateFailed,
};

// Where a code comes from.
enum class CodeKind { kNone, kHttp, kTransfer, kSystem };

// One outcome. `name` is a list name as the list wrote it, `path` a local
// path; at most one of them is set. `size` is the size a list announced,
// for the size check's text. `code` is the HTTP status, the transfer
// library's error or the system's error code, as `codeKind` says.
struct Outcome {
  OutcomeKind kind = OutcomeKind::kContinue;
  std::string name;
  std::u16string path;
  std::uint64_t size = 0;
  CodeKind codeKind = CodeKind::kNone;
  long long code = 0;

  bool Continues() const { return kind == OutcomeKind::kContinue; }
};

inline Outcome Make(OutcomeKind kind) {
  Outcome outcome;
  outcome.kind = kind;
  return outcome;
}

inline Outcome WithName(OutcomeKind kind, std::string name) {
  Outcome outcome = Make(kind);
  outcome.name = std::move(name);
  return outcome;
}

inline Outcome WithPath(OutcomeKind kind, std::u16string path) {
  Outcome outcome = Make(kind);
  outcome.path = std::move(path);
  return outcome;
}

}  // namespace velmora::driver
