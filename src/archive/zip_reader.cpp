// Walks a zip archive with minizip and writes its entries through the platform's files.
#include "archive/zip_reader.h"

#include <limits>
#include <vector>

#include <unzip.h>

#include "archive/entry_description.h"
#include "archive/zip_stream.h"
#include "platform/encoding.h"
#include "platform/file_system.h"

namespace velmora::archive {
namespace {

constexpr std::uint32_t kCopyBufferSize = 16384;
// Names and paths end with a terminator in a 260-unit buffer on Windows.
constexpr std::size_t kMaxPathUnits = 259;
constexpr unsigned long kFlagEncrypted = 0x01;
constexpr int kMethodStored = 0;
constexpr int kMethodDeflated = 8;

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

struct ArchiveCloser {
  void operator()(void* archive) const { unzClose(static_cast<unzFile>(archive)); }
};
using ArchiveHandle = std::unique_ptr<void, ArchiveCloser>;

bool PathExists(const std::u16string& path) {
  std::uint32_t attributes = 0;
  return platform::GetPathAttributes(path, &attributes);
}

// Creates `base` and then every folder level of `path` under it, outer to
// inner; failures show later, when a file in them cannot be created. True
// when the whole path exists afterwards.
bool EnsureFolders(const std::u16string& base, const std::u16string& path) {
  if (base.size() <= kMaxPathUnits && !PathExists(base)) platform::CreateFolder(base);
  if (path.empty()) return PathExists(base);
  // Outer levels first: every prefix ending before a separator, then the
  // whole path.
  std::size_t end = 0;
  for (;;) {
    std::size_t next = end;
    while (next < path.size() && !IsSeparator(path[next])) ++next;
    if (next > 0 && next < path.size()) {
      const std::u16string level = base + path.substr(0, next);
      if (level.size() <= kMaxPathUnits && !PathExists(level)) platform::CreateFolder(level);
    }
    if (next >= path.size()) break;
    end = next + 1;
  }
  const std::u16string whole = base + path;
  if (whole.size() > kMaxPathUnits) return false;
  return PathExists(whole) || platform::CreateFolder(whole);
}

// minizip refuses an archive without entries; such an archive is only an
// end-of-central-directory record (22 bytes and a comment) that counts none.
bool IsEmptyArchive(ZipStream& stream) {
  constexpr std::uint32_t kRecordSize = 22;
  constexpr std::uint32_t kMaxComment = 0xFFFF;
  if (!stream.Seek(0, 2)) return false;
  const std::uint64_t size = stream.Tell();
  if (size < kRecordSize) return false;
  const std::uint64_t tail = size < kRecordSize + kMaxComment ? size : kRecordSize + kMaxComment;
  std::vector<unsigned char> bytes(static_cast<std::size_t>(tail));
  if (!stream.Seek(size - tail, 0) ||
      stream.Read(bytes.data(), static_cast<std::uint32_t>(tail)) != tail) {
    return false;
  }
  for (std::size_t at = bytes.size() - kRecordSize + 1; at-- > 0;) {
    const unsigned char* r = bytes.data() + at;
    if (r[0] != 'P' || r[1] != 'K' || r[2] != 5 || r[3] != 6) continue;
    const std::size_t commentLength = r[20] | (r[21] << 8);
    if (at + kRecordSize + commentLength != bytes.size()) continue;
    // Entries on this disk, entries in all, and the directory's size: all 0.
    for (int i = 8; i < 16; ++i) {
      if (r[i] != 0) return false;
    }
    return true;
  }
  return false;
}

}  // namespace

struct ZipReader::State {
  ZipStream stream;
  ArchiveHandle archive;  // declared after the stream it reads, so closed first
  std::int32_t count = 0;
  // The entry minizip stands on, as far as we know; -1 when unknown.
  std::int32_t currentIndex = -1;
  std::int32_t cachedIndex = -1;
  ZipEntryInfo cachedEntry;
  bool cachedEncrypted = false;
  bool cachedNameTooLong = false;
  bool entryOpen = false;
  std::u16string targetFolder;
  // The folder part of the last file entry, known to exist under the target
  // folder: entries come grouped by folder, so most need no folder checks.
  std::u16string ensuredFolder;
  bool hasEnsuredFolder = false;
  std::string password;  // always empty here
  std::unique_ptr<unsigned char[]> copyBuffer;

  unzFile Archive() const { return static_cast<unzFile>(archive.get()); }

  // Closes the entry's data; false when minizip reports a CRC mismatch or
  // another failure for data that was read to its end.
  bool CloseEntryData() {
    if (!entryOpen) return true;
    entryOpen = false;
    return unzCloseCurrentFile(Archive()) == UNZ_OK;
  }
};

ZipReader::ZipReader(std::unique_ptr<State> state) : state_(std::move(state)) {}

ZipReader::~ZipReader() { Close(); }

std::unique_ptr<ZipReader> ZipReader::Open(const std::u16string& path, ZipResult* result) {
  *result = ZipCannotOpen;
  auto state = std::make_unique<State>();
  state->targetFolder = platform::GetCurrentFolder();
  if (state->targetFolder.empty() || !IsSeparator(state->targetFolder.back())) {
    state->targetFolder += u'\\';
  }
  if (!state->stream.Open(path)) return nullptr;

  zlib_filefunc64_def functions;
  ZipStream::FillFileFunctions(&functions);
  state->archive.reset(unzOpen2_64(&state->stream, &functions));
  if (!state->archive) {
    if (!IsEmptyArchive(state->stream)) return nullptr;
    state->count = 0;
    *result = ZipOk;
    return std::unique_ptr<ZipReader>(new ZipReader(std::move(state)));
  }
  unz_global_info64 info;
  if (unzGetGlobalInfo64(state->Archive(), &info) != UNZ_OK ||
      info.number_entry > static_cast<ZPOS64_T>(std::numeric_limits<std::int32_t>::max())) {
    return nullptr;
  }
  state->count = static_cast<std::int32_t>(info.number_entry);
  *result = ZipOk;
  return std::unique_ptr<ZipReader>(new ZipReader(std::move(state)));
}

ZipResult ZipReader::SetTargetFolder(const std::u16string& folder) {
  if (!state_) return ZipBadArgument;
  const bool needsSeparator = !folder.empty() && !IsSeparator(folder.back());
  // A folder cut to fit would be another folder: refuse it instead.
  if (folder.size() + (needsSeparator ? 1 : 0) > kMaxPathUnits) return ZipBadArgument;
  state_->targetFolder = folder;
  if (needsSeparator) state_->targetFolder += u'\\';
  state_->hasEnsuredFolder = false;
  return ZipOk;
}

ZipResult ZipReader::GetEntry(std::int32_t index, ZipEntryInfo* out) {
  if (!state_ || index < -1 || index >= state_->count) return ZipBadArgument;
  state_->CloseEntryData();
  if (index != -1 && index == state_->cachedIndex) {
    *out = state_->cachedEntry;
    return ZipOk;
  }
  if (index == -1) {
    *out = ZipEntryInfo();
    out->index = state_->count;
    return ZipOk;
  }
  const ZipResult positioned = PositionOn(index);
  if (positioned != ZipOk) return positioned;
  return DescribeCurrent(index, out);
}

ZipResult ZipReader::PositionOn(std::int32_t index) {
  State& s = *state_;
  if (s.currentIndex < 0 || index < s.currentIndex) {
    s.currentIndex = -1;
    if (unzGoToFirstFile(s.Archive()) != UNZ_OK) return ZipReadFailed;
    s.currentIndex = 0;
  }
  while (s.currentIndex < index) {
    // A central-directory record that cannot be read ends the positioning;
    // the next one starts again from the first entry.
    if (unzGoToNextFile(s.Archive()) != UNZ_OK) {
      s.currentIndex = -1;
      return ZipReadFailed;
    }
    ++s.currentIndex;
  }
  return ZipOk;
}

ZipResult ZipReader::DescribeCurrent(std::int32_t index, ZipEntryInfo* out) {
  State& s = *state_;
  unz_file_info64 info;
  char nameBuffer[kMaxPathUnits + 1];
  if (unzGetCurrentFileInfo64(s.Archive(), &info, nameBuffer, sizeof nameBuffer, nullptr, 0,
                              nullptr, 0) != UNZ_OK) {
    return ZipReadFailed;
  }
  const bool nameTooLong = info.size_filename > kMaxPathUnits;
  std::string rawName(nameBuffer, nameTooLong ? kMaxPathUnits : info.size_filename);

  // Opening the data unprocessed checks the local header against the central
  // directory and locates the local extra field, which one seek and one read
  // then fetch.
  int method = 0;
  int level = 0;
  if (unzOpenCurrentFile3(s.Archive(), &method, &level, 1, nullptr) != UNZ_OK) {
    return ZipBadLocalHeader;
  }
  s.entryOpen = true;
  const int extraLength = unzGetLocalExtrafield(s.Archive(), nullptr, 0);
  if (extraLength < 0 || !s.stream.CanSeek()) {
    s.CloseEntryData();
    return ZipReadFailed;
  }
  std::vector<unsigned char> extra(static_cast<std::size_t>(extraLength));
  if (extraLength > 0 &&
      unzGetLocalExtrafield(s.Archive(), extra.data(), static_cast<unsigned>(extraLength)) !=
          extraLength) {
    s.CloseEntryData();
    return ZipReadFailed;
  }
  s.CloseEntryData();

  ZipEntryInfo entry;
  entry.index = s.currentIndex;
  // The name's bytes are read in the ANSI code page whatever the entry's
  // UTF-8 flag says.
  entry.name = TrimEntryName(platform::AnsiToWide(rawName));
  entry.attributes = EntryAttributes(info.version, info.external_fa, &entry.unixMode);
  entry.isLink = IsUnixLinkEntry(info.version, info.external_fa);
  entry.compressedSize = static_cast<std::uint32_t>(info.compressed_size);
  entry.uncompressedSize = static_cast<std::uint32_t>(info.uncompressed_size);
  std::uint64_t stamp = 0;
  if (!DosDateTimeToFileTime(static_cast<std::uint32_t>(info.dosDate), &stamp)) stamp = 0;
  entry.accessTime = entry.creationTime = entry.writeTime = stamp;
  ApplyExtendedTimestamp(extra.data(), extra.size(), &entry);

  s.cachedEntry = entry;
  s.cachedIndex = index;
  s.cachedEncrypted = (info.flag & kFlagEncrypted) != 0;
  s.cachedNameTooLong = nameTooLong;
  *out = std::move(entry);
  return ZipOk;
}

ZipResult ZipReader::ExtractEntry(std::int32_t index, const std::u16string& name) {
  if (!state_) return ZipBadArgument;
  State& s = *state_;
  s.CloseEntryData();
  if (index < 0 || index >= s.count) return ZipBadArgument;
  ZipResult result = PositionOn(index);
  if (result != ZipOk) return result;
  ZipEntryInfo entry;
  result = GetEntry(index, &entry);
  if (result != ZipOk) return result;

  // Nothing is written outside the target folder, and no name or path is cut
  // to fit.
  // A link would let later entries, or the application, write through it to
  // anywhere: links are never created, and the package fails.
  if (s.cachedNameTooLong || name.size() > kMaxPathUnits || IsUnsafeEntryName(name) || entry.isLink) {
    return ZipCannotOpen;
  }
  if (entry.attributes & kAttributeDirectory) {
    EnsureFolders(s.targetFolder, name);
    return ZipOk;
  }

  std::size_t split = name.size();
  while (split > 0 && !IsSeparator(name[split - 1])) --split;
  const std::u16string folderPart = name.substr(0, split);
  const std::u16string filePart = name.substr(split);
  const std::u16string target = s.targetFolder + folderPart + filePart;
  if (target.size() > kMaxPathUnits) return ZipCannotOpen;

  if (!s.hasEnsuredFolder || folderPart != s.ensuredFolder) {
    s.hasEnsuredFolder = EnsureFolders(s.targetFolder, folderPart);
    s.ensuredFolder = folderPart;
  }
  // A name ending with a separator names no file.
  if (filePart.empty()) return ZipCannotOpen;
  return CopyEntryData(target, entry);
}

ZipResult ZipReader::CopyEntryData(const std::u16string& target, const ZipEntryInfo& entry) {
  State& s = *state_;
  platform::WritableFile output;
  if (!output.Create(target, entry.attributes, entry.unixMode)) return ZipCannotOpen;
  // Only the empty password exists here; an encrypted entry cannot verify.
  if (s.cachedEncrypted) return ZipPasswordMismatch;

  int method = 0;
  int level = 0;
  const char* password = s.password.empty() ? nullptr : s.password.c_str();
  if (unzOpenCurrentFile3(s.Archive(), &method, &level, 0, password) != UNZ_OK) {
    return ZipInflateFailed;
  }
  s.entryOpen = true;
  // minizip hands out the data of other methods unprocessed, which would be
  // written as if it were the file.
  if (method != kMethodStored && method != kMethodDeflated) {
    s.CloseEntryData();
    return ZipInflateFailed;
  }
  if (!s.copyBuffer) s.copyBuffer.reset(new unsigned char[kCopyBufferSize]);

  ZipResult result = ZipInflateFailed;
  for (;;) {
    const int got = unzReadCurrentFile(s.Archive(), s.copyBuffer.get(), kCopyBufferSize);
    if (got < 0) break;
    if (got > 0 && !output.Write(s.copyBuffer.get(), static_cast<std::uint32_t>(got))) {
      result = ZipWriteFailed;
      break;
    }
    if (unzeof(s.Archive())) {
      // minizip checks the CRC when data read to its end is closed; corrupted
      // data must not count as extracted.
      if (!s.CloseEntryData()) break;
      if (entry.writeTime != 0 || entry.accessTime != 0 || entry.creationTime != 0) {
        output.SetTimes(entry.creationTime, entry.accessTime, entry.writeTime);
      }
      result = ZipOk;
      break;
    }
    if (got == 0) break;
  }
  s.CloseEntryData();
  if (!output.Close() && result == ZipOk) result = ZipWriteFailed;
  return result;
}

ZipResult ZipReader::Close() {
  if (!state_) return ZipOk;
  state_->CloseEntryData();
  state_->archive.reset();
  state_.reset();
  return ZipOk;
}

}  // namespace velmora::archive
