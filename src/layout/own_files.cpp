// The files and folders the updater keeps in an installation for itself.
#include "layout/own_files.h"

#include "layout/name_policy.h"
#include "platform/encoding.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace velmora::layout {
namespace {

constexpr char16_t kUpdaterStem[] = u"Velmora";

// One name of the table: what a list may do with it, and whether the
// updater saves it atomically through a temporary beside it.
struct OwnEntry {
  const char16_t* name;
  OwnName kind;
  bool savedThroughTemporary;
};

// Every name the updater keeps at the top of an installation. The download
// folder holds the rest (staging, journal, partial downloads), so it is
// reserved whole.
constexpr OwnEntry kOwnEntries[] = {
    {kDownloadFolderName, OwnName::kReserved, false},
    {kLogFolderName, OwnName::kReserved, false},
    {kCrashFolderName, OwnName::kReserved, false},
    {kRetireFolderName, OwnName::kReserved, false},
    // The retire folder at the drive root of older Windows builds.
    {u"RECYCLER", OwnName::kReserved, false},
    {kLocalListName, OwnName::kReserved, true},
    {kUpdateKeyName, OwnName::kUpdateKey, true},
    {kUpdateAuthorityName, OwnName::kReserved, false},
    {kTimestampName, OwnName::kReserved, true},
    {kValidatorsName, OwnName::kReserved, true},
    {kStatusName, OwnName::kReserved, true},
    {kPackageBaseFolderName, OwnName::kReserved, false},
    {kLockName, OwnName::kReserved, false},
    // Kept inside the download folder, and never an installed name either.
    {kStagingFolderName, OwnName::kReserved, false},
    {kJournalName, OwnName::kReserved, false},
    {kPartialFolderName, OwnName::kReserved, false},
};

}  // namespace

std::string UpdaterFileName() { return platform::WideToUtf8(std::u16string(kUpdaterStem) + platform::kExecutableEnding); }

bool IsUpdaterFileName(const std::u16string& name) {
  const std::u16string updater = std::u16string(kUpdaterStem) + platform::kExecutableEnding;
  return platform::kNamesIgnoreCase ? EqualsIgnoringCase(name, updater) : name == updater;
}

InstallationPaths PathsOf(const std::u16string& installFolder) {
  InstallationPaths paths;
  paths.installFolder = installFolder;
  paths.downloadFolder = installFolder + kDownloadFolderName + u"\\";
  paths.stagingFolder = paths.downloadFolder + kStagingFolderName + u"\\";
  paths.partialFolder = paths.downloadFolder + kPartialFolderName + u"\\";
  paths.packageBaseFolder = installFolder + kPackageBaseFolderName + u"\\";
  paths.retireFolder = installFolder + kRetireFolderName + u"\\";
  paths.journal = paths.downloadFolder + kJournalName;
  paths.localList = installFolder + kLocalListName;
  paths.validators = installFolder + kValidatorsName;
  paths.timestamp = installFolder + kTimestampName;
  paths.status = installFolder + kStatusName;
  paths.lock = installFolder + kLockName;
  paths.updateKey = installFolder + kUpdateKeyName;
  paths.updateAuthority = installFolder + kUpdateAuthorityName;
  return paths;
}

std::u16string TemporaryOf(const std::u16string& path) { return path + kTemporaryEnding; }

OwnName ClassifyOwnName(const std::u16string& component) {
  for (const OwnEntry& entry : kOwnEntries) {
    if (EqualsIgnoringCase(component, entry.name)) return entry.kind;
    // A temporary is the updater's as much as the file it replaces.
    if (entry.savedThroughTemporary && EqualsIgnoringCase(component, TemporaryOf(entry.name))) {
      return OwnName::kReserved;
    }
  }
  return IsUpdaterFileName(component) ? OwnName::kUpdater : OwnName::kNone;
}

void RemoveLeftTemporaries(const InstallationPaths& paths) {
  for (const OwnEntry& entry : kOwnEntries) {
    if (entry.savedThroughTemporary) platform::RemoveFile(TemporaryOf(paths.installFolder + entry.name));
  }
  platform::RemoveFile(TemporaryOf(paths.journal));
}

}  // namespace velmora::layout
