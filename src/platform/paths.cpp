// Folder chains and separator clean-up, the same on every platform.
#include "platform/paths.h"

#include "platform/file_system.h"

namespace velmora::platform {

void CreateDirectoryChain(const std::u16string& path) {
  for (std::u16string::size_type position = 3; position < path.size(); ++position) {
    if (path[position] != u'\\' && path[position] != u'/') continue;
    const std::u16string folder = path.substr(0, position);
    std::uint32_t attributes = 0;
    if (!GetPathAttributes(folder, &attributes)) CreateFolder(folder);
  }
}

void ReplaceAll(std::string& target, std::string search, std::string replacement) {
  if (search.empty()) return;
  std::string::size_type position = target.find(search);
  while (position != std::string::npos) {
    target.replace(position, search.size(), replacement);
    position = target.find(search, position + replacement.size());
  }
}

}  // namespace velmora::platform
