#include "zimbra/guarded_item.h"
#include "zimbra/item_writers.h"

namespace mailvane::zimbra {

bool CreateNotesItem(ItemContext& ctx, std::string_view file, const std::string& storeID,
                     int FolderName, const std::string& eSubject, const std::string& eBody) {
  GuardedItem item(ctx, file);
  if (!item.Create(storeID, FolderName, store::ItemType::kNote)) return false;
  ctx.front_end.Yield();
  item.SetText("Subject", eSubject);
  item.SetText("Body", eBody);
  return item.Save();
}

}  // namespace mailvane::zimbra
