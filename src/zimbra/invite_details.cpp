#include "zimbra/invite_details.h"

#include <ctime>

#include "base/file_time.h"
#include "base/zone_time.h"

namespace mailvane::zimbra {
namespace {

void SetInt(GuardedItem& item, std::string_view name, int value) {
  item.Step(name, [&](store::Item& i) { i.SetInt(name, value); });
}
void SetBool(GuardedItem& item, std::string_view name, bool value) {
  item.Step(name, [&](store::Item& i) { i.SetBool(name, value); });
}

// Outlook's importance: 2 high, 1 normal, 0 low; iCalendar's 1-4 high, 5 normal, 6-9 low.
std::optional<int> ImportanceOf(std::optional<int> priority) {
  if (!priority || *priority <= 0 || *priority > 9) return std::nullopt;
  return *priority < 5 ? 2 : *priority == 5 ? 1 : 0;
}

// PidTagRecipientTrackStatus / PidLidResponseStatus of a participation status.
int ResponseOf(std::string_view ptst) {
  if (ptst == "AC") return 3;
  if (ptst == "TE") return 2;
  if (ptst == "DE") return 4;
  if (ptst == "NE") return 5;
  return 0;
}

void WriteCommon(GuardedItem& item, const Invite& inv) {
  if (const auto importance = ImportanceOf(inv.priority)) SetInt(item, "Importance", *importance);
  if (inv.klass == "PRI") SetInt(item, "Sensitivity", 2);
  if (inv.klass == "CON") SetInt(item, "Sensitivity", 3);
  if (!inv.html_description.empty()) item.SetText("HTMLBody", inv.html_description);
}

store::LocalDateTime ShiftedMinutes(const store::LocalDateTime& t, int minutes) {
  const std::time_t moment = base::UnixOfWallTime(t) - static_cast<std::time_t>(minutes) * 60;
  std::tm tm{};
  gmtime_r(&moment, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

}  // namespace

void WriteCalendarTime(GuardedItem& item, std::string_view name, const CalendarTime& t) {
  using Kind = CalendarTime::Kind;
  if (t.kind == Kind::kUtc) {
    const auto utc = base::FileTimeFromUnix(base::UnixOfWallTime(t.local));
    item.Step(name, [&](store::Item& i) { i.SetUtcTime(name, utc); });
    return;
  }
  if (t.kind == Kind::kZoned) {
    if (const auto unix_time = base::ZonedTimeToUnix(t.zone, t.local)) {
      const auto utc = base::FileTimeFromUnix(*unix_time);
      item.Step(name, [&](store::Item& i) { i.SetUtcTime(name, utc); });
      return;
    }
    ItemContext& ctx = item.context();
    if (ctx.notice) {
      ctx.notice(item.file(), std::string(name) + ": unknown time zone \"" + t.zone +
                                  "\", the time was read in the local zone");
    }
  }
  item.SetDate(name, t.local);  // dates, floating times, unknown zones: local wall time
}

void WriteAppointmentDetails(GuardedItem& item, const Invite& inv) {
  static constexpr std::pair<std::string_view, int> kBusy[] = {
      {"F", 0}, {"T", 1}, {"B", 2}, {"O", 3}};
  for (const auto& [code, status] : kBusy) {
    if (inv.free_busy == code) SetInt(item, "BusyStatus", status);
  }
  WriteCommon(item, inv);
  if (inv.reminder && inv.reminder->minutes_before) {
    SetBool(item, "ReminderSet", true);
    SetInt(item, "ReminderMinutesBeforeStart", *inv.reminder->minutes_before);
  }
  if (inv.attendees.empty()) return;
  // A meeting: the organizer and every attendee in the recipient table.
  SetInt(item, "MeetingStatus", 1);
  if (inv.organizer) {
    const Participant& o = *inv.organizer;
    item.Step("AddRecipient", [&](store::Item& i) { i.AddRecipient(o.name, o.address, 1, 0, true); });
  }
  for (const Participant& a : inv.attendees) {
    const int type = a.role == "OPT" ? 2 : a.role == "NON" ? 3 : 1;
    item.Step("AddRecipient", [&](store::Item& i) {
      i.AddRecipient(a.name, a.address, type, ResponseOf(a.status), false);
    });
  }
}

void WriteTaskDetails(GuardedItem& item, const Invite& inv) {
  static constexpr std::pair<std::string_view, int> kStatus[] = {
      {"NEED", 0}, {"INPR", 1}, {"COMP", 2}, {"WAITING", 3}, {"DEFERRED", 4}};
  const bool complete = inv.status == "COMP";
  for (const auto& [code, status] : kStatus) {
    if (inv.status == code) SetInt(item, "Status", status);
  }
  int percent = inv.percent_complete.value_or(0);
  if (complete) percent = 100;
  if (percent > 0 && percent <= 100) SetInt(item, "PercentComplete", percent);
  if (complete) SetBool(item, "Complete", true);
  if (inv.completed_ms) {
    const std::time_t seconds = static_cast<std::time_t>(*inv.completed_ms / 1000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    item.SetDate("DateCompleted", {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, 0, 0, 0});
  }
  WriteCommon(item, inv);
  if (!inv.reminder) return;
  // A task's reminder is a moment: given as one, or so many minutes before the due date
  // (the start when there is none).
  std::optional<CalendarTime> at;
  if (!inv.reminder->absolute.empty()) {
    at = ReadCalendarTime(inv.reminder->absolute);
  } else if (auto base = ReadCalendarTime(inv.end.empty() ? inv.start : inv.end)) {
    base->local = ShiftedMinutes(base->local, *inv.reminder->minutes_before);
    at = base;
  }
  if (!at) return;
  SetBool(item, "ReminderSet", true);
  WriteCalendarTime(item, "ReminderTime", *at);
}

}  // namespace mailvane::zimbra
