// Unpacks a downloaded zip package into a folder.
#pragma once

#include <string>

namespace velmora::archive {

// Extracts every entry of the package `zipPath` into `folder`, in archive
// order, creating the folder and its subfolders.
// True when every entry was extracted. Stops at the first entry that fails
// (files written before it stay); false before creating anything when the
// package cannot be opened. Nothing is written outside `folder`.
bool UnzipPackage(const std::u16string& zipPath, const std::u16string& folder);

}  // namespace velmora::archive
