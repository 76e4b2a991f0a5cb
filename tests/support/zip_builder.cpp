// Writes test archives with minizip's zip writer.
#include "support/zip_builder.h"

#include <zip.h>
#include <zlib.h>

#include "support/file_support.h"

namespace velmora::testing {

bool WriteZip(const std::string& path, const std::vector<TestEntry>& entries) {
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (zip == nullptr) return false;
  bool ok = true;
  for (const TestEntry& entry : entries) {
    zip_fileinfo info{};
    info.dosDate = entry.dosDate;
    info.external_fa = entry.externalAttributes;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()),
                            static_cast<uInt>(entry.data.size()));
    const int opened = zipOpenNewFileInZip4_64(
        zip, entry.name.c_str(), &info,
        entry.localExtra.empty() ? nullptr : entry.localExtra.data(),
        static_cast<uInt>(entry.localExtra.size()), nullptr, 0, nullptr,
        entry.deflate ? Z_DEFLATED : 0, Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL,
        Z_DEFAULT_STRATEGY, entry.password, crc, (entry.host << 8) | 20, 0, 0);
    if (opened != ZIP_OK) {
      ok = false;
      break;
    }
    if (!entry.data.empty() &&
        zipWriteInFileInZip(zip, entry.data.data(), static_cast<unsigned>(entry.data.size())) !=
            ZIP_OK) {
      ok = false;
    }
    if (zipCloseFileInZip(zip) != ZIP_OK) ok = false;
  }
  if (zipClose(zip, nullptr) != ZIP_OK) ok = false;
  return ok;
}

std::string ExtraBlock(const char tag[2], const std::string& data) {
  std::string block(tag, 2);
  block += static_cast<char>(data.size() & 0xFF);
  block += static_cast<char>((data.size() >> 8) & 0xFF);
  return block + data;
}

std::string TimestampBlock(unsigned flags, const std::vector<std::int32_t>& times) {
  std::string data(1, static_cast<char>(flags));
  for (std::int32_t t : times) {
    const auto u = static_cast<std::uint32_t>(t);
    for (int shift = 0; shift < 32; shift += 8) data += static_cast<char>((u >> shift) & 0xFF);
  }
  return ExtraBlock("UT", data);
}

std::string MakeZip(const std::vector<std::pair<std::string, std::string>>& entries) {
  constexpr std::uint32_t kUnixHost = 3;
  std::vector<TestEntry> zipEntries;
  for (const auto& [name, content] : entries) {
    const bool isFolder = !name.empty() && name.back() == '/';
    // The mode sits in the high half of the attributes; 0x10 is the DOS folder bit.
    const std::uint32_t attributes = isFolder ? (040755u << 16) | 0x10u : 0100644u << 16;
    zipEntries.push_back(TestEntry(name, content, kUnixHost, attributes).Stored());
  }
  const std::string folder = MakeTempFolder("velmora-zip");
  const std::string path = folder + "/package.zip";
  const std::string archive = WriteZip(path, zipEntries) ? ReadFile(path) : std::string();
  RemoveTree(folder);
  return archive;
}

}  // namespace velmora::testing
