// An iCalendar recurrence rule (RFC 5545 RRULE, as Zimbra keeps it in "recur") and the
// dates of the occurrences it gives.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/mail_store.h"

namespace mailvane::zimbra {

struct RecurrenceRule {
  enum class Frequency { kDaily, kWeekly, kMonthly, kYearly };
  Frequency frequency = Frequency::kDaily;
  int interval = 1;
  std::optional<int> count;
  std::optional<store::LocalDateTime> until;  // as written; a UTC "Z" ending dropped
  bool until_utc = false;
  // BYDAY: weekday 0 (Sunday) to 6 with its ordinal (0 none, 1..5, -1 last).
  std::vector<std::pair<int, int>> by_day;
  std::vector<int> by_month_day;
  std::vector<int> by_month;
  std::optional<int> by_set_pos;
  int week_start = 1;  // WKST, Monday unless told
  // Parts a series of Outlook cannot express ("FREQ=HOURLY", "BYWEEKNO", ...); empty
  // when it can be converted.
  std::string unsupported;
};

// nullopt when the text is not a rule at all (no FREQ, a part that does not read).
std::optional<RecurrenceRule> ParseRecurrenceRule(std::string_view rrule);

// The wall-clock starts of the occurrences from first on (first included when the rule
// gives it), at most limit of them; a rule without an end stops at limit.
std::vector<store::LocalDateTime> Occurrences(const RecurrenceRule& rule,
                                              const store::LocalDateTime& first,
                                              std::size_t limit);

// Days since 1970-01-01 of a date, and the weekday (0 Sunday) of such a day.
std::int64_t DayNumber(int year, int month, int day);
int WeekdayOf(std::int64_t day_number);

}  // namespace mailvane::zimbra
