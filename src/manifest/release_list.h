// The update list of a release as the publisher's tool writes it, and the raw names a list holds.
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

// The name attribute (the second) of every entry of the list at `path` as
// written, safe or not, in document order; entries are found as
// ReadUpdateList finds them. Empty when the document or Files is missing.
std::vector<std::string> ReadListNames(const std::u16string& path);

}  // namespace velmora::manifest
