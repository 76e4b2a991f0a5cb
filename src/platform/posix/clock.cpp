// Local time on POSIX.
#include "platform/clock.h"

#include <time.h>

namespace velmora::platform {

namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

LocalTime ReadLocalTime() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  ::localtime_r(&now.tv_sec, &local);
  LocalTime time;
  time.year = local.tm_year + 1900;
  time.month = local.tm_mon + 1;
  time.day = local.tm_mday;
  time.hour = local.tm_hour;
  time.minute = local.tm_min;
  time.second = local.tm_sec;
  time.milliseconds = static_cast<int>(now.tv_nsec / 1000000);
  return time;
}

bool LocalTimeToFileTime(const LocalTime& time, std::uint64_t* utcFileTime) {
  // The same ranges a Windows system time accepts.
  if (time.year < 1601 || time.year > 30827 || time.month < 1 || time.month > 12 || time.day < 1 ||
      time.day > DaysInMonth(time.year, time.month) || time.hour < 0 || time.hour > 23 ||
      time.minute < 0 || time.minute > 59 || time.second < 0 || time.second > 59 ||
      time.milliseconds < 0 || time.milliseconds > 999) {
    return false;
  }
  tm local{};
  local.tm_year = time.year - 1900;
  local.tm_mon = time.month - 1;
  local.tm_mday = time.day;
  local.tm_hour = time.hour;
  local.tm_min = time.minute;
  local.tm_sec = time.second;
  local.tm_isdst = -1;
  const time_t seconds = ::mktime(&local);
  if (seconds == static_cast<time_t>(-1) && !(local.tm_year == 69 && local.tm_mon == 11)) return false;
  const std::int64_t fileTime = (static_cast<std::int64_t>(seconds) + 11644473600LL) * 10000000LL +
                                static_cast<std::int64_t>(time.milliseconds) * 10000LL;
  if (fileTime < 0) return false;
  if (utcFileTime != nullptr) *utcFileTime = static_cast<std::uint64_t>(fileTime);
  return true;
}

}  // namespace velmora::platform
