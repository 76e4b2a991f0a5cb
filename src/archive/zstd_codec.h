// zstd for whole files and for patches against an installed file: the updater's streaming decoder and the publisher's writers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace velmora::archive {

// The largest old + new file size MakePatch takes. Both files are held in
// memory, and the window (old + new) must stay within what a 64-bit decoder
// accepts (2 GiB); 1 GiB keeps the publisher near 2.5 GiB at level 19.
constexpr std::uint64_t kMaxPatchInput = std::uint64_t{1} << 30;

// Decodes exactly one zstd frame as its bytes arrive. Memory stays bounded:
// the frame's window may not exceed the output bound plus the base, rounded up
// to a power of two from 1 MiB to 2 GiB, and the decoder buffers at most that
// (for a patch about the new file's size; the base is the caller's).
class ZstdDecoder {
 public:
  // More than `maxOutput` decoded bytes fail the frame (a bomb is refused).
  explicit ZstdDecoder(std::uint64_t maxOutput);
  ~ZstdDecoder();
  ZstdDecoder(const ZstdDecoder&) = delete;
  ZstdDecoder& operator=(const ZstdDecoder&) = delete;

  // Starts a frame. With `dictionaryOrBase` the frame is a patch whose
  // reference prefix is those bytes (the installed old file); they must stay
  // alive and unchanged until End. False when the decoder cannot be set up.
  bool Begin(const std::string* dictionaryOrBase = nullptr);

  // Decodes `size` more bytes, handing each decoded piece to `out` in order.
  // False, for good, on a corrupt frame, a window too large, output beyond the
  // bound, bytes after the frame's end, or when `out` returns false; pieces
  // already handed over are then the caller's to throw away.
  bool Feed(const char* data, std::size_t size, const std::function<bool(const char*, std::size_t)>& out);

  // True only when the input ended exactly with the frame, its content
  // checksum (when it has one) matching.
  bool End();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Compresses the file `in` into `out` as one zstd frame at `level` (1-19, or
// zstd's negative fast levels), recording the size and a content checksum.
// Streams: memory is zstd's own for the level (about 100 MiB at 19). False
// when a file cannot be read or written or zstd fails; `out` may then be left.
bool CompressFile(const std::u16string& in, const std::u16string& out, int level);

// Writes `patchOut`, one zstd frame that decodes to `newFile` when the bytes
// of `oldFile` are its reference prefix (ZstdDecoder::Begin with them).
// Long-distance matching finds moved blocks; the window covers both files.
// Both are read into memory: false when together over kMaxPatchInput, when a
// file cannot be read or written, or when zstd fails.
bool MakePatch(const std::u16string& oldFile, const std::u16string& newFile, const std::u16string& patchOut,
               int level);

}  // namespace velmora::archive
