// Writes deterministic zip packages with minizip's zip writer.
#include "archive/package_writer.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <zip.h>
#include <zlib.h>

#include "archive/zip_reader.h"
#include "platform/encoding.h"
#include "platform/file_system.h"

namespace velmora::archive {
namespace {

struct ZipClose {
  void operator()(zipFile zip) const { zipClose(zip, nullptr); }
};
using ZipHandle = std::unique_ptr<void, ZipClose>;

constexpr std::int64_t kFileTimeUnitsPerSecond = 10000000;
constexpr std::int64_t kSeconds1601To1970 = 11644473600LL;
// "Version made by": zip 2.0 on an MS-DOS host, so the attribute word below
// is read as Windows attributes and no Unix mode travels.
constexpr uLong kVersionMadeBy = 20;
constexpr std::int64_t kMinimumDosSeconds = 315532800;  // 1980-01-01 00:00:00 UTC
constexpr std::int64_t kMaximumTimestamp = 0x7FFFFFFF;  // the extended timestamp is 32-bit signed

std::int64_t UnixSeconds(std::uint64_t fileTime) {
  return static_cast<std::int64_t>(fileTime / kFileTimeUnitsPerSecond) - kSeconds1601To1970;
}

// The UTC calendar date and time of `seconds` since 1970 as an MS-DOS stamp,
// clamped to the years the stamp can hold (1980-2107).
uLong DosStamp(std::int64_t seconds) {
  seconds = std::clamp<std::int64_t>(seconds, kMinimumDosSeconds, 4354819199LL);
  const std::int64_t days = seconds / 86400;
  const std::int64_t inDay = seconds % 86400;
  // Days to civil date (proleptic Gregorian), after H. Hinnant's algorithm.
  const std::int64_t z = days + 719468;
  const std::int64_t era = z / 146097;
  const std::int64_t dayOfEra = z - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t mp = (5 * dayOfYear + 2) / 153;
  const std::int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  const auto date = static_cast<uLong>(((year - 1980) << 9) | (month << 5) | day);
  const auto time = static_cast<uLong>(((inDay / 3600) << 11) | (((inDay / 60) % 60) << 5) | ((inDay % 60) / 2));
  return (date << 16) | time;
}

// An extended-timestamp block holding the modification time alone; the same
// block serves the local header and the central directory.
std::string TimestampField(std::int64_t seconds) {
  const auto value = static_cast<std::uint32_t>(std::clamp<std::int64_t>(seconds, 0, kMaximumTimestamp));
  std::string field = {'U', 'T', 5, 0, 1};
  for (int shift = 0; shift < 32; shift += 8) field += static_cast<char>((value >> shift) & 0xFF);
  return field;
}

// `buffer` is shared by all entries: allocating it per entry costs a trip to
// the system for each of thousands of small files.
bool AddEntry(zipFile zip, const PackageSource& source, std::vector<unsigned char>& buffer) {
  std::uint64_t size = 0;
  if (!platform::ReadFileSize(source.path, &size)) return false;
  platform::ReadableFile file;
  if (!file.Open(source.path)) return false;

  std::u16string name = source.entryName;
  std::replace(name.begin(), name.end(), u'\\', u'/');
  const std::int64_t seconds = UnixSeconds(source.writeTime);
  const std::string extra = TimestampField(seconds);
  zip_fileinfo info{};
  info.dosDate = DosStamp(seconds);
  info.external_fa = kAttributeArchive;
  const int zip64 = size >= 0xFFFFFFFFULL ? 1 : 0;
  if (zipOpenNewFileInZip4_64(zip, platform::WideToAnsi(name).c_str(), &info, extra.data(),
                              static_cast<uInt>(extra.size()), extra.data(), static_cast<uInt>(extra.size()),
                              nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                              Z_DEFAULT_STRATEGY, nullptr, 0, kVersionMadeBy, 0, zip64) != ZIP_OK) {
    return false;
  }
  bool ok = true;
  for (;;) {
    std::uint32_t read = 0;
    if (!file.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()), &read)) {
      ok = false;
      break;
    }
    if (read == 0) break;
    if (zipWriteInFileInZip(zip, buffer.data(), read) != ZIP_OK) {
      ok = false;
      break;
    }
  }
  return zipCloseFileInZip(zip) == ZIP_OK && ok;
}

// minizip's stdio functions, except that the archive is opened from its wide
// path by the platform: minizip itself would take a narrow one.
voidpf OpenWide(voidpf /*opaque*/, const void* filename, int /*mode*/) {
  return platform::OpenForBinaryWrite(*static_cast<const std::u16string*>(filename));
}

}  // namespace

bool WritePackage(const std::u16string& zipPath, std::vector<PackageSource> files) {
  for (PackageSource& source : files) std::replace(source.entryName.begin(), source.entryName.end(), u'\\', u'/');
  std::sort(files.begin(), files.end(),
            [](const PackageSource& a, const PackageSource& b) { return a.entryName < b.entryName; });
  zlib_filefunc64_def functions;
  fill_fopen64_filefunc(&functions);
  functions.zopen64_file = OpenWide;
  ZipHandle zip(zipOpen2_64(&zipPath, APPEND_STATUS_CREATE, nullptr, &functions));
  if (zip == nullptr) return false;
  std::vector<unsigned char> buffer(256 * 1024);
  for (const PackageSource& source : files) {
    if (!AddEntry(zip.get(), source, buffer)) return false;
  }
  // zipClose writes the central directory; its result decides.
  return zipClose(zip.release(), nullptr) == ZIP_OK;
}

}  // namespace velmora::archive
