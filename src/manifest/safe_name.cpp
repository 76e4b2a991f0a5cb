// Tells whether a name from an update list may be installed.
#include "manifest/safe_name.h"

#include "layout/name_policy.h"
#include "layout/own_files.h"
#include "platform/encoding.h"

namespace velmora::manifest {
namespace {

constexpr char kPackageEnding[] = ".zip";
constexpr std::size_t kPackageEndingLength = sizeof(kPackageEnding) - 1;

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// A name that stays inside the installation and stays out of the updater's
// own paths; `mayBeUpdater` lets the updater's executable and the update key
// name themselves (each is checked again where it is used).
bool IsSafeInstallName(const std::u16string& name, bool mayBeOwnFile) {
  if (!layout::IsSafeRelativeName(name) || IsSeparator(name.back())) return false;
  std::size_t end = 0;
  while (end < name.size() && !IsSeparator(name[end])) ++end;
  switch (layout::ClassifyOwnName(name.substr(0, end))) {
    case layout::OwnName::kNone: return true;
    case layout::OwnName::kReserved: return false;
    case layout::OwnName::kUpdater:
    case layout::OwnName::kUpdateKey: return mayBeOwnFile && end == name.size();
  }
  return false;
}

}  // namespace

bool IsPackageName(const std::string& name) {
  return name.size() >= kPackageEndingLength &&
         name.compare(name.size() - kPackageEndingLength, kPackageEndingLength, kPackageEnding) == 0;
}

bool IsSafeListName(const std::string& name) {
  const std::u16string wide = platform::Utf8ToWide(name);
  if (!IsSafeInstallName(wide, true)) return false;
  if (!IsPackageName(name)) return true;
  const std::u16string folder = wide.substr(0, wide.size() - kPackageEndingLength);
  return !folder.empty() && IsSafeInstallName(folder, false);
}

}  // namespace velmora::manifest
