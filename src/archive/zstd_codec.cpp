// zstd frames decoded in a bounded stream; the writers have a file of their own, so the updater links no compressor.
#include "archive/zstd_codec.h"

#include <zstd.h>

#include <algorithm>
#include <vector>

#include "archive/zstd_detail.h"

namespace velmora::archive {
namespace {

using zstd_detail::CeilLog2;
using zstd_detail::Ok;

// Frames smaller than this may still ask for a window this large: what zstd's
// own tools write for small inputs, and harmless in memory.
constexpr int kMinWindowLog = 20;

struct DCtxFree {
  void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};
using DecoderContext = std::unique_ptr<ZSTD_DCtx, DCtxFree>;

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

}  // namespace velmora::archive
