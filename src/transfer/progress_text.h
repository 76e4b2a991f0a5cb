// The texts of the download progress report, as pure functions.
#pragma once

#include <string>

namespace velmora::transfer {

// An average speed in bytes per second with two decimals and its unit, the
// largest of "G", "M", "KB" that the speed strictly exceeds, else "B":
// 1024 gives "1024.00B", 1025 gives "1.00KB", 1536 gives "1.50KB".
std::string FormatSpeed(double bytesPerSecond);

// The speed line: "\n speed: " + FormatSpeed + " /s".
std::string FormatSpeedLine(double bytesPerSecond);

// The progress line: "\n<now> / <total> (<percent> %)", each with two
// decimals. While the total is unknown (0, or not a positive number) the
// percentage is 0.00 rather than a division by zero.
std::string FormatProgressLine(double totalBytes, double receivedBytes);

}  // namespace velmora::transfer
