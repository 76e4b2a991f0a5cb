// Removes folder trees, reads small files whole and replaces them atomically.
#include "platform/file_ops.h"

#include "platform/encoding.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace velmora::platform {
namespace {

// The attribute bit of a link or junction in the word of GetPathAttributes.
constexpr std::uint32_t kAttributeReparsePoint = 0x400;

}  // namespace

bool DeleteDirectoryTree(std::u16string folder) {
  // A folder that is itself a link (or junction) goes as a link: searching
  // it would reach into whatever it points to.
  std::u16string bare = folder;
  while (bare.size() > 1 && (bare.back() == u'\\' || bare.back() == u'/')) bare.pop_back();
  std::uint32_t attributes = 0;
  if (GetPathAttributes(bare, &attributes) && (attributes & kAttributeReparsePoint) != 0) {
    return RemoveFolder(bare) || RemoveFile(bare);
  }
  {
    FolderSearch search;
    if (!search.Start(folder + u"\\*.*")) return false;
    // The search is closed at the end of this block, before the folder itself
    // is removed; the first entry is the one Start made current.
    do {
      const std::u16string& name = search.Name();
      const std::u16string path = folder + u"\\" + name;
      if (search.IsLink()) {
        // A link to a folder is removed as a folder link on Windows; never
        // descend into it.
        if (!RemoveFile(path)) RemoveFolder(path);
      } else if (search.IsFolder()) {
        if (name == u"." || name == u"..") continue;
        DeleteDirectoryTree(path);
      } else {
        RemoveFile(path);
      }
    } while (search.Next());
  }
  return RemoveFolder(folder);
}

bool ReadWholeFile(const std::u16string& path, std::uint64_t maxBytes, std::string* content) {
  constexpr std::uint32_t kChunk = 64 * 1024;
  ReadableFile file;
  if (!file.Open(path)) return false;
  content->clear();
  std::string buffer(kChunk, '\0');
  for (;;) {
    std::uint32_t got = 0;
    if (!file.Read(buffer.data(), kChunk, &got)) return false;
    if (got == 0) return true;
    if (content->size() + got > maxBytes) return false;
    content->append(buffer.data(), got);
  }
}

bool ReplaceFileContent(const std::u16string& path, const std::u16string& temporary, const std::string& content) {
  WritableFile file;
  const bool written = file.Create(temporary, 0, 0) &&
                       file.Write(content.data(), static_cast<std::uint32_t>(content.size())) && file.Close();
  if (written && GetPathAttributes(path, nullptr)) TakeOverPermissions(path, temporary);
  if (!written || !FlushFileToDisk(temporary) || !MoveFileReplacing(temporary, path)) {
    RemoveFile(temporary);
    return false;
  }
  return true;
}

}  // namespace velmora::platform
