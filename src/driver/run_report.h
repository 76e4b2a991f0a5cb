// Turns the outcomes of a run into the fixed lines of the log, through one table.
#pragma once

#include <cstdint>
#include <string>

#include "driver/outcome.h"

namespace velmora::driver {

// What a run learns on its way that its host may want to know.
struct RunFacts {
  std::string installedVersion;  // the local list's application version
  std::string remoteVersion;
  std::uint64_t bytesDownloaded = 0;  // on the wire
  std::uint64_t bytesWritten = 0;     // of the files fetched, as written
  std::uint64_t listTimestamp = 0;
  std::uint64_t fileCount = 0;
  std::uint64_t downloadSize = 0;
};

// The one place that writes a run's log lines. Each outcome kind has a row:
// its level, its fixed text (and what follows the text: a list name, a path
// or a size) and the identifier the status file gives it. A code goes on a DEBUG line of its own right after
// the fixed text, so that the fixed lines stay exactly as they are.
class RunReport {
 public:
  RunReport();

  // Logs a note on the way (or an end): its lines, now.
  void Note(const Outcome& outcome);

  // Logs the outcome a run ended with and keeps it.
  void End(const Outcome& outcome);

  const Outcome& final() const { return final_; }
  RunFacts& facts() { return facts_; }

  // Writes the status file at `path` (through `temporary`, atomically): the
  // final outcome, its fixed text in UTF-8, the facts, and when the run
  // started and ended. False when it cannot be written; the host then finds
  // the status of an earlier run, or none.
  bool WriteStatus(const std::u16string& path, const std::u16string& temporary) const;

  // The one line `check` prints: the outcome and what the host would act on.
  std::string Summary() const;

  // The stable identifier of an outcome kind in the status file
  // ("updated", "up-to-date", "download-failed", ...).
  static const char* IdentifierOf(OutcomeKind kind);


 private:
  Outcome final_;
  RunFacts facts_;
  std::string started_;
};

}  // namespace velmora::driver
