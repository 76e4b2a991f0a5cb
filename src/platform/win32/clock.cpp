// Local time and the conversion of a local time to a UTC file time with the Windows time calls.
#include "platform/clock.h"

#include "platform/win32/win32.h"

namespace velmora::platform {
namespace {

// SYSTEMTIME holds 16-bit fields; a value outside them would wrap into a
// different but valid date, so it is refused before the conversion.
bool FitsWord(int value, int low, int high) { return value >= low && value <= high; }

}  // namespace

LocalTime ReadLocalTime() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  LocalTime time;
  time.year = now.wYear;
  time.month = now.wMonth;
  time.day = now.wDay;
  time.hour = now.wHour;
  time.minute = now.wMinute;
  time.second = now.wSecond;
  time.milliseconds = now.wMilliseconds;
  return time;
}

bool LocalTimeToFileTime(const LocalTime& time, std::uint64_t* utcFileTime) {
  if (utcFileTime == nullptr) return false;
  if (!FitsWord(time.year, 0, 0xFFFF) || !FitsWord(time.month, 0, 0xFFFF) || !FitsWord(time.day, 0, 0xFFFF) ||
      !FitsWord(time.hour, 0, 0xFFFF) || !FitsWord(time.minute, 0, 0xFFFF) ||
      !FitsWord(time.second, 0, 0xFFFF) || !FitsWord(time.milliseconds, 0, 0xFFFF)) {
    return false;
  }
  SYSTEMTIME local{};
  local.wYear = static_cast<WORD>(time.year);
  local.wMonth = static_cast<WORD>(time.month);
  local.wDay = static_cast<WORD>(time.day);
  local.wHour = static_cast<WORD>(time.hour);
  local.wMinute = static_cast<WORD>(time.minute);
  local.wSecond = static_cast<WORD>(time.second);
  local.wMilliseconds = static_cast<WORD>(time.milliseconds);
  FILETIME localFileTime{};
  if (!::SystemTimeToFileTime(&local, &localFileTime)) return false;
  FILETIME utc{};
  if (!::LocalFileTimeToFileTime(&localFileTime, &utc)) return false;
  *utcFileTime = (static_cast<std::uint64_t>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime;
  return true;
}

}  // namespace velmora::platform
