// Folder chains and separator clean-up, the same on every platform.
#include "platform/paths.h"

#include <vector>

#include "platform/file_system.h"

namespace velmora::platform {

namespace {

// A separator before this index would end a drive root ("C:\\").
constexpr std::u16string::size_type kFirstSeparator = 3;

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// The last separator of path[0, end) at kFirstSeparator or later, or npos.
std::u16string::size_type SeparatorBefore(const std::u16string& path, std::u16string::size_type end) {
  while (end > kFirstSeparator) {
    if (IsSeparator(path[--end])) return end;
  }
  return std::u16string::npos;
}

}  // namespace

void CreateDirectoryChain(const std::u16string& path) {
  // The files of one run share their folders: the walk goes outward only
  // until a folder exists, usually the first one looked at.
  std::vector<std::u16string::size_type> missing;  // innermost first
  for (auto end = SeparatorBefore(path, path.size()); end != std::u16string::npos; end = SeparatorBefore(path, end)) {
    std::uint32_t attributes = 0;
    if (GetPathAttributes(path.substr(0, end), &attributes)) break;
    missing.push_back(end);
  }
  for (auto end = missing.rbegin(); end != missing.rend(); ++end) CreateFolder(path.substr(0, *end));
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
