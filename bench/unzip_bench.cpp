// Times one UnzipPackage call: unzip_bench <package.zip> <folder>; prints seconds, exit 1 on failure.
#include <chrono>
#include <cstdio>
#include <string>

#include "archive/package.h"
#include "platform/encoding.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: unzip_bench <package.zip> <folder>\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const bool ok = velmora::archive::UnzipPackage(velmora::platform::Utf8ToWide(argv[1]),
                                                   velmora::platform::Utf8ToWide(argv[2]));
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::printf("%.3f\n", elapsed.count());
  return ok ? 0 : 1;
}
