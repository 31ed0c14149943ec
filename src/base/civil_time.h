// A calendar date and wall-clock time with no zone attached, and the plain arithmetic on it.
#pragma once

#include <cstdint>
#include <ctime>

namespace mailvane::base {

struct CivilTime {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0;
};

// The C library's broken-down form (tm_isdst 0), unchecked.
inline std::tm BrokenDownTime(const CivilTime& t) {
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  return tm;
}

// Seconds since 1970 of the wall time read as if it were UTC (proleptic Gregorian).
constexpr std::int64_t UnixOfWallTime(const CivilTime& w) {
  // Days from civil, H. Hinnant's algorithm.
  const int y = w.year - (w.month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned mp = static_cast<unsigned>(w.month + (w.month > 2 ? -3 : 9));
  const unsigned doy = (153 * mp + 2) / 5 + static_cast<unsigned>(w.day) - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + doe - 719468;
  return days * 86400 + w.hour * 3600 + w.minute * 60 + w.second;
}

}  // namespace mailvane::base
