#include "zimbra/item_dates.h"

#include <cstdio>

namespace mailvane::zimbra {
namespace {

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int Number(std::string_view digits) {
  int n = 0;
  for (char c : digits) n = n * 10 + (c - '0');
  return n;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// FILETIME starts in 1601; the store cannot hold anything earlier.
std::optional<store::LocalDateTime> MakeDate(int y, int m, int d) {
  if (y < 1601 || y > 9999 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) {
    return std::nullopt;
  }
  store::LocalDateTime t;
  t.year = y;
  t.month = m;
  t.day = d;
  return t;
}

// YYYY, MM and DD as digit runs of exactly those lengths.
std::optional<store::LocalDateTime> DateOfParts(std::string_view y, std::string_view m,
                                                std::string_view d) {
  if (y.size() != 4 || m.size() != 2 || d.size() != 2) return std::nullopt;
  if (!AllDigits(y) || !AllDigits(m) || !AllDigits(d)) return std::nullopt;
  return MakeDate(Number(y), Number(m), Number(d));
}

std::string SlashText(const store::LocalDateTime& t) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", t.month, t.day, t.year);
  return buf;
}

}  // namespace

std::optional<store::LocalDateTime> ReadDateText(std::string_view text) {
  if (text.size() < 8) return std::nullopt;
  return DateOfParts(text.substr(0, 4), text.substr(4, 2), text.substr(6, 2));
}

std::optional<store::LocalDateTime> ReadSlashDate(std::string_view text) {
  if (text.size() != 10 || text[2] != '/' || text[5] != '/') return std::nullopt;
  return DateOfParts(text.substr(6, 4), text.substr(0, 2), text.substr(3, 2));
}

std::optional<CalendarTime> ReadCalendarTime(std::string_view value) {
  std::string_view params;
  std::string_view body = value;
  if (const auto colon = value.rfind(':'); colon != std::string_view::npos) {
    params = value.substr(0, colon);
    body = value.substr(colon + 1);
  }
  const auto date = ReadDateText(body);
  if (!date) return std::nullopt;

  CalendarTime t;
  t.local = *date;
  std::string_view rest = body.substr(8);
  if (rest.empty()) return t;  // a date: VALUE=DATE, or a bare date

  // THHMMSS, then Z for UTC or nothing.
  if (rest.size() < 7 || rest[0] != 'T' || !AllDigits(rest.substr(1, 6))) return std::nullopt;
  t.local.hour = Number(rest.substr(1, 2));
  t.local.minute = Number(rest.substr(3, 2));
  t.local.second = Number(rest.substr(5, 2));
  if (t.local.hour > 23 || t.local.minute > 59 || t.local.second > 59) return std::nullopt;
  rest.remove_prefix(7);
  if (rest == "Z") {
    t.kind = CalendarTime::Kind::kUtc;
    return t;
  }
  if (!rest.empty()) return std::nullopt;

  constexpr std::string_view kTzid = "TZID=";
  if (params.substr(0, kTzid.size()) == kTzid) {
    std::string_view zone = params.substr(kTzid.size());
    zone = zone.substr(0, zone.find(';'));  // a ";VALUE=..." may follow the zone
    if (zone.size() >= 2 && zone.front() == '"' && zone.back() == '"') {
      zone = zone.substr(1, zone.size() - 2);
    }
    if (!zone.empty()) {
      t.kind = CalendarTime::Kind::kZoned;
      t.zone = std::string(zone);
      return t;
    }
  }
  t.kind = CalendarTime::Kind::kFloating;
  return t;
}

std::string BirthdayText(std::string_view value) {
  std::optional<store::LocalDateTime> date;
  if (value.size() >= 10 && (value[4] == '-' || value[4] == '/') && value[7] == value[4] &&
      (value.size() == 10 || value[10] == 'T' || value[10] == ' ')) {
    date = DateOfParts(value.substr(0, 4), value.substr(5, 2), value.substr(8, 2));
  } else if (value.size() == 8) {
    date = ReadDateText(value);
  }
  return date ? SlashText(*date) : std::string();
}

}  // namespace mailvane::zimbra
