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
  // Set by Apply: whether something was installed under the name before.
  bool hadInstalled = false;

  std::u16string Incoming() const { return folders->incoming + name; }
  std::u16string Installed() const { return folders->installed + name; }
  std::u16string Retired() const { return folders->retired + name; }
};

// The placing of one run. Apply is called once; until Commit, RollBack puts
// every placed file back.
class Installation {
 public:
  // `journalPath` names the journal file (in the download folder).
  explicit Installation(std::u16string journalPath);

  // Flushes the incoming files to the disk, writes the journal, then places
  // the moves in order. At the first failure every move placed so far is
  // undone, `*failedPath` gets the installed path that failed, and the result
  // is false. True when every file is in place (and its folder flushed).
  bool Apply(std::vector<FileMove> moves, std::u16string* failedPath);

  // Undoes every placed move, last first, and removes the journal. False
  // when a file could not be put back (the journal then stays, so the next
  // run puts back what it can).
  bool RollBack();

  // The placement is final for a later run: the journal goes. Called before
  // the update list records the new versions, so a run that dies in between
  // is repeated in full rather than undone halfway. RollBack still undoes the
  // placed files within this run (when the list cannot be saved).
  bool Commit();

 private:
  bool FlushIncoming() const;
  bool WriteJournal() const;

  std::u16string journalPath_;
  std::vector<FileMove> moves_;
  // The first placedCount_ moves are in place (RollBack can undo them).
  std::size_t placedCount_ = 0;
};

// Puts back every installed file that a run killed while placing left
// missing, where its retired copy exists, as the journal at `journalPath`
// names them; then removes the journal. The paths put back are returned for
// the log. Nothing happens without a journal.
std::vector<std::u16string> RecoverInterruptedRun(const std::u16string& journalPath);

}  // namespace velmora::driver
