// File and folder names that differ between Windows and POSIX.
#pragma once

#include <string>

namespace velmora::platform {

// The updater's own executable name, and the update-list key that selects a
// self-update: "Velmora.exe" on Windows, "Velmora" on POSIX.
extern const char UpdaterFileName[];

// The updater's own paths in its installation folder.
inline constexpr char16_t DownloadFolderName[] = u"temp";
inline constexpr char16_t LogFolderName[] = u"log";
inline constexpr char16_t CrashFolderName[] = u"Error";
inline constexpr char16_t LocalListFileName[] = u"UpdateList.xml";
inline constexpr char16_t UpdateKeyFileName[] = u"UpdateKey.pub";
// Beside the local list: the signing time of the last list applied.
inline constexpr char16_t ListTimestampFileName[] = u"UpdateList.timestamp";
// Beside the local list: the ETag and Last-Modified of the last list applied.
inline constexpr char16_t ListValidatorsFileName[] = u"UpdateList.validators";
// Inside the download folder, beside the downloads (which keep their list
// names): where packages are unpacked before they are installed, and the
// journal of the files in flight while a run puts files in place.
inline constexpr char16_t StagingFolderName[] = u".staging";
inline constexpr char16_t JournalFileName[] = u".journal";

// The folder installed files are moved aside into, on the installation's own
// volume: the drive letter of installDir + ":\RECYCLER\" on Windows,
// installDir + ".RECYCLER\" on POSIX. installDir ends with a separator.
std::u16string RetireFolderFor(const std::u16string& installDir);

}  // namespace velmora::platform
