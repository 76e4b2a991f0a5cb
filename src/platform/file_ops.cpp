// Moves installed files aside and new ones into place, removes folder trees and checks sizes.
#include "platform/file_ops.h"

#include "platform/encoding.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace velmora::platform {
namespace {

// The attribute bit of a link or junction in the word of GetPathAttributes.
constexpr std::uint32_t kAttributeReparsePoint = 0x400;

}  // namespace

bool ReplaceInstalledFile(const std::u16string& retiredPath, const std::u16string& installedPath,
                          const std::u16string& newPath) {
  bool hadInstalled = false;
  return PlaceFile(retiredPath, installedPath, newPath, &hadInstalled);
}

bool PlaceFile(const std::u16string& retired, const std::u16string& installed,
               const std::u16string& incoming, bool* hadInstalled, bool keepOwnPermissions) {
  // A copy retired by an earlier update of the same file makes room first.
  RemoveFile(retired);
  CreateDirectoryChain(retired);

  std::uint32_t attributes = 0;
  *hadInstalled = GetPathAttributes(installed, &attributes);
  bool nameFreed = false;
  if (*hadInstalled) {
    // The installed content must be safe at the retired location before the
    // new file takes the name; if it cannot be (locked, or no retire folder),
    // the new file must not overwrite it.
    if (!SetAsideInstalledFile(installed, retired, &nameFreed)) return false;
    if (!keepOwnPermissions) TakeOverPermissions(retired, incoming);
  }

  // An installed file had its folder; only a new one may need folders made.
  if (!*hadInstalled) CreateDirectoryChain(installed);
  if (MoveFileReplacing(incoming, installed)) return true;

  // The new file did not arrive: put the installed one back where it was,
  // or drop the link that kept a copy of it.
  if (nameFreed) {
    MoveFileReplacing(retired, installed);
  } else if (*hadInstalled) {
    RemoveFile(retired);
  }
  return false;
}

bool RestoreFile(const std::u16string& retired, const std::u16string& installed, bool hadInstalled) {
  if (hadInstalled) return MoveFileReplacing(retired, installed);
  std::uint32_t attributes = 0;
  return RemoveFile(installed) || !GetPathAttributes(installed, &attributes);
}

bool RetireFile(const std::u16string& retired, const std::u16string& installed) {
  RemoveFile(retired);
  CreateDirectoryChain(retired);
  return MoveFileReplacing(installed, retired);
}

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

bool ReplaceFileContent(const std::u16string& path, const std::string& content) {
  const std::u16string temporary = path + u".tmp";
  WritableFile file;
  const bool written = file.Create(temporary, 0, 0) &&
                       file.Write(content.data(), static_cast<std::uint32_t>(content.size())) && file.Close();
  if (!written || !FlushFileToDisk(temporary) || !MoveFileReplacing(temporary, path)) {
    RemoveFile(temporary);
    return false;
  }
  return true;
}

bool CheckFileSize(const std::u16string& path, std::uint64_t expectedSize) {
  std::uint64_t size = 0;
  if (!ReadFileSize(path, &size)) return false;
  return expectedSize == 0 || size == expectedSize;
}

}  // namespace velmora::platform
