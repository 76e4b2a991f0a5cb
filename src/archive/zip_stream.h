// The archive file as minizip reads it: an opened file with a read-ahead window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/file_system.h"

struct zlib_filefunc64_def_s;

namespace velmora::archive {

// Serves minizip's many small reads (header fields) and its data reads from
// windows of the file and passes large reads straight through. Positions are relative to the
// offset the file was at when it was opened.
class ZipStream {
 public:
  ZipStream() = default;
  ZipStream(const ZipStream&) = delete;
  ZipStream& operator=(const ZipStream&) = delete;

  // Opens the file shared for reading; false when it cannot be opened.
  bool Open(const std::u16string& path);
  bool CanSeek() const { return canSeek_; }

  std::uint32_t Read(void* buffer, std::uint32_t size);
  // origin: 0 from the start, 1 from the current position, 2 from the end.
  bool Seek(std::uint64_t offset, int origin);
  std::uint64_t Tell() const { return position_; }
  bool HasError() const { return error_; }

  // Fills minizip's file functions; the "path" handed to unzOpen2_64 with
  // them must be this stream, already opened.
  static void FillFileFunctions(zlib_filefunc64_def_s* functions);

 private:
  // Two windows: minizip alternates between the central directory (one
  // record per entry) and the entry's local header and data further on.
  static constexpr std::uint32_t kWindowSize = 128 * 1024;
  static constexpr int kWindows = 2;

  struct Window {
    std::unique_ptr<unsigned char[]> bytes;
    std::uint64_t start = 0;    // relative position of bytes[0]
    std::uint32_t length = 0;
    std::uint64_t lastUse = 0;
  };

  // The window holding `position_`, or null.
  Window* Find();
  // Refills the least recently used window at `position_`.
  Window* Fill();

  platform::ReadableFile file_;
  bool canSeek_ = false;
  bool error_ = false;
  std::uint64_t start_ = 0;     // file offset at open; position 0
  std::uint64_t position_ = 0;  // relative to start_
  std::uint64_t uses_ = 0;
  Window windows_[kWindows];
};

}  // namespace velmora::archive
