// zstd frames written from files and from an old/new pair of files: the publisher's side of compressed copies and patches.
#include <zstd.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "archive/zstd_codec.h"
#include "archive/zstd_detail.h"
#include "platform/file_system.h"

namespace velmora::archive {
namespace {

using zstd_detail::CeilLog2;
using zstd_detail::Ok;

struct CCtxFree {
  void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};
using EncoderContext = std::unique_ptr<ZSTD_CCtx, CCtxFree>;

bool ReadAll(const std::u16string& path, std::uint64_t limit, std::string* content) {
  std::uint64_t size = 0;
  if (!platform::ReadFileSize(path, &size) || size > limit) return false;
  platform::ReadableFile file;
  if (!file.Open(path)) return false;
  std::string bytes(static_cast<std::size_t>(size), '\0');
  std::uint64_t filled = 0;
  while (filled < size) {
    const auto chunk = static_cast<std::uint32_t>(std::min<std::uint64_t>(size - filled, 1u << 30));
    std::uint32_t read = 0;
    if (!file.Read(&bytes[static_cast<std::size_t>(filled)], chunk, &read) || read == 0) return false;
    filled += read;
  }
  *content = std::move(bytes);
  return true;
}

// Sets the parameters every frame we write shares: level, size, checksum.
bool SetUp(ZSTD_CCtx* context, int level, std::uint64_t size) {
  return Ok(ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, level)) &&
         Ok(ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1)) &&
         Ok(ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, 1)) &&
         Ok(ZSTD_CCtx_setPledgedSrcSize(context, size));
}

// Runs `input` through the context to the end of the frame, writing as it goes.
bool CompressInto(ZSTD_CCtx* context, ZSTD_inBuffer* input, ZSTD_EndDirective mode, std::vector<char>& buffer,
                  platform::WritableFile& out) {
  for (;;) {
    ZSTD_outBuffer output{buffer.data(), buffer.size(), 0};
    const std::size_t left = ZSTD_compressStream2(context, &output, input, mode);
    if (!Ok(left)) return false;
    if (output.pos != 0 && !out.Write(buffer.data(), static_cast<std::uint32_t>(output.pos))) return false;
    const bool done = mode == ZSTD_e_end ? left == 0 : input->pos == input->size;
    if (done) return true;
  }
}

}  // namespace

bool CompressFile(const std::u16string& in, const std::u16string& out, int level) {
  std::uint64_t size = 0;
  platform::ReadableFile source;
  platform::WritableFile target;
  const EncoderContext context(ZSTD_createCCtx());
  if (!context || !platform::ReadFileSize(in, &size) || !source.Open(in) || !target.Create(out, 0, 0) ||
      !SetUp(context.get(), level, size)) {
    return false;
  }
  std::vector<char> input(ZSTD_CStreamInSize());
  std::vector<char> output(ZSTD_CStreamOutSize());
  for (;;) {
    std::uint32_t read = 0;
    if (!source.Read(input.data(), static_cast<std::uint32_t>(input.size()), &read)) return false;
    ZSTD_inBuffer chunk{input.data(), read, 0};
    // A short read is not the end of a file; only an empty one is. zstd checks
    // the pledged size, so a file that grew or shrank meanwhile fails here.
    if (!CompressInto(context.get(), &chunk, read == 0 ? ZSTD_e_end : ZSTD_e_continue, output, target)) {
      return false;
    }
    if (read == 0) break;
  }
  return target.Close();
}

bool MakePatch(const std::u16string& oldFile, const std::u16string& newFile, const std::u16string& patchOut,
               int level) {
  std::string before, after;
  if (!ReadAll(oldFile, kMaxPatchInput, &before) || !ReadAll(newFile, kMaxPatchInput - before.size(), &after)) {
    return false;
  }
  const EncoderContext context(ZSTD_createCCtx());
  const ZSTD_bounds bounds = ZSTD_cParam_getBounds(ZSTD_c_windowLog);
  const int windowLog = std::max(bounds.lowerBound, CeilLog2(before.size() + after.size()));
  if (!context || ZSTD_isError(bounds.error) || windowLog > bounds.upperBound ||
      !SetUp(context.get(), level, after.size()) ||
      !Ok(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_windowLog, windowLog)) ||
      !Ok(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_enableLongDistanceMatching, 1)) ||
      !Ok(ZSTD_CCtx_refPrefix(context.get(), before.data(), before.size()))) {
    return false;
  }
  platform::WritableFile target;
  if (!target.Create(patchOut, 0, 0)) return false;
  std::vector<char> output(ZSTD_CStreamOutSize());
  ZSTD_inBuffer input{after.data(), after.size(), 0};
  return CompressInto(context.get(), &input, ZSTD_e_end, output, target) && target.Close();
}

}  // namespace velmora::archive
