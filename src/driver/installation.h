// Puts a run's files in place all or nothing, with a journal that survives a kill.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace velmora::driver {

// The folders a group of moves runs between, each ending with a separator:
// where the incoming files are, the installation (or a package's folder in
// it), and where replaced files are kept.
struct MoveFolders {
  std::u16string incoming;
  std::u16string installed;
  std::u16string retired;
};

// One file on its way into the installation: the incoming file (downloaded
// or staged) takes the installed name, and whatever was installed is kept
// under the retired one. A move with no incoming file only retires the
// installed one (a file a new package no longer has). Each path is `name`
// below folders the moves of a group share: a package's moves run into
// thousands, and full paths would hold the same folders thousands of times.
struct FileMove {
  std::shared_ptr<const MoveFolders> folders;
  std::u16string name;
  bool hasIncoming = true;
  // Package files keep the permission bits they were unpacked with; plain
  // files take over those of the file they replace.
  bool keepsOwnPermissions = false;
  // The incoming item is an empty folder (a package's own folder entry).
  bool isFolder = false;
  // Set by Apply: whether something was installed under the name before.
  bool hadInstalled = false;

  std::u16string Incoming() const { return folders->incoming + name; }
  std::u16string Installed() const { return folders->installed + name; }
  std::u16string Retired() const { return folders->retired + name; }
};

// How Apply ended.
enum class ApplyResult {
  kApplied,         // every move is in place
  kRolledBack,      // a move failed and every placed one was undone
  kRollbackFailed,  // a move failed and a placed one could not be undone
};

// The placing of one run. Apply is called once; until Commit, RollBack puts
// every placed file back.
class Installation {
 public:
  // `journalPath` names the journal file (in the download folder); the
  // moves' paths lie below `installFolder` and `retireFolder`, which the
  // journal's names are relative to.
  Installation(std::u16string journalPath, std::u16string installFolder, std::u16string retireFolder);

  // Flushes the incoming files to the disk, writes the journal, then places
  // the moves in order. At the first failure every move placed so far is
  // undone and `*failedPath` gets the installed path that failed; when the
  // undoing fails too, `*unrestoredPath` gets the first path that could not
  // be put back. kApplied when every file is in place (and its folder
  // flushed).
  ApplyResult Apply(std::vector<FileMove> moves, std::u16string* failedPath, std::u16string* unrestoredPath);

  // Undoes every placed move, last first, and removes the journal. False
  // when a file could not be put back (`*unrestoredPath`, when given, names
  // the first); the journal then stays, so that the next run puts back what
  // it can before anything else.
  bool RollBack(std::u16string* unrestoredPath = nullptr);

  // The placement is final for a later run: the journal goes. Called before
  // the update list records the new versions, so a run that dies in between
  // is repeated in full rather than undone halfway. RollBack still undoes the
  // placed files within this run (when the list cannot be saved).
  bool Commit();

 private:
  bool FlushIncoming() const;
  bool WriteJournal() const;

  std::u16string journalPath_;
  std::u16string installFolder_;
  std::u16string retireFolder_;
  std::vector<FileMove> moves_;
  // The first placedCount_ moves are in place (RollBack can undo them).
  std::size_t placedCount_ = 0;
};

// What the recovery of an interrupted run did.
struct Recovery {
  std::vector<std::u16string> restored;  // installed paths put back
  std::vector<std::string> ignored;      // journal lines of any other form
  std::u16string unrestored;             // the first path that could not be put back
};

// Finishes what a run killed while placing files, or one whose rollback
// failed, left undone, as the journal at `journalPath` names it: every
// installed item whose retired copy exists goes back, last placed first,
// so that the installation is as it was before that run. A line whose
// names are not plain relative names is ignored. The journal is removed
// once everything is back; otherwise it stays for the next run. Nothing
// happens without a journal.
Recovery RecoverInterruptedRun(const std::u16string& journalPath, const std::u16string& installFolder,
                               const std::u16string& retireFolder);

}  // namespace velmora::driver
