// Tells whether a name from an update list may be installed.
#include "manifest/safe_name.h"

#include "platform/encoding.h"
#include "platform/name_policy.h"
#include "platform/names.h"

namespace velmora::manifest {
namespace {

constexpr char kPackageEnding[] = ".zip";
constexpr std::size_t kPackageEndingLength = sizeof(kPackageEnding) - 1;

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// A name that stays inside the installation and stays out of the updater's
// own paths; `mayBeUpdater` lets the updater's executable name itself.
bool IsSafeInstallName(const std::u16string& name, bool mayBeUpdater) {
  if (!platform::IsSafeRelativeName(name) || IsSeparator(name.back())) return false;
  std::size_t end = 0;
  while (end < name.size() && !IsSeparator(name[end])) ++end;
  const std::u16string first = name.substr(0, end);
  if (!platform::IsUpdaterOwnName(first)) return true;
  return mayBeUpdater && end == name.size() && first == platform::Utf8ToWide(platform::UpdaterFileName);
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
