// What one update run knows as it goes: its values, the lists it read once, its plan and its placement.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver/installation.h"
#include "driver/list_fetch.h"
#include "driver/list_trust.h"
#include "driver/run_report.h"
#include "driver/run_values.h"
#include "manifest/update_list.h"

namespace velmora::transfer {
class TransferSession;
}

namespace velmora::driver {

// The state the steps of a run share. Each list is read once: the remote
// list's bytes arrive in memory, are verified, and exactly those bytes are
// parsed into `remote`, which serves the plan and, for a new installation,
// the write-back; the local list likewise.
struct RunState {
  RunState(RunValues values, std::uint32_t hostProcessId, bool checkOnly, transfer::TransferSession& session,
           RunReport& report)
      : values(std::move(values)), hostProcessId(hostProcessId), checkOnly(checkOnly), session(session),
        report(report),
        installation(this->values.paths.journal, this->values.paths.installFolder, this->values.paths.retireFolder) {}

  const RunValues values;
  const std::uint32_t hostProcessId;
  // A check only reads the lists and plans: it downloads, changes and keeps
  // nothing.
  const bool checkOnly;
  transfer::TransferSession& session;
  RunReport& report;

  LocalList local;
  ListFetch fetch;
  ListTrust trust;
  manifest::ListDocument remote;
  // Null when there is no local list, or it cannot be read or parsed.
  std::unique_ptr<manifest::ListDocument> localDocument;
  std::string remoteVersion;
  std::string entryPoint;
  std::u16string installedHostPath;
  bool hostRunsEntryPoint = false;
  manifest::FileTable plan;
  manifest::UpdateListWriter writer;
  std::vector<FileMove> moves;
  // This run's folder in the retire folder: every item it sets aside has a
  // place of its own there, which no other run's copy can take.
  std::u16string retireRunFolder;
  Installation installation;
};

// One step of a run: kContinue lets the next one start; anything else ends
// the run with that outcome. A step reports notes on the way through
// `state.report` and never logs itself.
using RunStep = Outcome (*)(RunState& state);

// The steps of a self-update, taken when the plan replaces the updater.
Outcome RunSelfUpdate(RunState& state);

// Records what the run applied: the signing time of a signed list, then the
// local list. On failure the placed files go back (kRolledBack, or
// kRollbackFailed with the path that could not be put back), after the note
// kSaveFailed. Commits the placement first, so that a run that dies between
// the two is repeated in full rather than undone halfway.
Outcome RecordRun(RunState& state);

// A folder of the retire folder that no run has used yet, for this run's
// retired items (with a trailing separator).
std::u16string NewRetireRunFolder(const std::u16string& retireFolder);

// Removes a link planted where the retire folder belongs (the link alone).
void SetAsideLinkedRetireFolder(const std::u16string& retireFolder);

// Removes what earlier runs retired, keeping the copies of the run that
// just completed (for support and a manual rollback) until the next one
// completes. An item that is still locked stays for a later run.
void PruneRetired(const RunValues& values, const std::u16string& keptRunFolder);

// Removes the download folder with whatever a run left in it, except the
// journal while a rollback remains to be finished and the partial downloads
// kept for the next run.
void CleanDownloadFolder(const RunValues& values);

}  // namespace velmora::driver
