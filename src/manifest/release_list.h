// The update list of a release as the publisher's tool writes it.
#pragma once

#include <string>
#include <vector>

#include "manifest/update_list.h"

namespace velmora::manifest {

// Everything a published list says.
struct ReleaseList {
  std::string lastUpdateTime;  // "YYYY-MM-DD hh:mm"
  std::string version;
  std::string entryPoint;
  FileTable files;
};

// The list document (UTF-8): root Velmorar with Updater/LastUpdateTime,
// Application/Version and EntryPoint, and one File element per entry in the
// table's byte-wise order, attributes in the order Ver, Name, Size, Sha256
// (the hash only when the entry has one).
std::string ReleaseListText(const ReleaseList& list);

}  // namespace velmora::manifest
