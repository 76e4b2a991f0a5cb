// The files and folders the updater keeps in an installation for itself, named in one table.
#pragma once

#include <string>

namespace velmora::layout {

// The updater's executable, and the update-list key that selects a
// self-update: "Velmora.exe" on Windows, "Velmora" on POSIX (UTF-8).
std::string UpdaterFileName();

// True when a list name (one component) names the updater's executable as
// the installation's file system would: on Windows letter case does not
// count, so "velmora.exe" is the updater too.
bool IsUpdaterFileName(const std::u16string& name);

// The updater's own names at the top of its installation.
inline constexpr char16_t kDownloadFolderName[] = u"temp";
inline constexpr char16_t kLogFolderName[] = u"log";
inline constexpr char16_t kCrashFolderName[] = u"Error";
inline constexpr char16_t kRetireFolderName[] = u".RECYCLER";
inline constexpr char16_t kLocalListName[] = u"UpdateList.xml";
inline constexpr char16_t kUpdateKeyName[] = u"UpdateKey.pub";
inline constexpr char16_t kUpdateAuthorityName[] = u"UpdateCA.pem";
// The signing time of the last list applied.
inline constexpr char16_t kTimestampName[] = u"UpdateList.timestamp";
// The ETag and Last-Modified of the last list applied.
inline constexpr char16_t kValidatorsName[] = u"UpdateList.validators";
// What the last run did, for the host to read.
inline constexpr char16_t kStatusName[] = u"UpdateStatus.xml";
// Held locked while a run works on the installation.
inline constexpr char16_t kLockName[] = u"Velmora.lock";
// Inside the download folder: where packages are unpacked before they are
// installed, the journal of the files in flight, and partial downloads kept
// for the next run.
inline constexpr char16_t kStagingFolderName[] = u".staging";
inline constexpr char16_t kJournalName[] = u".journal";
inline constexpr char16_t kPartialFolderName[] = u"partial";
// At the top: the zip of each package as last installed, the base its next
// patch applies to.
inline constexpr char16_t kPackageBaseFolderName[] = u".packages";
// What an atomic save writes first and renames over the file.
inline constexpr char16_t kTemporaryEnding[] = u".tmp";

// Every path of the updater's own in one installation. Folders end with a
// separator; `installFolder` is the updater's own folder.
struct InstallationPaths {
  std::u16string installFolder;
  std::u16string downloadFolder;
  std::u16string stagingFolder;
  std::u16string partialFolder;
  std::u16string packageBaseFolder;
  std::u16string retireFolder;
  std::u16string journal;
  std::u16string localList;
  std::u16string validators;
  std::u16string timestamp;
  std::u16string status;
  std::u16string lock;
  std::u16string updateKey;
  std::u16string updateAuthority;
};

InstallationPaths PathsOf(const std::u16string& installFolder);

// The temporary an atomic save of `path` writes before it renames.
std::u16string TemporaryOf(const std::u16string& path);

// How a list may name one of the updater's own names.
enum class OwnName {
  kNone,        // not the updater's: any list may name it
  kUpdater,     // the updater's executable: the self-update
  kUpdateKey,   // the update key: only a signed list may replace it
  kReserved,    // never named by a list
};

// Which of the updater's own names `component` (the first component of a
// name, any letter case) is, temporaries of the saved files included.
OwnName ClassifyOwnName(const std::u16string& component);

// Removes the temporaries that a save cut short by a kill left beside the
// updater's files, so that none outlives the next run. Paths that cannot be
// removed stay for a later run.
void RemoveLeftTemporaries(const InstallationPaths& paths);

}  // namespace velmora::layout
