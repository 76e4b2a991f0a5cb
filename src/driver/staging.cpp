// Unpacks a package beside the installation and plans the moves that install it.
#include "driver/staging.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <utility>

#include "archive/package.h"
#include "platform/encoding.h"
#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace velmora::driver {
namespace {

// Hands every file below `folder` (links as files, never entered) to
// `take`, as a name relative to it with "\\" separators. The names go
// straight to their use: a package holds thousands.
void ListFilesBelow(const std::u16string& folder, const std::u16string& prefix,
                    const std::function<void(std::u16string)>& take) {
  platform::FolderSearch search;
  if (!search.Start(folder + prefix + u"*.*")) return;
  do {
    const std::u16string& name = search.Name();
    if (search.IsFolder() && !search.IsLink()) {
      if (name != u"." && name != u"..") ListFilesBelow(folder, prefix + name + u"\\", take);
    } else {
      take(prefix + name);
    }
  } while (search.Next());
}

std::u16string FoldCase(std::u16string name) {
  for (char16_t& c : name) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return name;
}

}  // namespace

bool StagePackage(const std::u16string& zipPath, const PackageFolders& folders, std::vector<FileMove>* moves) {
  // Files left by an interrupted run must not slip into this package.
  platform::DeleteDirectoryTree(folders.incoming);
  platform::CreateDirectoryChain(folders.incoming);
  if (!archive::UnzipPackage(zipPath, folders.incoming)) return false;

  // Sorted once, searched per installed file: a set would cost a tree node
  // per name on top of it.
  std::vector<std::u16string> stagedNames;
  const auto shared = std::make_shared<const MoveFolders>(folders);
  ListFilesBelow(folders.incoming, u"", [&](std::u16string name) {
    stagedNames.push_back(FoldCase(name));
    FileMove move;
    move.folders = shared;
    move.name = std::move(name);
    move.keepsOwnPermissions = true;
    moves->push_back(std::move(move));
  });
  std::sort(stagedNames.begin(), stagedNames.end());
  ListFilesBelow(folders.installed, u"", [&](std::u16string name) {
    if (std::binary_search(stagedNames.begin(), stagedNames.end(), FoldCase(name))) return;
    FileMove move;
    move.folders = shared;
    move.name = std::move(name);
    move.hasIncoming = false;
    moves->push_back(std::move(move));
  });
  return true;
}

}  // namespace velmora::driver
