// Puts one new file in place of an installed one, keeping the installed one aside, and undoes that.
#include "layout/placement.h"

#include <cstdint>

#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace velmora::layout {
namespace {

// Bits of the attribute word of GetPathAttributes.
constexpr std::uint32_t kAttributeDirectory = 0x10;
constexpr std::uint32_t kAttributeReparsePoint = 0x400;

}  // namespace

bool PlaceFile(const std::u16string& retired, const std::u16string& installed, const std::u16string& incoming,
               bool* hadInstalled, bool keepOwnPermissions) {
  // A copy retired by an earlier update of the same file makes room first.
  platform::RemoveFile(retired);
  platform::CreateDirectoryChain(retired);

  std::uint32_t attributes = 0;
  *hadInstalled = platform::GetPathAttributes(installed, &attributes);
  bool nameFreed = false;
  if (*hadInstalled) {
    // The installed content must be safe at the retired location before the
    // new file takes the name; if it cannot be (locked, or no retire folder),
    // the new file must not overwrite it.
    if (!platform::SetAsideInstalledFile(installed, retired, &nameFreed)) return false;
    if (!keepOwnPermissions) platform::TakeOverPermissions(retired, incoming);
  }

  // An installed file had its folder; only a new one may need folders made.
  if (!*hadInstalled) platform::CreateDirectoryChain(installed);
  if (platform::MoveFileReplacing(incoming, installed)) return true;

  // The new file did not arrive: put the installed one back where it was,
  // or drop the link that kept a copy of it.
  if (nameFreed) {
    platform::MoveFileReplacing(retired, installed);
  } else if (*hadInstalled) {
    platform::RemoveFile(retired);
  }
  return false;
}

bool RestoreFile(const std::u16string& retired, const std::u16string& installed, bool hadInstalled) {
  if (!hadInstalled) return RemoveItem(installed) || !platform::GetPathAttributes(installed, nullptr);
  if (platform::MoveFileReplacing(retired, installed)) return true;
  // The release made a folder of a file or a file of a folder: what the run
  // put at the name goes (a link as the link), then the retired item returns.
  return platform::GetPathAttributes(retired, nullptr) && RemoveItem(installed) &&
         platform::MoveFileReplacing(retired, installed);
}

bool RemoveItem(const std::u16string& path) {
  if (!platform::GetPathAttributes(path, nullptr)) return false;
  return IsRealFolder(path) ? platform::DeleteDirectoryTree(path)
                            : platform::RemoveFile(path) || platform::RemoveFolder(path);
}

bool IsRealFolder(const std::u16string& path) {
  std::uint32_t attributes = 0;
  return platform::GetPathAttributes(path, &attributes) && (attributes & kAttributeDirectory) != 0 &&
         (attributes & kAttributeReparsePoint) == 0;
}

bool IsLink(const std::u16string& path) {
  std::uint32_t attributes = 0;
  return platform::GetPathAttributes(path, &attributes) && (attributes & kAttributeReparsePoint) != 0;
}

bool RetireFile(const std::u16string& retired, const std::u16string& installed) {
  platform::RemoveFile(retired);
  platform::CreateDirectoryChain(retired);
  return platform::MoveFileReplacing(installed, retired);
}

}  // namespace velmora::layout
