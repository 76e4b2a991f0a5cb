// Builds a release folder: the application's files, its packages and the update list that names them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "publisher/release_files.h"

namespace velmora::publisher {

struct BuildOptions {
  std::u16string from;        // the application folder
  std::string version;        // the release's version
  std::string entryPoint;     // the program the updater starts, relative to `from`
  std::u16string previous;    // the last published list; empty for none
  std::vector<std::u16string> deltaFrom;  // older release folders to write patches from
  int zstdLevel = 19;         // for the zstd copies and patches; 0: none are written
  std::vector<std::string> packages;  // folders of `from` shipped as FOLDER.zip
  std::vector<std::string> allowedFiles;  // names relative to `from` that may look like secret keys
  std::u16string out;         // the release folder; missing or empty
};

// What the release changes for an installation of the previous one.
struct BuildSummary {
  std::size_t newEntries = 0;
  std::size_t changedEntries = 0;
  std::size_t unchangedEntries = 0;
  std::size_t droppedEntries = 0;
  std::uint64_t downloadBytes = 0;  // the sizes of the new and changed entries
  std::uint64_t transferBytes = 0;  // the same taking the zstd copy or patch where smaller
  std::uint64_t releaseBytes = 0;   // the sizes of all entries
};

// Copies every file of the release into `out` (packages zipped there), writes
// the zstd copies and the patches from the previous release's folder and from
// `deltaFrom` (see WriteCompressedFiles), and writes `out`/UpdateList.xml. An
// entry whose Sha256 equals the previous list's keeps its Ver; every other
// entry gets `version`. A file that is, or
// is named like, a minisign secret key is refused unless allowed. False with
// errors in `messages` when the release is refused or a file cannot be read or
// written; whatever was written to `out` then stays.
bool BuildRelease(const BuildOptions& options, BuildSummary* summary, Messages* messages);

}  // namespace velmora::publisher
