// Collects the files of an application folder that make up a release, and refuses what the updater would refuse.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/package_writer.h"
#include "manifest/update_list.h"

namespace velmora::publisher {

// What a command has to tell the publisher: warnings are printed and the work
// goes on; any error means the command failed.
struct Messages {
  std::vector<std::string> warnings;
  std::vector<std::string> errors;
};

// One entry of the release: a file of the application folder, or a package
// made from one of its folders.
struct ReleaseFile {
  std::string name;    // the list name (UTF-8, "\" separators); FOLDER.zip for a package
  std::u16string path;  // the file in the application folder; empty for a package
  std::uint64_t writeTime = 0;
  std::vector<archive::PackageSource> packageFiles;  // a package's files, names relative to its folder
  bool isPackage = false;
};

// Lists every file below `folder` and turns each `packages` folder (relative,
// either separator) into one package entry. Top-level names of the updater's
// own paths are left out with a warning. Errors, each naming the file: a
// link, a name the update list may not carry or a package may not hold, two
// names that differ only in letter case, a package folder that is missing,
// empty, inside another package or also listed as files. `*files` receives
// the entries sorted by name, errors or not; true without errors.
bool CollectReleaseFiles(const std::u16string& folder, const std::vector<std::string>& packages,
                         std::vector<ReleaseFile>* files, Messages* messages);

// The folder a package entry "FOLDER.zip" unpacks into: "FOLDER".
std::string PackageFolderOf(const std::string& packageName);

// The whole content of the file at `path`; false, leaving `*content`
// untouched, when it cannot be opened or read.
bool ReadWholeFile(const std::u16string& path, std::string* content);

// Reads the update list file at `path` as the updater reads a remote list:
// its entries, its entry point and (when given) its application version.
// False when the file cannot be read, is not XML or does not read as a list.
bool ReadListFile(const std::u16string& path, manifest::FileTable* table, std::string* entryPoint,
                  std::string* version = nullptr);

// `name` with every letter A-Z made lower case, as the updater compares names
// for a case-insensitive file system.
std::string FoldCase(std::string name);

}  // namespace velmora::publisher
