// Reads a zip package entry by entry and writes its files into a target folder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace velmora::archive {

// Result codes of the reader's operations; 0 is success.
enum ZipResult : std::uint32_t {
  ZipOk = 0,
  // The archive cannot be opened or is not a zip archive; or an output file
  // cannot be created (also for names that would leave the target folder).
  ZipCannotOpen = 0x200,
  ZipWriteFailed = 0x400,
  // An entry's local header does not agree with the central directory.
  ZipBadLocalHeader = 0x700,
  // A local extra field or a central-directory record cannot be read.
  ZipReadFailed = 0x800,
  // The entry is encrypted; only the empty password exists here.
  ZipPasswordMismatch = 0x1000,
  ZipBadArgument = 0x10000,
  // Entry data cannot be read or decompressed, ends early or fails its CRC.
  ZipInflateFailed = 0x5000000,
};

// File-attribute bits of ZipEntryInfo::attributes (the Windows word).
constexpr std::uint32_t kAttributeReadOnly = 0x01;
constexpr std::uint32_t kAttributeHidden = 0x02;
constexpr std::uint32_t kAttributeSystem = 0x04;
constexpr std::uint32_t kAttributeDirectory = 0x10;
constexpr std::uint32_t kAttributeArchive = 0x20;

// The description of one entry. For index -1, `index` holds the number of
// entries and everything else is empty.
struct ZipEntryInfo {
  std::int32_t index = 0;
  std::u16string name;  // trimmed; extraction refuses more than 259 units
  std::uint32_t attributes = 0;
  // Permission bits (0777) of an entry made on a Unix-like host, else 0.
  std::uint32_t unixMode = 0;
  // A symbolic link made on a Unix-like host: never extracted.
  bool isLink = false;
  // File times: 100 ns intervals since 1601-01-01 UTC.
  std::uint64_t accessTime = 0;
  std::uint64_t creationTime = 0;
  std::uint64_t writeTime = 0;
  std::uint32_t compressedSize = 0;
  std::uint32_t uncompressedSize = 0;
};

// One archive opened for extraction: used by one caller on one thread,
// entries visited in order. Destroying the reader closes it.
class ZipReader {
 public:
  // Opens the archive file (shared for reading) and reads its central
  // directory. Null with `*result` = ZipCannotOpen when the file is missing
  // or not a zip archive. The target folder starts as the current folder.
  static std::unique_ptr<ZipReader> Open(const std::u16string& path, ZipResult* result);

  ~ZipReader();
  ZipReader(const ZipReader&) = delete;
  ZipReader& operator=(const ZipReader&) = delete;

  // Sets the folder relative entry names are resolved against; a backslash is
  // appended when it ends with neither separator. ZipBadArgument (and no
  // change) when the folder does not fit in 259 units with its separator.
  ZipResult SetTargetFolder(const std::u16string& folder);

  // Describes entry `index` (0 to count-1), or with -1 gives the count in
  // `out->index`. The last description is cached. ZipBadArgument out of range;
  // ZipBadLocalHeader / ZipReadFailed when the entry cannot be described.
  ZipResult GetEntry(std::int32_t index, ZipEntryInfo* out);

  // Extracts entry `index` to the target folder under `name` (which decides
  // the place, not the archive's own name). A name that is absolute or has a
  // ".." component, or a target path over 259 units, gives ZipCannotOpen and
  // writes nothing. A failed file is left partly written.
  ZipResult ExtractEntry(std::int32_t index, const std::u16string& name);

  // Closes the entry data and the archive. Always ZipOk; the reader can do
  // nothing afterwards.
  ZipResult Close();

 private:
  struct State;
  explicit ZipReader(std::unique_ptr<State> state);
  ZipResult PositionOn(std::int32_t index);
  ZipResult DescribeCurrent(std::int32_t index, ZipEntryInfo* out);
  ZipResult CopyEntryData(const std::u16string& target, const ZipEntryInfo& entry);

  std::unique_ptr<State> state_;
};

}  // namespace velmora::archive
