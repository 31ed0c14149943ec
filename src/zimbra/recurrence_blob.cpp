#include "zimbra/recurrence_blob.h"

#include <algorithm>

#include "base/file_time.h"
#include "zimbra/meta_text.h"
#include "base/zone_time.h"

namespace mailvane::zimbra {
namespace {

using F = RecurrenceRule::Frequency;

constexpr std::uint16_t kFrequencyDaily = 0x200A, kFrequencyWeekly = 0x200B,
                        kFrequencyMonthly = 0x200C, kFrequencyYearly = 0x200D;
constexpr std::uint16_t kPatternDay = 0, kPatternWeek = 1, kPatternMonth = 2, kPatternMonthNth = 3;
constexpr std::uint32_t kEndAfterDate = 0x2021, kEndAfterCount = 0x2022, kNeverEnd = 0x2023;
constexpr std::uint32_t kNoEndDate = 0x5AE980DF;  // 31 December 4500, 23:59
constexpr std::uint16_t kOverrideSubject = 0x0001, kOverrideLocation = 0x0010;
// Occurrences looked at to find the last one of a series with an end.
constexpr std::size_t kOccurrenceLimit = 100000;

class Bytes {
 public:
  void U16(std::uint32_t v) {
    for (int i = 0; i < 2; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void Ansi(std::string_view utf8) {  // the 8-bit copy: ASCII kept, the rest as "?"
    std::u16string text = DecodeMetaBytes(utf8);
    U16(static_cast<std::uint32_t>(text.size() + 1));
    U16(static_cast<std::uint32_t>(text.size()));
    for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<std::uint8_t>(c) : '?');
  }
  void Wide(std::string_view utf8) {
    const std::u16string text = DecodeMetaBytes(utf8);
    U16(static_cast<std::uint32_t>(text.size()));
    for (char16_t c : text) U16(c);
  }
  std::vector<std::uint8_t> out;
};

store::LocalDateTime Midnight(store::LocalDateTime t) {
  t.hour = t.minute = t.second = 0;
  return t;
}

std::uint32_t Minutes(std::int64_t unix_seconds) {
  return static_cast<std::uint32_t>((unix_seconds + base::kFileTimeEpochDelta) / 60);
}

// Month count since January 1601 of a date.
std::int64_t MonthsSince1601(const store::LocalDateTime& t) {
  return (static_cast<std::int64_t>(t.year) - 1601) * 12 + (t.month - 1);
}

std::uint32_t MinutesOfMonthStart(std::int64_t months_since_1601) {
  const int year = 1601 + static_cast<int>(months_since_1601 / 12);
  const int month = static_cast<int>(months_since_1601 % 12) + 1;
  return MinutesSince1601({year, month, 1, 0, 0, 0});
}

// POSIX "Mm.w.d[/time]": month, week (5 last), weekday, hour.
struct Change {
  int month = 0, week = 0, weekday = 0, hour = 2, minute = 0;
};

}  // namespace

std::uint32_t MinutesSince1601(const store::LocalDateTime& t) { return Minutes(base::UnixOfWallTime(t)); }

RecurrenceBlob MakeRecurrenceBlob(const SeriesLayout& s) {
  const RecurrenceRule& rule = s.rule;
  RecurrenceBlob result;
  const std::vector<store::LocalDateTime> all = Occurrences(
      rule, s.first_start, rule.count || rule.until ? kOccurrenceLimit : 1);
  const store::LocalDateTime first = all.empty() ? s.first_start : all.front();
  result.first_day = Midnight(first);
  result.ends = rule.count.has_value() || rule.until.has_value();
  result.last_day = Midnight(all.empty() ? first : all.back());
  const std::uint32_t start_date = MinutesSince1601(result.first_day);

  std::uint16_t frequency = kFrequencyDaily, pattern = kPatternDay;
  std::uint32_t period = 0, first_date_time = 0;
  Bytes specific;
  const bool weekdays = rule.frequency == F::kDaily && !rule.by_day.empty();
  const std::int64_t first_day_number = DayNumber(first.year, first.month, first.day);
  if (rule.frequency == F::kDaily && !weekdays) {
    result.recurrence_type = 1;
    period = static_cast<std::uint32_t>(rule.interval) * 1440;
    first_date_time = start_date % period;
  } else if (rule.frequency == F::kWeekly || weekdays) {
    result.recurrence_type = weekdays ? 1 : 2;
    frequency = weekdays ? kFrequencyDaily : kFrequencyWeekly;
    pattern = kPatternWeek;
    period = static_cast<std::uint32_t>(rule.interval);
    std::uint32_t mask = 0;
    for (const auto& d : rule.by_day) mask |= 1u << d.first;
    if (mask == 0) mask = 1u << WeekdayOf(first_day_number);
    specific.U32(mask);
    const int back = (WeekdayOf(first_day_number) - rule.week_start + 7) % 7;
    first_date_time = (start_date - static_cast<std::uint32_t>(back) * 1440) % (period * 10080);
  } else {
    const bool yearly = rule.frequency == F::kYearly;
    result.recurrence_type = yearly ? 4 : 3;
    frequency = yearly ? kFrequencyYearly : kFrequencyMonthly;
    period = static_cast<std::uint32_t>(yearly ? 12 * rule.interval : rule.interval);
    first_date_time = MinutesOfMonthStart(MonthsSince1601(first) % period);
    const auto nth = std::find_if(rule.by_day.begin(), rule.by_day.end(),
                                  [](const auto& d) { return d.second != 0; });
    if (nth != rule.by_day.end() || rule.by_set_pos) {
      pattern = kPatternMonthNth;
      std::uint32_t mask = 0;
      for (const auto& d : rule.by_day) mask |= 1u << d.first;
      const int n = nth != rule.by_day.end() ? nth->second : *rule.by_set_pos;
      specific.U32(mask);
      specific.U32(static_cast<std::uint32_t>(n < 0 ? 5 : std::min(n, 5)));
    } else {
      pattern = kPatternMonth;
      const int day = rule.by_month_day.empty() ? first.day : rule.by_month_day.front();
      specific.U32(static_cast<std::uint32_t>(day < 0 ? 31 : day));
    }
  }

  std::vector<std::uint32_t> deleted, modified;
  for (const auto& d : s.deleted) deleted.push_back(MinutesSince1601(Midnight(d)));
  std::vector<ChangedOccurrence> changed = s.changed;
  std::sort(changed.begin(), changed.end(), [](const auto& a, const auto& b) {
    return base::UnixOfWallTime(a.start) < base::UnixOfWallTime(b.start);
  });
  for (const auto& c : changed) {
    deleted.push_back(MinutesSince1601(Midnight(c.original_start)));
    modified.push_back(MinutesSince1601(Midnight(c.start)));
  }
  std::sort(deleted.begin(), deleted.end());
  deleted.erase(std::unique(deleted.begin(), deleted.end()), deleted.end());

  Bytes b;
  b.U16(0x3004);
  b.U16(0x3004);
  b.U16(frequency);
  b.U16(pattern);
  b.U16(0);  // Gregorian
  b.U32(first_date_time);
  b.U32(period);
  b.U32(0);  // not sliding
  b.out.insert(b.out.end(), specific.out.begin(), specific.out.end());
  if (rule.count) {
    b.U32(kEndAfterCount);
    b.U32(static_cast<std::uint32_t>(*rule.count));
  } else if (rule.until) {
    b.U32(kEndAfterDate);
    b.U32(static_cast<std::uint32_t>(all.size()));
  } else {
    b.U32(kNeverEnd);
    b.U32(10);
  }
  b.U32(static_cast<std::uint32_t>(rule.week_start));
  b.U32(static_cast<std::uint32_t>(deleted.size()));
  for (std::uint32_t d : deleted) b.U32(d);
  b.U32(static_cast<std::uint32_t>(modified.size()));
  for (std::uint32_t d : modified) b.U32(d);
  b.U32(start_date);
  b.U32(result.ends ? MinutesSince1601(result.last_day) : kNoEndDate);
  // The appointment part: versions, the time of day, the changed occurrences.
  b.U32(0x3006);
  b.U32(0x3009);
  const std::uint32_t start_offset =
      static_cast<std::uint32_t>(s.first_start.hour * 60 + s.first_start.minute);
  b.U32(start_offset);
  b.U32(start_offset + static_cast<std::uint32_t>(std::max(0, s.duration_minutes)));
  b.U16(static_cast<std::uint32_t>(changed.size()));
  auto flags_of = [](const ChangedOccurrence& c) {
    return static_cast<std::uint16_t>((c.subject.empty() ? 0 : kOverrideSubject) |
                                      (c.location.empty() ? 0 : kOverrideLocation));
  };
  for (const auto& c : changed) {
    b.U32(MinutesSince1601(c.start));
    b.U32(MinutesSince1601(c.end));
    b.U32(MinutesSince1601(c.original_start));
    b.U16(flags_of(c));
    if (!c.subject.empty()) b.Ansi(c.subject);
    if (!c.location.empty()) b.Ansi(c.location);
  }
  b.U32(0);  // ReservedBlock1Size
  for (const auto& c : changed) {
    b.U32(4);  // ChangeHighlight: its size and a value of none
    b.U32(0);
    b.U32(0);  // ReservedBlockEE1Size
    if (flags_of(c) != 0) {
      b.U32(MinutesSince1601(c.start));
      b.U32(MinutesSince1601(c.end));
      b.U32(MinutesSince1601(c.original_start));
      if (!c.subject.empty()) b.Wide(c.subject);
      if (!c.location.empty()) b.Wide(c.location);
      b.U32(0);  // ReservedBlockEE2Size
    }
  }
  b.U32(0);  // ReservedBlock2Size
  result.bytes = std::move(b.out);
  return result;
}

std::optional<std::vector<std::uint8_t>> TimeZoneStruct(std::string_view rule) {
  std::size_t at = 0;
  auto name = [&] {
    if (at < rule.size() && rule[at] == '<') {
      const std::size_t end = rule.find('>', at);
      if (end == std::string_view::npos) return false;
      at = end + 1;
      return true;
    }
    const std::size_t start = at;
    while (at < rule.size() && ((rule[at] >= 'A' && rule[at] <= 'Z') || (rule[at] >= 'a' && rule[at] <= 'z'))) ++at;
    return at - start >= 3;
  };
  // [+-]hh[:mm[:ss]] in minutes.
  auto offset = [&](int& minutes) {
    int sign = 1;
    if (at < rule.size() && (rule[at] == '+' || rule[at] == '-')) sign = rule[at++] == '-' ? -1 : 1;
    int parts[3] = {0, 0, 0};
    for (int p = 0; p < 3; ++p) {
      const std::size_t start = at;
      while (at < rule.size() && rule[at] >= '0' && rule[at] <= '9' && at - start < 3) {
        parts[p] = parts[p] * 10 + (rule[at++] - '0');
      }
      if (at == start) return p > 0;
      if (at >= rule.size() || rule[at] != ':') break;
      ++at;
    }
    minutes = sign * (parts[0] * 60 + parts[1]);
    return true;
  };
  auto change = [&](Change& c) {
    if (at >= rule.size() || rule[at] != ',' || at + 1 >= rule.size() || rule[at + 1] != 'M') return false;
    at += 2;
    int values[3] = {0, 0, 0};
    for (int p = 0; p < 3; ++p) {
      const std::size_t start = at;
      while (at < rule.size() && rule[at] >= '0' && rule[at] <= '9' && at - start < 2) {
        values[p] = values[p] * 10 + (rule[at++] - '0');
      }
      if (at == start) return false;
      if (p < 2) {
        if (at >= rule.size() || rule[at] != '.') return false;
        ++at;
      }
    }
    c.month = values[0], c.week = values[1], c.weekday = values[2];
    if (c.month < 1 || c.month > 12 || c.week < 1 || c.week > 5 || c.weekday > 6) return false;
    if (at < rule.size() && rule[at] == '/') {
      ++at;
      int minutes = 0;
      if (!offset(minutes) || minutes < 0 || minutes >= 24 * 60) return false;
      c.hour = minutes / 60, c.minute = minutes % 60;
    }
    return true;
  };
  int standard = 0;  // POSIX offsets are west of Greenwich: "CET-1" is UTC+1, a bias of -60
  if (!name() || !offset(standard)) return std::nullopt;
  Bytes b;
  b.U32(static_cast<std::uint32_t>(standard));
  b.U32(0);  // lStandardBias
  if (at == rule.size()) {
    b.out.resize(48, 0);  // no daylight saving: no bias, no dates
    return b.out;
  }
  if (!name()) return std::nullopt;
  int daylight = standard - 60;
  if (at < rule.size() && rule[at] != ',' && !offset(daylight)) return std::nullopt;
  Change to_daylight, to_standard;
  if (!change(to_daylight) || !change(to_standard) || at != rule.size()) return std::nullopt;
  b.U32(static_cast<std::uint32_t>(daylight - standard));  // lDaylightBias
  auto system_time = [&b](const Change& c) {
    b.U16(0);  // wYear: every year
    b.U16(static_cast<std::uint32_t>(c.month));
    b.U16(static_cast<std::uint32_t>(c.weekday));
    b.U16(static_cast<std::uint32_t>(c.week));
    b.U16(static_cast<std::uint32_t>(c.hour));
    b.U16(static_cast<std::uint32_t>(c.minute));
    b.U16(0);
    b.U16(0);
  };
  b.U16(0);  // wStandardYear
  system_time(to_standard);
  b.U16(0);  // wDaylightYear
  system_time(to_daylight);
  return b.out;
}

}  // namespace mailvane::zimbra
