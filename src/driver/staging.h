// Unpacks a package beside the installation and plans the moves that install it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "driver/installation.h"

namespace velmora::driver {

// A move that only sets the installed item `name` aside (below `folders`).
FileMove Retiring(const std::shared_ptr<const MoveFolders>& folders, std::u16string name);

// Unpacks the package at `zipPath` completely into `top.incoming` +
// `folderName` (emptied first) and appends the moves that make the installed
// package folder (`top.installed` + `folderName`) hold exactly the package:
// its files and empty folders; the retiring of every installed file, link
// and folder the package no longer has, before anything is placed; and the
// retiring of the package folder itself where it is a link or a file, so
// that nothing is ever written through a link. A package with no entries
// retires its folder. Names are compared ignoring letter case, as Windows
// does. False when the package does not unpack cleanly; nothing in the
// installation has changed then.
bool StagePackage(const std::u16string& zipPath, const MoveFolders& top, const std::u16string& folderName,
                  std::vector<FileMove>* moves);

}  // namespace velmora::driver
