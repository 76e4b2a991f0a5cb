// Name trimming, attribute words and time stamps of zip entries.
#include "archive/entry_description.h"

#include "archive/zip_reader.h"
#include "platform/clock.h"
#include "layout/name_policy.h"

namespace velmora::archive {
namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

std::uint32_t ReadLittle16(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8);
}

std::uint32_t ReadLittle32(const unsigned char* p) {
  return ReadLittle16(p) | (ReadLittle16(p + 2) << 16);
}


}  // namespace

std::u16string TrimEntryName(const std::u16string& name) {
  static const char16_t* const kParentSequences[] = {u"\\..\\", u"\\../", u"/../", u"/..\\"};
  std::size_t p = 0;
  for (;;) {
    if (p < name.size() && p + 1 < name.size() && name[p + 1] == u':') {
      p += 2;
      continue;
    }
    if (p < name.size() && IsSeparator(name[p])) {
      ++p;
      continue;
    }
    bool matched = false;
    for (const char16_t* sequence : kParentSequences) {
      const std::size_t found = name.find(sequence, p);
      if (found != std::u16string::npos) {
        p = found + 4;
        matched = true;
        break;
      }
    }
    if (!matched) break;
  }
  return name.substr(p);
}

bool IsUnsafeEntryName(const std::u16string& name) {
  // The same policy as for update-list names: a name Windows would store
  // otherwise, or one that leaves the target folder, is never written.
  return !layout::IsSafeRelativeName(name);
}

bool IsUnixLinkEntry(std::uint32_t versionMadeBy, std::uint32_t externalAttributes) {
  constexpr std::uint32_t kTypeMask = 0170000;
  constexpr std::uint32_t kTypeLink = 0120000;
  const std::uint32_t host = (versionMadeBy >> 8) & 0xFF;
  if (host == 0 || host == 7 || host == 11 || host == 14) return false;
  return ((externalAttributes >> 16) & kTypeMask) == kTypeLink;
}

std::uint32_t EntryAttributes(std::uint32_t versionMadeBy, std::uint32_t externalAttributes,
                              std::uint32_t* unixMode) {
  const std::uint32_t host = (versionMadeBy >> 8) & 0xFF;
  const std::uint32_t a = externalAttributes;
  bool readOnly, hidden, system, directory, archive;
  if (host == 0 || host == 7 || host == 11 || host == 14) {
    readOnly = (a & 0x01) != 0;
    hidden = (a & 0x02) != 0;
    system = (a & 0x04) != 0;
    directory = (a & 0x10) != 0;
    archive = (a & 0x20) != 0;
    *unixMode = 0;
  } else {
    // The upper 16 bits hold a Unix mode: 0040000 is the directory type,
    // 0200 the owner's write permission.
    directory = (a & (1u << 30)) != 0;
    readOnly = (a & (1u << 23)) == 0;
    hidden = false;
    system = false;
    archive = true;
    // Only the permission bits travel; set-id and sticky bits never do.
    *unixMode = (a >> 16) & 0777;
  }
  std::uint32_t attributes = 0;
  if (directory) attributes |= kAttributeDirectory;
  if (archive) attributes |= kAttributeArchive;
  if (hidden) attributes |= kAttributeHidden;
  if (readOnly) attributes |= kAttributeReadOnly;
  if (system) attributes |= kAttributeSystem;
  return attributes;
}

bool DosDateTimeToFileTime(std::uint32_t dosDateTime, std::uint64_t* fileTime) {
  const std::uint32_t date = dosDateTime >> 16;
  const std::uint32_t time = dosDateTime & 0xFFFF;
  platform::LocalTime local;
  local.year = static_cast<int>(1980 + (date >> 9));
  local.month = static_cast<int>((date >> 5) & 0x0F);
  local.day = static_cast<int>(date & 0x1F);
  local.hour = static_cast<int>(time >> 11);
  local.minute = static_cast<int>((time >> 5) & 0x3F);
  local.second = static_cast<int>(2 * (time & 0x1F));
  local.milliseconds = 0;
  return platform::LocalTimeToFileTime(local, fileTime);
}

std::uint64_t UnixTimeToFileTime(std::int32_t seconds) {
  const std::int64_t sinceEpoch1601 = static_cast<std::int64_t>(seconds) + 11644473600LL;
  return static_cast<std::uint64_t>(sinceEpoch1601) * 10000000ULL;
}

void ApplyExtendedTimestamp(const unsigned char* field, std::size_t length, ZipEntryInfo* entry) {
  if (field == nullptr || length < 5) return;
  std::size_t offset = 0;
  while (offset + 4 < length) {
    const std::size_t dataSize = ReadLittle16(field + offset + 2);
    if (field[offset] == 'U' && field[offset + 1] == 'T') {
      // Values are read only where both the block's own data and the field
      // still hold them.
      std::size_t dataEnd = offset + 4 + dataSize;
      if (dataEnd > length) dataEnd = length;
      std::size_t at = offset + 5;
      if (at > dataEnd) return;
      const unsigned flags = field[offset + 4];
      std::uint64_t* const targets[] = {&entry->writeTime, &entry->accessTime,
                                        &entry->creationTime};
      for (int bit = 0; bit < 3; ++bit) {
        if ((flags & (1u << bit)) == 0) continue;
        if (at + 4 > dataEnd) return;
        const auto seconds = static_cast<std::int32_t>(ReadLittle32(field + at));
        *targets[bit] = UnixTimeToFileTime(seconds);
        at += 4;
      }
      return;
    }
    offset += 4 + dataSize;
  }
}

}  // namespace velmora::archive
