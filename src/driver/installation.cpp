// Puts a run's files in place all or nothing, with a journal that survives a kill.
#include "driver/installation.h"

#include <set>
#include <utility>

#include "layout/own_files.h"
#include "layout/name_policy.h"
#include "layout/placement.h"
#include "platform/encoding.h"
#include "platform/file_ops.h"
#include "platform/file_system.h"

namespace velmora::driver {
namespace {

// The journal is UTF-8 text: per move one line "<installed>\t<retired>\n",
// the installed name relative to the installation, the retired one to the
// retire folder (its run folder first).
constexpr char kFieldSeparator = '\t';
constexpr char kLineEnd = '\n';
// A journal names a few thousand paths at the most.
constexpr std::uint64_t kMaxJournalBytes = 64 * 1024 * 1024;
constexpr std::size_t kFlushBatch = 256;

bool Exists(const std::u16string& path) {
  std::uint32_t attributes = 0;
  return platform::GetPathAttributes(path, &attributes);
}

std::u16string FolderOf(const std::u16string& path) {
  const std::size_t separator = path.find_last_of(u"\\/");
  return separator == std::u16string::npos ? std::u16string() : path.substr(0, separator);
}

// A journal line's name as a path below `folder`; empty when the name is
// not a plain relative name that stays inside it. A journal is only ever
// written by the updater, but it lies in a folder the installation's users
// can write: one line must never move a file from elsewhere.
std::u16string PathBelow(const std::u16string& folder, const std::string& name) {
  const std::u16string wide = platform::Utf8ToWide(name);
  if (!layout::IsSafeRelativeName(wide) || wide.back() == u'\\' || wide.back() == u'/') return std::u16string();
  return folder + wide;
}

std::string NameBelow(const std::u16string& folder, const std::u16string& path) {
  return platform::WideToUtf8(path.substr(folder.size()));
}

}  // namespace

Installation::Installation(std::u16string journalPath, std::u16string installFolder, std::u16string retireFolder)
    : journalPath_(std::move(journalPath)), installFolder_(std::move(installFolder)),
      retireFolder_(std::move(retireFolder)) {}

bool Installation::WriteJournal() const {
  // Reserved for the longest UTF-8 the paths can take (three bytes per
  // unit), so that the text of thousands of paths never sits in memory
  // twice while it grows; the pages it does not fill are never touched.
  std::size_t longest = 0;
  for (const FileMove& move : moves_) {
    longest += 3 * (move.folders->installed.size() + move.folders->retired.size() + 2 * move.name.size()) + 2;
  }
  std::string text;
  text.reserve(longest);
  for (const FileMove& move : moves_) {
    text += NameBelow(installFolder_, move.Installed()) + kFieldSeparator + NameBelow(retireFolder_, move.Retired()) +
            kLineEnd;
  }
  return platform::ReplaceFileContent(journalPath_, layout::TemporaryOf(journalPath_), text);
}

bool Installation::FlushIncoming() const {
  // The new content must be on the disk before any name points to it, or a
  // power loss could leave installed names with empty files. The paths go
  // in batches: a package's moves run into thousands, and after the first
  // batch's flush (one syncfs on POSIX) the later ones find little to do.
  std::vector<std::u16string> batch;
  for (const FileMove& move : moves_) {
    if (!move.hasIncoming || move.isFolder) continue;
    batch.push_back(move.Incoming());
    if (batch.size() < kFlushBatch) continue;
    if (!platform::FlushFilesToDisk(batch)) return false;
    batch.clear();
  }
  return platform::FlushFilesToDisk(batch);
}

ApplyResult Installation::Apply(std::vector<FileMove> moves, std::u16string* failedPath,
                                std::u16string* unrestoredPath) {
  moves_ = std::move(moves);
  placedCount_ = 0;
  if (!FlushIncoming() || !WriteJournal()) {
    *failedPath = moves_.empty() ? std::u16string() : moves_.front().Installed();
    return ApplyResult::kRolledBack;
  }

  std::set<std::u16string> folders;
  for (FileMove& move : moves_) {
    bool placed = false;
    const std::u16string installed = move.Installed();
    if (!move.hasIncoming) {
      move.hadInstalled = true;
      placed = layout::RetireFile(move.Retired(), installed);
    } else {
      placed = layout::PlaceFile(move.Retired(), installed, move.Incoming(), &move.hadInstalled,
                                   move.keepsOwnPermissions);
    }
    if (!placed) {
      *failedPath = installed;
      return RollBack(unrestoredPath) ? ApplyResult::kRolledBack : ApplyResult::kRollbackFailed;
    }
    ++placedCount_;
    folders.insert(FolderOf(installed));
  }
  if (!platform::FlushFoldersToDisk(std::vector<std::u16string>(folders.begin(), folders.end()))) {
    *failedPath = *folders.begin();
    return RollBack(unrestoredPath) ? ApplyResult::kRolledBack : ApplyResult::kRollbackFailed;
  }
  return ApplyResult::kApplied;
}

bool Installation::RollBack(std::u16string* unrestoredPath) {
  bool restored = true;
  for (std::size_t i = placedCount_; i > 0; --i) {
    const FileMove& move = moves_[i - 1];
    if (layout::RestoreFile(move.Retired(), move.Installed(), move.hadInstalled)) continue;
    if (restored && unrestoredPath != nullptr) *unrestoredPath = move.Installed();
    restored = false;
  }
  placedCount_ = 0;
  // A journal is kept where something could not be put back, so that the
  // next run's recovery tries again.
  if (restored) platform::RemoveFile(journalPath_);
  return restored;
}

bool Installation::Commit() {
  // The placed moves are kept: a list that then fails to save still takes
  // the whole run back in this process.
  return platform::RemoveFile(journalPath_) || !Exists(journalPath_);
}

Recovery RecoverInterruptedRun(const std::u16string& journalPath, const std::u16string& installFolder,
                               const std::u16string& retireFolder) {
  Recovery recovery;
  std::string text;
  if (!platform::ReadWholeFile(journalPath, kMaxJournalBytes, &text)) return recovery;
  std::vector<std::pair<std::u16string, std::u16string>> entries;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find(kLineEnd, begin);
    if (end == std::string::npos) break;  // a line the kill cut short
    const std::string line = text.substr(begin, end - begin);
    begin = end + 1;
    const std::size_t tab = line.find(kFieldSeparator);
    const std::u16string installed = tab == std::string::npos ? u"" : PathBelow(installFolder, line.substr(0, tab));
    const std::u16string retired = tab == std::string::npos ? u"" : PathBelow(retireFolder, line.substr(tab + 1));
    if (installed.empty() || retired.empty()) {
      recovery.ignored.push_back(line);
      continue;
    }
    entries.emplace_back(installed, retired);
  }
  // Last placed, first undone: every installed item whose retired copy the
  // run made goes back, so the installation is as it was before that run.
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    const auto& [installed, retired] = *entry;
    if (!Exists(retired)) continue;
    if (layout::RestoreFile(retired, installed, true)) {
      recovery.restored.push_back(installed);
    } else if (recovery.unrestored.empty()) {
      recovery.unrestored = installed;
    }
  }
  // What could not be put back stays in the journal for the next run.
  if (recovery.unrestored.empty()) platform::RemoveFile(journalPath);
  return recovery;
}

}  // namespace velmora::driver
