// Turns the raw fields of a zip entry into its trimmed name, attribute word and file times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora::archive {

struct ZipEntryInfo;

// Drops drive prefixes, leading separators and everything up to a "\..\",
// "\../", "/../" or "/..\" (tried in that order), repeatedly, from the front.
// "a/b/../c.txt" becomes "c.txt"; "../x" is left as it is.
std::u16string TrimEntryName(const std::u16string& name);

// True for a name that must not be written: one the installation's name
// policy refuses (absolute, a drive, dots-only components, device names, ...).
// A trailing separator (a folder entry) is allowed.
bool IsUnsafeEntryName(const std::u16string& name);

// The Windows attribute word from the high byte of version-made-by and the
// external attributes: DOS bits for hosts 0, 7, 11 and 14, a Unix mode in the
// upper 16 bits for every other host. `*unixMode` gets that mode's permission
// bits (0777) for other hosts, 0 for the DOS ones.
std::uint32_t EntryAttributes(std::uint32_t versionMadeBy, std::uint32_t externalAttributes,
                              std::uint32_t* unixMode);

// True for an entry whose Unix mode (hosts other than the DOS ones) has the
// symbolic-link type.
bool IsUnixLinkEntry(std::uint32_t versionMadeBy, std::uint32_t externalAttributes);

// An MS-DOS date (upper 16 bits) and time (lower 16 bits), read as local time,
// as a UTC file time. False when the stamp is no valid time.
bool DosDateTimeToFileTime(std::uint32_t dosDateTime, std::uint64_t* fileTime);

// Seconds since 1970-01-01 UTC as a file time.
std::uint64_t UnixTimeToFileTime(std::int32_t seconds);

// Finds the "UT" extended-timestamp block in a local extra field and replaces
// the times it holds. Nothing beyond the block's data or the field is read.
void ApplyExtendedTimestamp(const unsigned char* field, std::size_t length, ZipEntryInfo* entry);

}  // namespace velmora::archive
