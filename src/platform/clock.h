// Local time, and local times as file times.
#pragma once

#include <cstdint>

namespace velmora::platform {

struct LocalTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
};

// GetLocalTime: the current local date and time.
LocalTime ReadLocalTime();

// SystemTimeToFileTime then LocalFileTimeToFileTime: a local time as a UTC
// file time (100 ns intervals since 1601-01-01 UTC). False for an invalid time.
bool LocalTimeToFileTime(const LocalTime& time, std::uint64_t* utcFileTime);

}  // namespace velmora::platform
