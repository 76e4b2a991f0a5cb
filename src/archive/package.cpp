// Extracts a package entry by entry with ZipReader.
#include "archive/package.h"

#include "archive/zip_reader.h"

namespace velmora::archive {

bool UnzipPackage(const std::u16string& widePath, const std::u16string& wideFolder) {
  ZipResult result = ZipOk;
  std::unique_ptr<ZipReader> reader = ZipReader::Open(widePath, &result);
  if (!reader) return false;
  if (reader->SetTargetFolder(wideFolder) != ZipOk) return false;

  ZipEntryInfo entry;
  if (reader->GetEntry(-1, &entry) != ZipOk) return false;
  const std::int32_t count = entry.index;
  for (std::int32_t i = 0; i < count; ++i) {
    entry.index = 0;
    entry.name.clear();
    entry.uncompressedSize = 0;
    // An entry that cannot be described has no trustworthy name or
    // attributes: the unpacking ends there.
    if (reader->GetEntry(i, &entry) != ZipOk) return false;
    if (reader->ExtractEntry(i, entry.name) != ZipOk) return false;
  }
  reader->Close();
  return true;
}

}  // namespace velmora::archive
