#include "zimbra/appointment_series.h"

#include <cstdio>

#include "base/file_time.h"
#include "store/local_time.h"
#include "zimbra/item_dates.h"
#include "zimbra/recurrence_blob.h"
#include "zimbra/time_zone_definition.h"
#include "base/zone_time.h"

namespace mailvane::zimbra {
namespace {

pst::messaging::NamedProperty Appointment(std::uint32_t lid, pst::ltp::PropType type) {
  pst::messaging::NamedProperty n;
  n.set = pst::messaging::PsetidAppointment();
  n.lid = lid;
  n.type = type;
  return n;
}

// The series' clock: its zone, or the local zone for floating times and dates.
struct SeriesClock {
  std::string zone;  // empty: local

  store::LocalDateTime Wall(const CalendarTime& t) const {
    if (t.kind == CalendarTime::Kind::kUtc && !zone.empty()) {
      // UTC to the zone's wall clock: the offset at the guess, then again at the result.
      store::LocalDateTime wall = t.local;
      for (int i = 0; i < 2; ++i) {
        const auto moment = base::ZonedTimeToUnix(zone, wall);
        if (!moment) break;
        const std::int64_t offset = base::UnixOfWallTime(wall) - *moment;
        wall = FromUnix(base::UnixOfWallTime(t.local) + offset);
      }
      return wall;
    }
    return t.local;
  }
  base::FileTime Utc(const store::LocalDateTime& wall) const {
    if (!zone.empty()) {
      if (const auto moment = base::ZonedTimeToUnix(zone, wall)) return base::FileTimeFromUnix(*moment);
    }
    return store::FileTimeFromLocal(wall);
  }
  static store::LocalDateTime FromUnix(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  }
};

// The rule text and duration of the series: the master invite's own recurrence, else the
// item's "apptRecur"; the first rule of its "add" part.
const MetaNode* FirstRule(const MetaTree& tree, const Invite& master, std::size_t& rules) {
  const MetaNode* recurrence = master.recurrence;
  if (recurrence == nullptr) recurrence = tree.metadata.Find("apptRecur");
  if (recurrence == nullptr) return nullptr;
  const MetaNode* add = recurrence->Find("add");
  if (add == nullptr) return nullptr;
  rules = 0;
  const MetaNode* first = nullptr;
  for (int i = 0; const MetaNode* r = add->Find("r" + std::to_string(i)); ++i) {
    ++rules;
    if (first == nullptr) first = r;
  }
  return first;
}

std::string Clock(const store::LocalDateTime& t) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d:%02d", t.hour % 24, t.minute % 60);
  return text;
}

std::string PatternText(const RecurrenceRule& r, const store::LocalDateTime& start, int minutes) {
  static constexpr const char* kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday",
                                          "Thursday", "Friday", "Saturday"};
  static constexpr const char* kNth[] = {"last", "first", "second", "third", "fourth", "fifth"};
  const std::string every = r.interval == 1 ? "every " : "every " + std::to_string(r.interval) + " ";
  std::string days;
  for (const auto& [day, ordinal] : r.by_day) {
    if (!days.empty()) days += ", ";
    if (ordinal != 0) days += std::string("the ") + kNth[ordinal < 0 ? 0 : std::min(ordinal, 5)] + " ";
    days += kDays[day];
  }
  std::string text = "Occurs ";
  using F = RecurrenceRule::Frequency;
  switch (r.frequency) {
    case F::kDaily: text += days.empty() ? every + (r.interval == 1 ? "day" : "days") : "every weekday"; break;
    case F::kWeekly: text += every + (r.interval == 1 ? "week" : "weeks") + (days.empty() ? "" : " on " + days); break;
    case F::kMonthly: text += (days.empty() ? "day " + std::to_string(r.by_month_day.empty() ? start.day : r.by_month_day[0]) : days) + " of " + every + (r.interval == 1 ? "month" : "months"); break;
    case F::kYearly: text += every + (r.interval == 1 ? "year" : "years"); break;
  }
  char date[16];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", start.year, start.month, start.day);
  store::LocalDateTime end = SeriesClock::FromUnix(base::UnixOfWallTime(start) + minutes * 60LL);
  return text + " effective " + date + " from " + Clock(start) + " to " + Clock(end);
}

void Notice(GuardedItem& item, const std::string& note) {
  if (item.context().notice) item.context().notice(item.file(), note);
}

}  // namespace

void WriteSeries(GuardedItem& item, const MetaTree& tree, const Invite& master) {
  std::size_t rules = 0;
  const MetaNode* first_rule = FirstRule(tree, master, rules);
  if (first_rule == nullptr) return;
  const std::string text = first_rule->Text("recur");
  const std::optional<CalendarTime> start = ReadCalendarTime(master.start);
  std::optional<RecurrenceRule> rule = ParseRecurrenceRule(text);
  std::string why;
  if (!rule) why = "its rule does not read";
  else if (!rule->unsupported.empty()) why = "Outlook has no pattern for " + rule->unsupported;
  else if (rules > 1) why = "it has " + std::to_string(rules) + " rules";
  else if (!start) why = "its start does not read";
  if (!why.empty()) {
    Notice(item, "the recurring series \"" + text + "\" was written as its first occurrence: " + why);
    return;
  }
  SeriesClock clock;
  if (start->kind == CalendarTime::Kind::kZoned && base::ZonedTimeToUnix(start->zone, start->local)) {
    clock.zone = start->zone;
  }
  SeriesLayout layout;
  layout.rule = *rule;
  layout.first_start = start->local;
  if (const auto end = ReadCalendarTime(master.end)) {
    layout.duration_minutes =
        static_cast<int>((base::UnixOfWallTime(clock.Wall(*end)) - base::UnixOfWallTime(start->local)) / 60);
  } else if (const auto seconds = DurationSeconds(first_rule->Text("dur"))) {
    layout.duration_minutes = static_cast<int>(*seconds / 60);
  }
  if (layout.rule.until && layout.rule.until_utc && !clock.zone.empty()) {
    CalendarTime until{CalendarTime::Kind::kUtc, *layout.rule.until, ""};
    layout.rule.until = clock.Wall(until);
  }
  // The other invites with a recurrence id: cancelled occurrences and changed ones.
  std::vector<std::string> seen;
  const std::vector<const MetaNode*> invites = InvitesOf(tree.metadata);
  for (std::size_t i = 1; i < invites.size(); ++i) {
    const Invite inv = ReadInvite(*invites[i]);
    const auto original = ReadCalendarTime(inv.recurrence_id);
    if (!original) continue;
    seen.push_back(inv.recurrence_id);
    const bool cancelled = invites[i]->Text("mthd") == "CANCEL" || inv.status == "CANC";
    const auto s = ReadCalendarTime(inv.start);
    const auto e = ReadCalendarTime(inv.end);
    if (cancelled || !s || !e) {
      layout.deleted.push_back(clock.Wall(*original));
      continue;
    }
    ChangedOccurrence c;
    c.original_start = clock.Wall(*original);
    c.start = clock.Wall(*s);
    c.end = clock.Wall(*e);
    if (inv.subject != master.subject) c.subject = inv.subject;
    if (inv.location != master.location) c.location = inv.location;
    layout.changed.push_back(c);
    store::OccurrenceException x;
    x.start = clock.Utc(c.start);
    x.end = clock.Utc(c.end);
    x.original_start = clock.Utc(c.original_start);
    x.start_wall = store::WallClockFileTime(c.start);
    x.end_wall = store::WallClockFileTime(c.end);
    x.subject = inv.subject;
    x.location = inv.location;
    x.body = inv.description;
    item.Step("AddException", [&](store::Item& i) { i.AddException(x); });
  }
  // Cancellations the recurrence lists without an invite of their own.
  if (const MetaNode* recur = tree.metadata.Find("apptRecur")) {
    for (int n = 0; const MetaNode* ex = recur->Find("ex" + std::to_string(n)); ++n) {
      const MetaNode* rid = ex->Find("rid");
      if (ex->Number("t").value_or(0) != 6 || rid == nullptr) continue;
      const std::string dt = rid->Text("dt");
      if (std::find(seen.begin(), seen.end(), dt) != seen.end()) continue;
      if (const auto original = ReadCalendarTime(dt)) layout.deleted.push_back(clock.Wall(*original));
    }
  }

  const RecurrenceBlob blob = MakeRecurrenceBlob(layout);
  using pst::ltp::PropType;
  using pst::ltp::PropValue;
  auto set = [&item](std::uint32_t lid, PropType type, const PropValue& value) {
    item.Step("AppointmentRecur", [&](store::Item& i) { i.SetNamedProp(Appointment(lid, type), value); });
  };
  set(0x8216, PropType::kBinary, PropValue::Binary(blob.bytes));      // PidLidAppointmentRecur
  set(0x8223, PropType::kBoolean, PropValue::Boolean(true));          // PidLidRecurring
  set(0x8231, PropType::kInt32, PropValue::Int32(blob.recurrence_type));
  set(0x8232, PropType::kString,
      PropValue::String(PatternText(layout.rule, layout.first_start, layout.duration_minutes)));
  // The clip dates: midnight of the first and the last day (no end: Outlook's far date).
  set(0x8235, PropType::kTime, PropValue::Time(clock.Utc(blob.first_day)));
  const base::FileTime no_end = static_cast<base::FileTime>(0x5AE980DFULL) * 600000000ULL;
  set(0x8236, PropType::kTime, PropValue::Time(blob.ends ? clock.Utc(blob.last_day) : no_end));
  if (!clock.zone.empty()) {
    if (const auto posix = base::ZonePosixRule(clock.zone)) {
      if (const auto tz = TimeZoneStruct(*posix)) {
        set(0x8233, PropType::kBinary, PropValue::Binary(*tz));      // PidLidTimeZoneStruct
        set(0x8234, PropType::kString, PropValue::String(clock.zone));  // its description
        // The same rule as Outlook 2007 and later read it first: the series' zone, and the
        // zone its start and end are shown in.
        const int year = blob.first_day.year;
        const std::pair<std::uint32_t, TimeZoneUse> definitions[] = {
            {0x8260, TimeZoneUse::kRecurringSeries}, {0x825E, TimeZoneUse::kDisplay},
            {0x825F, TimeZoneUse::kDisplay}};
        for (const auto& [lid, use] : definitions) {
          if (const auto d = TimeZoneDefinition(clock.zone, *tz, year, use)) {
            set(lid, PropType::kBinary, PropValue::Binary(*d));
          }
        }
      }
    }
  }
}

}  // namespace mailvane::zimbra
