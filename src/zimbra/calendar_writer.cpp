#include <optional>

#include "zimbra/attach_from_data_file.h"
#include "zimbra/guarded_item.h"
#include "zimbra/item_dates.h"
#include "zimbra/item_writers.h"
#include "zimbra/zone_time.h"

namespace mailvane::zimbra {
namespace {

void WriteTime(GuardedItem& item, std::string_view name, const CalendarTime& t) {
  using Kind = CalendarTime::Kind;
  if (t.kind == Kind::kUtc) {
    const auto utc = FileTimeOfUnix(UnixOfWallTime(t.local));
    item.Step(name, [&](store::Item& i) { i.SetUtcTime(name, utc); });
    return;
  }
  if (t.kind == Kind::kZoned) {
    if (const auto unix_time = ZonedTimeToUnix(t.zone, t.local)) {
      const auto utc = FileTimeOfUnix(*unix_time);
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

}  // namespace

bool CreateCalendarItem(ItemContext& ctx, std::string_view file, const std::string& storeID,
                        int FolderName, const std::string& eSubject, const std::string& eStart,
                        const std::string& eEnd, const std::string& eLocation,
                        const std::string& eCategories, const std::string& eBody,
                        source::ExportFile* eAttachFile) {
  GuardedItem item(ctx, file);
  if (!item.Create(storeID, FolderName, store::ItemType::kAppointment)) return false;
  ctx.front_end.Yield();
  item.SetText("Subject", eSubject);
  // A value that is not a date-time leaves its property unwritten.
  const std::optional<CalendarTime> start = ReadCalendarTime(eStart);
  const std::optional<CalendarTime> end = ReadCalendarTime(eEnd);
  if (start) WriteTime(item, "Start", *start);
  if (end) WriteTime(item, "End", *end);
  // Zimbra's all-day end is already the day after, as Outlook's is.
  if (start && end && start->kind == CalendarTime::Kind::kDate &&
      end->kind == CalendarTime::Kind::kDate) {
    item.Step("AllDayEvent", [](store::Item& i) { i.SetBool("AllDayEvent", true); });
  }
  item.SetText("Location", eLocation);
  item.SetText("Categories", eCategories);
  item.SetText("Body", eBody);
  item.Save();
  AttachFromDataFile(item, eAttachFile);
  item.Save();
  return item.saved();
}

}  // namespace mailvane::zimbra
