// Unpacks a package beside the installation and plans the moves that install it.
#include "driver/staging.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <utility>

#include "archive/package.h"
#include "layout/name_policy.h"
#include "layout/placement.h"
#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace velmora::driver {
namespace {

// One entry below a folder: its name relative to it ("\\" separators), and
// whether it is a folder that is entered (links never are).
struct Entry {
  std::u16string name;
  bool isFolder = false;
};

// Hands the files and empty folders below `folder` (links as files, never
// entered) to `take`. The names go straight to their use: a package holds
// thousands.
void ListStaged(const std::u16string& folder, const std::u16string& prefix, const std::function<void(Entry)>& take) {
  platform::FolderSearch search;
  if (!search.Start(folder + prefix + u"*.*")) return;
  bool empty = true;
  do {
    const std::u16string& name = search.Name();
    if (name == u"." || name == u"..") continue;
    empty = false;
    if (search.IsFolder() && !search.IsLink()) {
      ListStaged(folder, prefix + name + u"\\", take);
    } else {
      take({prefix + name, false});
    }
  } while (search.Next());
  if (empty && !prefix.empty()) take({prefix.substr(0, prefix.size() - 1), true});
}

// The staged names, folded, sorted, for the questions the installed tree asks.
class StagedNames {
 public:
  void Add(const std::u16string& name, bool isFolder) {
    (isFolder ? folders_ : files_).push_back(layout::FoldCase(name));
  }
  void Sort() {
    std::sort(files_.begin(), files_.end());
    std::sort(folders_.begin(), folders_.end());
  }
  bool IsFile(const std::u16string& folded) const { return std::binary_search(files_.begin(), files_.end(), folded); }
  // True when the package has `folded` as a folder, or anything below it.
  bool HasFolder(const std::u16string& folded) const {
    if (std::binary_search(folders_.begin(), folders_.end(), folded)) return true;
    const std::u16string below = folded + u"\\";
    for (const std::vector<std::u16string>* names : {&files_, &folders_}) {
      const auto next = std::lower_bound(names->begin(), names->end(), below);
      if (next != names->end() && next->compare(0, below.size(), below) == 0) return true;
    }
    return false;
  }

 private:
  std::vector<std::u16string> files_;
  std::vector<std::u16string> folders_;
};

// Walks the installed package folder and appends a retiring move for each
// item the package no longer has: files and links it lacks, and whole
// folders it has nothing in. A folder where the package has a file is set
// aside whole by that file's placement, so nothing below it is retired.
void RetireWhatThePackageLacks(const std::u16string& installed, const std::u16string& prefix,
                               const StagedNames& staged, const std::function<void(std::u16string)>& retire) {
  platform::FolderSearch search;
  if (!search.Start(installed + prefix + u"*.*")) return;
  do {
    const std::u16string& name = search.Name();
    if (name == u"." || name == u"..") continue;
    const std::u16string relative = prefix + name;
    const std::u16string folded = layout::FoldCase(relative);
    if (!search.IsFolder() || search.IsLink()) {
      if (!staged.IsFile(folded)) retire(relative);
    } else if (!staged.IsFile(folded)) {
      if (staged.HasFolder(folded)) {
        RetireWhatThePackageLacks(installed, relative + u"\\", staged, retire);
      } else {
        retire(relative);
      }
    }
  } while (search.Next());
}

}  // namespace

FileMove Retiring(const std::shared_ptr<const MoveFolders>& folders, std::u16string name) {
  FileMove move;
  move.folders = folders;
  move.name = std::move(name);
  move.hasIncoming = false;
  return move;
}

bool StagePackage(const std::u16string& zipPath, const MoveFolders& top, const std::u16string& folderName,
                  std::vector<FileMove>* moves) {
  const auto topFolders = std::make_shared<const MoveFolders>(top);
  const auto folders = std::make_shared<const MoveFolders>(MoveFolders{
      top.incoming + folderName + u"\\", top.installed + folderName + u"\\", top.retired + folderName + u"\\"});
  // Files left by an interrupted run must not slip into this package.
  platform::DeleteDirectoryTree(folders->incoming);
  platform::CreateDirectoryChain(folders->incoming);
  if (!archive::UnzipPackage(zipPath, folders->incoming)) return false;

  std::vector<Entry> entries;
  StagedNames staged;
  ListStaged(folders->incoming, u"", [&](Entry entry) {
    staged.Add(entry.name, entry.isFolder);
    entries.push_back(std::move(entry));
  });
  staged.Sort();

  // A package folder that is a link, or a file, is an item of its own: it
  // goes aside whole, and nothing is looked for or written through it. An
  // empty package leaves no folder.
  const std::u16string installedFolder = top.installed + folderName;
  if (platform::GetPathAttributes(installedFolder, nullptr)) {
    if (!layout::IsRealFolder(installedFolder) || entries.empty()) {
      moves->push_back(Retiring(topFolders, folderName));
    } else {
      // Retired before anything is placed, so that a file where a folder
      // was, or a folder where a file was, finds its name free.
      RetireWhatThePackageLacks(folders->installed, u"", staged,
                                [&](std::u16string name) { moves->push_back(Retiring(folders, std::move(name))); });
    }
  }
  for (Entry& entry : entries) {
    // An empty folder the installation has already stays as it is.
    if (entry.isFolder && layout::IsRealFolder(folders->installed + entry.name)) continue;
    FileMove move;
    move.folders = folders;
    move.name = std::move(entry.name);
    move.keepsOwnPermissions = true;
    move.isFolder = entry.isFolder;
    moves->push_back(std::move(move));
  }
  return true;
}

}  // namespace velmora::driver
