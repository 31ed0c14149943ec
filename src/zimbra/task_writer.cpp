#include "zimbra/attach_from_data_file.h"
#include "zimbra/guarded_item.h"
#include "zimbra/item_dates.h"
#include "zimbra/item_writers.h"
#include "zimbra/meta_keys.h"

namespace mailvane::zimbra {
namespace {

// Outlook's task dates are dates: only the date of the value is kept; a value without
// one leaves the property unwritten.
void WriteTaskDate(GuardedItem& item, std::string_view name, const std::string& value) {
  if (const auto date = ReadDateText(MetaDateText(value))) item.SetDate(name, *date);
}

}  // namespace

bool CreateToDoItem(ItemContext& ctx, std::string_view file, const std::string& storeID,
                    int FolderName, const std::string& eSubject, const std::string& eStartDate,
                    const std::string& eDueDate, const std::string& eBody,
                    source::ExportFile* eAttachFile, const ItemDetails& details) {
  GuardedItem item(ctx, file);
  if (!item.Create(storeID, FolderName, store::ItemType::kTask)) return false;
  ctx.front_end.Yield();
  item.SetText("Subject", eSubject);
  WriteTaskDate(item, "StartDate", eStartDate);
  WriteTaskDate(item, "DueDate", eDueDate);
  item.SetText("Body", eBody);
  if (details) details(item);
  item.Save();
  AttachFromDataFile(item, eAttachFile);
  item.Save();
  return item.saved();
}

}  // namespace mailvane::zimbra
