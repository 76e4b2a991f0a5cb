// Small helpers the zstd decoder and writers share, private to the archive module.
#pragma once

#include <zstd.h>

#include <cstdint>

namespace velmora::archive::zstd_detail {

// The smallest n with 2^n >= size.
inline int CeilLog2(std::uint64_t size) {
  int log = 0;
  while (log < 63 && (std::uint64_t{1} << log) < size) ++log;
  return log;
}

inline bool Ok(std::size_t result) { return ZSTD_isError(result) == 0; }

}  // namespace velmora::archive::zstd_detail
