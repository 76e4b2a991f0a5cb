// Tells whether a name from an update list stays inside the installation folder.
#include "manifest/safe_name.h"

#include <cstddef>

namespace velmora::manifest {

bool IsSafeListName(const std::string& name) {
  if (name.empty()) return false;
  if (name.front() == '\\' || name.front() == '/') return false;
  if (name.find(':') != std::string::npos) return false;
  std::size_t begin = 0;
  while (begin <= name.size()) {
    std::size_t end = name.find_first_of("\\/", begin);
    if (end == std::string::npos) end = name.size();
    if (name.compare(begin, end - begin, "..") == 0) return false;
    begin = end + 1;
  }
  return true;
}

}  // namespace velmora::manifest
