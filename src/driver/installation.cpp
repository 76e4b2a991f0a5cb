// Puts a run's files in place all or nothing, with a journal that survives a kill.
#include "driver/installation.h"

#include <set>
#include <utility>

#include "platform/encoding.h"
#include "platform/file_ops.h"
#include "platform/file_system.h"

namespace velmora::driver {
namespace {

// The journal is UTF-8 text: per move one line "<installed>\t<retired>\n".
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


}  // namespace

Installation::Installation(std::u16string journalPath) : journalPath_(std::move(journalPath)) {}

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
    text += platform::WideToUtf8(move.Installed()) + kFieldSeparator + platform::WideToUtf8(move.Retired()) + kLineEnd;
  }
  return platform::ReplaceFileContent(journalPath_, text);
}

bool Installation::FlushIncoming() const {
  // The new content must be on the disk before any name points to it, or a
  // power loss could leave installed names with empty files. The paths go
  // in batches: a package's moves run into thousands, and after the first
  // batch's flush (one syncfs on POSIX) the later ones find little to do.
  std::vector<std::u16string> batch;
  for (const FileMove& move : moves_) {
    if (!move.hasIncoming) continue;
    batch.push_back(move.Incoming());
    if (batch.size() < kFlushBatch) continue;
    if (!platform::FlushFilesToDisk(batch)) return false;
    batch.clear();
  }
  return platform::FlushFilesToDisk(batch);
}

bool Installation::Apply(std::vector<FileMove> moves, std::u16string* failedPath) {
  moves_ = std::move(moves);
  placedCount_ = 0;
  if (!FlushIncoming() || !WriteJournal()) {
    *failedPath = moves_.empty() ? std::u16string() : moves_.front().Installed();
    return false;
  }

  std::set<std::u16string> folders;
  for (FileMove& move : moves_) {
    bool placed = false;
    const std::u16string installed = move.Installed();
    if (!move.hasIncoming) {
      move.hadInstalled = true;
      placed = platform::RetireFile(move.Retired(), installed);
    } else {
      placed = platform::PlaceFile(move.Retired(), installed, move.Incoming(), &move.hadInstalled,
                                   move.keepsOwnPermissions);
    }
    if (!placed) {
      *failedPath = installed;
      RollBack();
      return false;
    }
    ++placedCount_;
    folders.insert(FolderOf(installed));
  }
  if (!platform::FlushFoldersToDisk(std::vector<std::u16string>(folders.begin(), folders.end()))) {
    *failedPath = *folders.begin();
    RollBack();
    return false;
  }
  return true;
}

bool Installation::RollBack() {
  bool restored = true;
  for (std::size_t i = placedCount_; i > 0; --i) {
    const FileMove& move = moves_[i - 1];
    if (!platform::RestoreFile(move.Retired(), move.Installed(), move.hadInstalled)) restored = false;
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

std::vector<std::u16string> RecoverInterruptedRun(const std::u16string& journalPath) {
  std::vector<std::u16string> restored;
  std::string text;
  if (!platform::ReadWholeFile(journalPath, kMaxJournalBytes, &text)) return restored;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find(kLineEnd, begin);
    if (end == std::string::npos) break;  // a line the kill cut short
    const std::string line = text.substr(begin, end - begin);
    begin = end + 1;
    const std::size_t tab = line.find(kFieldSeparator);
    if (tab == std::string::npos) continue;
    const std::u16string installed = platform::Utf8ToWide(line.substr(0, tab));
    const std::u16string retired = platform::Utf8ToWide(line.substr(tab + 1));
    if (!Exists(installed) && Exists(retired) && platform::MoveFileReplacing(retired, installed)) {
      restored.push_back(installed);
    }
  }
  platform::RemoveFile(journalPath);
  return restored;
}

}  // namespace velmora::driver
