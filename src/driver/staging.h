// Unpacks a package beside the installation and plans the moves that install it.
#pragma once

#include <string>
#include <vector>

#include "driver/installation.h"

namespace velmora::driver {

// The folders of one package, each ending with a separator: where it is
// unpacked first (incoming), its folder in the installation, and where its
// replaced files are kept.
using PackageFolders = MoveFolders;

// Unpacks the package at `zipPath` completely into `folders.incoming` (emptied
// first) and appends the moves that make the installed package folder hold
// exactly the package: every unpacked file, and the retiring of every
// installed file the package no longer has (names compared ignoring ASCII
// case, as Windows does). False when the package does not unpack cleanly;
// nothing in the installation has changed then.
bool StagePackage(const std::u16string& zipPath, const PackageFolders& folders, std::vector<FileMove>* moves);

}  // namespace velmora::driver
