#include "zimbra/recurrence_rule.h"

#include <algorithm>

#include "base/zone_time.h"

namespace mailvane::zimbra {
namespace {

constexpr std::string_view kWeekdays[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};

std::optional<int> Integer(std::string_view text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  std::size_t i = text[0] == '-' || text[0] == '+' ? 1 : 0;
  if (i == text.size()) return std::nullopt;
  int value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return text[0] == '-' ? -value : value;
}

std::vector<std::string_view> Split(std::string_view text, char at) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(at, start), text.size());
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

store::LocalDateTime FromDayNumber(std::int64_t days, const store::LocalDateTime& time) {
  // Civil from days, H. Hinnant's algorithm.
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  store::LocalDateTime t = time;
  t.year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0));
  t.month = static_cast<int>(m);
  t.day = static_cast<int>(d);
  return t;
}

// The days of one month that the rule picks, ascending.
std::vector<int> DaysOfMonth(const RecurrenceRule& rule, int year, int month, int start_day) {
  const int last = DaysInMonth(year, month);
  std::vector<int> days;
  if (!rule.by_day.empty()) {
    const int first_weekday = WeekdayOf(DayNumber(year, month, 1));
    for (const auto& [weekday, ordinal] : rule.by_day) {
      std::vector<int> matching;
      for (int d = 1 + (weekday - first_weekday + 7) % 7; d <= last; d += 7) matching.push_back(d);
      if (ordinal == 0) {
        days.insert(days.end(), matching.begin(), matching.end());
      } else if (ordinal > 0 && ordinal <= static_cast<int>(matching.size())) {
        days.push_back(matching[static_cast<std::size_t>(ordinal - 1)]);
      } else if (ordinal < 0 && -ordinal <= static_cast<int>(matching.size())) {
        days.push_back(matching[matching.size() - static_cast<std::size_t>(-ordinal)]);
      }
    }
    std::sort(days.begin(), days.end());
    days.erase(std::unique(days.begin(), days.end()), days.end());
    if (rule.by_set_pos && !days.empty()) {
      const int pos = *rule.by_set_pos;
      const int n = static_cast<int>(days.size());
      if (pos == 0 || pos > n || -pos > n) return {};
      return {days[static_cast<std::size_t>(pos > 0 ? pos - 1 : n + pos)]};
    }
    return days;
  }
  const std::vector<int> wanted = rule.by_month_day.empty() ? std::vector<int>{start_day}
                                                            : rule.by_month_day;
  for (int d : wanted) {
    const int day = d > 0 ? d : last + 1 + d;
    if (day >= 1 && day <= last) days.push_back(day);
  }
  std::sort(days.begin(), days.end());
  return days;
}

}  // namespace

std::int64_t DayNumber(int year, int month, int day) {
  return base::UnixOfWallTime({year, month, day, 0, 0, 0}) / 86400;
}

int WeekdayOf(std::int64_t day_number) {
  return static_cast<int>(((day_number % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
}

std::optional<RecurrenceRule> ParseRecurrenceRule(std::string_view rrule) {
  if (rrule.substr(0, 6) == "RRULE:") rrule.remove_prefix(6);
  RecurrenceRule rule;
  bool has_frequency = false;
  auto unsupported = [&rule](std::string_view part) {
    if (!rule.unsupported.empty()) rule.unsupported += ";";
    rule.unsupported += part;
  };
  for (std::string_view part : Split(rrule, ';')) {
    if (part.empty()) continue;
    const std::size_t eq = part.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    const std::string_view name = part.substr(0, eq);
    const std::string_view value = part.substr(eq + 1);
    if (name == "FREQ") {
      has_frequency = true;
      if (value == "DAILY") {
        rule.frequency = RecurrenceRule::Frequency::kDaily;
      } else if (value == "WEEKLY") {
        rule.frequency = RecurrenceRule::Frequency::kWeekly;
      } else if (value == "MONTHLY") {
        rule.frequency = RecurrenceRule::Frequency::kMonthly;
      } else if (value == "YEARLY") {
        rule.frequency = RecurrenceRule::Frequency::kYearly;
      } else {
        unsupported(part);
      }
    } else if (name == "INTERVAL") {
      const auto n = Integer(value);
      if (!n || *n < 1) return std::nullopt;
      rule.interval = *n;
    } else if (name == "COUNT") {
      const auto n = Integer(value);
      if (!n || *n < 1) return std::nullopt;
      rule.count = *n;
    } else if (name == "UNTIL") {
      std::string_view t = value;
      if (!t.empty() && t.back() == 'Z') {
        rule.until_utc = true;
        t.remove_suffix(1);
      }
      if (t.size() < 8) return std::nullopt;
      const auto y = Integer(t.substr(0, 4)), m = Integer(t.substr(4, 2)), d = Integer(t.substr(6, 2));
      if (!y || !m || !d || *m < 1 || *m > 12 || *d < 1 || *d > 31) return std::nullopt;
      store::LocalDateTime until{*y, *m, *d, 23, 59, 59};
      if (t.size() >= 15 && t[8] == 'T') {
        const auto hh = Integer(t.substr(9, 2)), mm = Integer(t.substr(11, 2)), ss = Integer(t.substr(13, 2));
        if (!hh || !mm || !ss) return std::nullopt;
        until.hour = *hh, until.minute = *mm, until.second = *ss;
      }
      rule.until = until;
    } else if (name == "BYDAY") {
      for (std::string_view day : Split(value, ',')) {
        if (day.size() < 2) return std::nullopt;
        const std::string_view code = day.substr(day.size() - 2);
        const auto* found = std::find(std::begin(kWeekdays), std::end(kWeekdays), code);
        if (found == std::end(kWeekdays)) return std::nullopt;
        int ordinal = 0;
        if (day.size() > 2) {
          const auto n = Integer(day.substr(0, day.size() - 2));
          if (!n || *n == 0 || *n > 53 || *n < -53) return std::nullopt;
          ordinal = *n;
        }
        rule.by_day.emplace_back(static_cast<int>(found - std::begin(kWeekdays)), ordinal);
      }
    } else if (name == "BYMONTHDAY" || name == "BYMONTH") {
      for (std::string_view item : Split(value, ',')) {
        const auto n = Integer(item);
        if (!n) return std::nullopt;
        (name == "BYMONTH" ? rule.by_month : rule.by_month_day).push_back(*n);
      }
    } else if (name == "BYSETPOS") {
      const auto n = Integer(value);
      if (!n) unsupported(part);
      rule.by_set_pos = n;
    } else if (name == "WKST") {
      const auto* found = std::find(std::begin(kWeekdays), std::end(kWeekdays), value);
      if (found == std::end(kWeekdays)) return std::nullopt;
      rule.week_start = static_cast<int>(found - std::begin(kWeekdays));
    } else {
      unsupported(part);  // BYWEEKNO, BYYEARDAY, BYHOUR, BYMINUTE, BYSECOND, X-...
    }
  }
  if (!has_frequency) return std::nullopt;
  // What Outlook's patterns hold: one day of the month (or one weekday with its place),
  // one month of the year, and ordinals only on monthly and yearly series.
  using F = RecurrenceRule::Frequency;
  const bool monthly_or_yearly = rule.frequency == F::kMonthly || rule.frequency == F::kYearly;
  const bool ordinals = std::any_of(rule.by_day.begin(), rule.by_day.end(),
                                    [](const auto& d) { return d.second != 0; });
  if (ordinals && (!monthly_or_yearly || rule.by_day.size() > 1 || rule.by_set_pos)) {
    unsupported("BYDAY with a position");
  }
  if (monthly_or_yearly && !ordinals && !rule.by_day.empty() && !rule.by_set_pos) {
    unsupported("BYDAY without a position");
  }
  if (rule.by_set_pos && (!monthly_or_yearly || *rule.by_set_pos == 0 || *rule.by_set_pos > 4 ||
                          *rule.by_set_pos < -1)) {
    unsupported("BYSETPOS");
  }
  if (rule.by_month_day.size() > 1 || (!rule.by_month_day.empty() && !monthly_or_yearly) ||
      (!rule.by_month_day.empty() && !rule.by_day.empty())) {
    unsupported("BYMONTHDAY");
  }
  if (!rule.by_month_day.empty() && rule.by_month_day[0] < 0 && rule.by_month_day[0] != -1) {
    unsupported("BYMONTHDAY");
  }
  if (rule.by_month.size() > 1 || (!rule.by_month.empty() && rule.frequency != F::kYearly)) {
    unsupported("BYMONTH");
  }
  if (rule.frequency == F::kDaily && !rule.by_day.empty()) {
    // Outlook's "every weekday" is the one daily series with days.
    std::vector<int> days;
    for (const auto& d : rule.by_day) days.push_back(d.first);
    std::sort(days.begin(), days.end());
    if (days != std::vector<int>{1, 2, 3, 4, 5} || rule.interval != 1) unsupported("BYDAY");
  }
  return rule;
}

std::vector<store::LocalDateTime> Occurrences(const RecurrenceRule& rule,
                                              const store::LocalDateTime& first,
                                              std::size_t limit) {
  using F = RecurrenceRule::Frequency;
  std::vector<store::LocalDateTime> out;
  const std::int64_t first_day = DayNumber(first.year, first.month, first.day);
  const std::size_t wanted = rule.count ? std::min<std::size_t>(*rule.count, limit) : limit;
  auto take = [&](std::int64_t day) {
    if (day < first_day) return true;
    const store::LocalDateTime t = FromDayNumber(day, first);
    if (rule.until && base::UnixOfWallTime(t) > base::UnixOfWallTime(*rule.until)) return false;
    out.push_back(t);
    return out.size() < wanted;
  };
  // Bounded however the rule reads: no more than 400 years of periods are looked at.
  if (rule.frequency == F::kDaily) {
    const bool weekdays = !rule.by_day.empty();
    for (std::int64_t day = first_day, n = 0; n < 146100; ++n, day += weekdays ? 1 : rule.interval) {
      const int wd = WeekdayOf(day);
      if (weekdays && (wd == 0 || wd == 6)) continue;
      if (!take(day)) break;
    }
  } else if (rule.frequency == F::kWeekly) {
    std::vector<int> days;
    for (const auto& d : rule.by_day) days.push_back(d.first);
    if (days.empty()) days.push_back(WeekdayOf(first_day));
    // Weeks begin on WKST; every interval-th week from the first one.
    const std::int64_t week0 = first_day - (WeekdayOf(first_day) - rule.week_start + 7) % 7;
    std::vector<int> offsets;
    for (int d : days) offsets.push_back((d - rule.week_start + 7) % 7);
    std::sort(offsets.begin(), offsets.end());
    offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
    bool going = true;
    for (std::int64_t week = week0, n = 0; going && n < 20900; ++n, week += 7LL * rule.interval) {
      for (int o : offsets) {
        if (!(going = take(week + o))) break;
      }
    }
  } else {
    const int step = rule.frequency == F::kYearly ? 12 * rule.interval : rule.interval;
    int year = first.year, month = first.month;
    if (rule.frequency == F::kYearly && !rule.by_month.empty()) month = rule.by_month[0];
    bool going = true;
    for (int n = 0; going && n < 4800; ++n) {
      for (int d : DaysOfMonth(rule, year, month, first.day)) {
        if (!(going = take(DayNumber(year, month, d)))) break;
      }
      month += step;
      year += (month - 1) / 12;
      month = (month - 1) % 12 + 1;
    }
  }
  return out;
}

}  // namespace mailvane::zimbra
