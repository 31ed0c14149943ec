#include <optional>

#include "zimbra/attach_from_data_file.h"
#include "zimbra/guarded_item.h"
#include "zimbra/item_dates.h"
#include "zimbra/item_writers.h"
#include "zimbra/invite_details.h"

namespace mailvane::zimbra {

bool CreateCalendarItem(ItemContext& ctx, std::string_view file, const std::string& storeID,
                        int FolderName, const std::string& eSubject, const std::string& eStart,
                        const std::string& eEnd, const std::string& eLocation,
                        const std::string& eCategories, const std::string& eBody,
                        source::ExportFile* eAttachFile, const ItemDetails& details) {
  GuardedItem item(ctx, file);
  if (!item.Create(storeID, FolderName, store::ItemType::kAppointment)) return false;
  ctx.front_end.Yield();
  item.SetText("Subject", eSubject);
  // A value that is not a date-time leaves its property unwritten.
  const std::optional<CalendarTime> start = ReadCalendarTime(eStart);
  const std::optional<CalendarTime> end = ReadCalendarTime(eEnd);
  if (start) WriteCalendarTime(item, "Start", *start);
  if (end) WriteCalendarTime(item, "End", *end);
  // Zimbra's all-day end is already the day after, as Outlook's is.
  if (start && end && start->kind == CalendarTime::Kind::kDate &&
      end->kind == CalendarTime::Kind::kDate) {
    item.Step("AllDayEvent", [](store::Item& i) { i.SetBool("AllDayEvent", true); });
  }
  item.SetText("Location", eLocation);
  item.SetText("Categories", eCategories);
  item.SetText("Body", eBody);
  if (details) details(item);
  item.Save();
  AttachFromDataFile(item, eAttachFile);
  item.Save();
  return item.saved();
}

}  // namespace mailvane::zimbra
