// zstd frames decoded in a bounded stream, and written from files and from an old/new pair of files.
#include "archive/zstd_codec.h"

#include <zstd.h>

#include <algorithm>
#include <vector>

#include "platform/file_system.h"

namespace velmora::archive {
namespace {

// Frames smaller than this may still ask for a window this large: what zstd's
// own tools write for small inputs, and harmless in memory.
constexpr int kMinWindowLog = 20;

struct DCtxFree {
  void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};
struct CCtxFree {
  void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};
using DecoderContext = std::unique_ptr<ZSTD_DCtx, DCtxFree>;
using EncoderContext = std::unique_ptr<ZSTD_CCtx, CCtxFree>;

// The smallest n with 2^n >= size.
int CeilLog2(std::uint64_t size) {
  int log = 0;
  while (log < 63 && (std::uint64_t{1} << log) < size) ++log;
  return log;
}

bool Ok(std::size_t result) { return ZSTD_isError(result) == 0; }

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

struct ZstdDecoder::State {
  DecoderContext context{ZSTD_createDCtx()};
  std::uint64_t maxOutput = 0;
  std::uint64_t produced = 0;
  std::vector<char> buffer;
  bool begun = false;
  bool failed = false;
  bool frameEnded = false;
};

ZstdDecoder::ZstdDecoder(std::uint64_t maxOutput) : state_(std::make_unique<State>()) {
  state_->maxOutput = maxOutput;
}

ZstdDecoder::~ZstdDecoder() = default;

bool ZstdDecoder::Begin(const std::string* dictionaryOrBase) {
  State& s = *state_;
  s.begun = s.frameEnded = false;
  s.failed = true;
  s.produced = 0;
  if (!s.context || !Ok(ZSTD_DCtx_reset(s.context.get(), ZSTD_reset_session_and_parameters))) return false;
  // A patch reaches back over the whole base, so its window spans base and
  // output; no honest frame needs more, and the decoder buffers up to it.
  const std::uint64_t base = dictionaryOrBase == nullptr ? 0 : dictionaryOrBase->size();
  const ZSTD_bounds bounds = ZSTD_dParam_getBounds(ZSTD_d_windowLogMax);
  if (ZSTD_isError(bounds.error)) return false;
  const std::uint64_t span = s.maxOutput > UINT64_MAX - base ? UINT64_MAX : s.maxOutput + base;
  const int windowLog = std::clamp(CeilLog2(span), std::max(kMinWindowLog, bounds.lowerBound), bounds.upperBound);
  if (!Ok(ZSTD_DCtx_setParameter(s.context.get(), ZSTD_d_windowLogMax, windowLog))) return false;
  if (dictionaryOrBase != nullptr &&
      !Ok(ZSTD_DCtx_refPrefix(s.context.get(), dictionaryOrBase->data(), dictionaryOrBase->size()))) {
    return false;
  }
  s.buffer.resize(ZSTD_DStreamOutSize());
  s.begun = true;
  s.failed = false;
  return true;
}

bool ZstdDecoder::Feed(const char* data, std::size_t size, const std::function<bool(const char*, std::size_t)>& out) {
  State& s = *state_;
  if (!s.begun || s.failed) return false;
  ZSTD_inBuffer input{data, size, 0};
  bool outputFull = false;
  while (input.pos < input.size || outputFull) {
    // One frame only: a second one, or trailing bytes, could not be checked
    // against the base the caller chose for the first.
    if (s.frameEnded) return !(s.failed = true);
    ZSTD_outBuffer output{s.buffer.data(), s.buffer.size(), 0};
    const std::size_t hint = ZSTD_decompressStream(s.context.get(), &output, &input);
    if (!Ok(hint) || output.pos > s.maxOutput - s.produced) return !(s.failed = true);
    s.produced += output.pos;
    if (output.pos != 0 && !out(s.buffer.data(), output.pos)) return !(s.failed = true);
    outputFull = output.pos == output.size;
    // 0: the frame is complete and everything of it flushed.
    if (hint == 0) {
      s.frameEnded = true;
      if (input.pos < input.size) return !(s.failed = true);
      return true;
    }
  }
  return true;
}

bool ZstdDecoder::End() {
  const State& s = *state_;
  return s.begun && !s.failed && s.frameEnded;
}

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
