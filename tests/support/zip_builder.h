// Writes small zip archives for the tests, with full control over each entry's fields.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velmora::testing {

// The MS-DOS stamp of 2026-12-08 10:30:14.
constexpr std::uint32_t kDosStamp = 0x5D8853C7;

struct TestEntry {
  TestEntry(std::string entryName, std::string entryData = {}, std::uint32_t entryHost = 0,
            std::uint32_t attributes = 0)
      : name(std::move(entryName)), data(std::move(entryData)), host(entryHost),
        externalAttributes(attributes) {}
  TestEntry& Extra(std::string field) { localExtra = std::move(field); return *this; }
  TestEntry& Stored() { deflate = false; return *this; }
  TestEntry& Password(const char* text) { password = text; return *this; }

  std::string name;
  std::string data;
  std::uint32_t host = 0;                // high byte of version-made-by
  std::uint32_t externalAttributes = 0;
  std::uint32_t dosDate = kDosStamp;
  std::string localExtra;                // the local extra field, verbatim
  bool deflate = true;
  const char* password = nullptr;
};

// Writes the archive; false when minizip refuses something.
bool WriteZip(const std::string& path, const std::vector<TestEntry>& entries);

// A local extra block: tag, little-endian data size, data.
std::string ExtraBlock(const char tag[2], const std::string& data);
// An extended-timestamp ("UT") block with the flags and the given times.
std::string TimestampBlock(unsigned flags, const std::vector<std::int32_t>& times);

// A zip archive with stored (uncompressed) entries, made on a Unix host with
// mode 0644 for files; a name ending in "/" is a folder entry (mode 0755).
// Empty when minizip refuses the entries.
std::string MakeZip(const std::vector<std::pair<std::string, std::string>>& entries);

}  // namespace velmora::testing
