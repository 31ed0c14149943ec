#include "store/local_time.h"

#include <ctime>
#include <string>

#include "base/file_time.h"

namespace mailvane::store {

namespace {

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// The broken-down form of a valid date-time; raises StoreError for an invalid one.
std::tm CheckedTm(const LocalDateTime& t) {
  const bool valid = t.year >= 1601 && t.year <= 9999 && t.month >= 1 && t.month <= 12 &&
                     t.day >= 1 && t.day <= DaysInMonth(t.year, t.month) && t.hour >= 0 &&
                     t.hour < 24 && t.minute >= 0 && t.minute < 60 && t.second >= 0 &&
                     t.second < 60;
  if (!valid) {
    throw StoreError("not a valid date: " + std::to_string(t.year) + "-" +
                     std::to_string(t.month) + "-" + std::to_string(t.day) + " " +
                     std::to_string(t.hour) + ":" + std::to_string(t.minute));
  }
  return base::BrokenDownTime(t);
}

}  // namespace

base::FileTime FileTimeFromLocal(const LocalDateTime& t) {
  std::tm tm = CheckedTm(t);
  tm.tm_isdst = -1;  // let the zone rules say whether summer time applies
  const std::time_t utc = std::mktime(&tm);
  if (utc == static_cast<std::time_t>(-1) && !(tm.tm_year == 69 && tm.tm_mon == 11)) {
    throw StoreError("the local date " + std::to_string(t.year) + "-" + std::to_string(t.month) +
                     "-" + std::to_string(t.day) + " cannot be converted to UTC");
  }
  return base::FileTimeFromUnix(static_cast<std::int64_t>(utc));
}

base::FileTime WallClockFileTime(const LocalDateTime& t) {
  std::tm tm = CheckedTm(t);
  return base::FileTimeFromUnix(static_cast<std::int64_t>(::timegm(&tm)));
}

base::FileTime WallClockOfUtc(base::FileTime utc) {
  constexpr base::FileTime kTicksPerSecond = 10000000;
  const std::time_t seconds = static_cast<std::time_t>(base::UnixFromFileTime(utc));
  std::tm tm{};
  if (::localtime_r(&seconds, &tm) == nullptr) {
    throw StoreError("the moment " + std::to_string(seconds) + " has no local time");
  }
  return base::FileTimeFromUnix(static_cast<std::int64_t>(::timegm(&tm))) + utc % kTicksPerSecond;
}

}  // namespace mailvane::store
