// Builds the speed and progress lines that a download prints.
#include "transfer/progress_text.h"

#include <cstdio>

namespace velmora::transfer {

namespace {

constexpr double kKilo = 1024.0;
constexpr double kMega = 1048576.0;
constexpr double kGiga = 1073741824.0;

}  // namespace

std::string FormatSpeed(double bytesPerSecond) {
  double value = bytesPerSecond;
  const char* unit = "B";
  if (bytesPerSecond > kGiga) {
    value = bytesPerSecond / kGiga;
    unit = "G";
  } else if (bytesPerSecond > kMega) {
    value = bytesPerSecond / kMega;
    unit = "M";
  } else if (bytesPerSecond > kKilo) {
    value = bytesPerSecond / kKilo;
    unit = "KB";
  }
  // "%.2f" of the largest double is 312 characters; the buffer holds any value.
  char text[400];
  std::snprintf(text, sizeof(text), "%.2f%s", value, unit);
  return text;
}

std::string FormatSpeedLine(double bytesPerSecond) {
  return "\n speed: " + FormatSpeed(bytesPerSecond) + " /s";
}

std::string FormatProgressLine(double totalBytes, double receivedBytes) {
  // libcurl reports a total of 0 until the size is known.
  const double percent = totalBytes > 0.0 ? receivedBytes * 100.0 / totalBytes : 0.0;
  char text[1000];
  std::snprintf(text, sizeof(text), "\n%.2f / %.2f (%.2f %%)", receivedBytes, totalBytes, percent);
  return text;
}

}  // namespace velmora::transfer
