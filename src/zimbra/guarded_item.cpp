#include "zimbra/guarded_item.h"

#include <stdexcept>

#include "source/failure_log.h"

namespace mailvane::zimbra {

bool GuardedItem::Create(const std::string& storeID, int folder_kind, store::ItemType type) {
  return source::TryStep(ctx_.failures, file_, "create item", [&] {
    if (ctx_.target_folder != nullptr) {
      item_ = ctx_.target_folder->AddItem(type);
      if (!item_) throw store::StoreError("the folder returned no new item");
      return;
    }
    store::Store& target = ctx_.session.GetStoreFromID(storeID);
    std::unique_ptr<store::Folder> folder =
        target.GetDefaultFolder(static_cast<store::DefaultFolder>(folder_kind));
    if (!folder) {
      throw store::StoreError("the store has no default folder of kind " +
                              std::to_string(folder_kind));
    }
    item_ = folder->AddItem(type);
    if (!item_) throw store::StoreError("the folder returned no new item");
  });
}

bool GuardedItem::Step(std::string_view step,
                       const std::function<void(store::Item&)>& body) {
  if (!item_) {
    ctx_.failures.RecordFailure(file_, step, "the item was not created");
    return false;
  }
  return source::TryStep(ctx_.failures, file_, step, [&] { body(*item_); });
}

void GuardedItem::SetText(std::string_view name, std::string_view utf8) {
  Step(name, [&](store::Item& item) { item.SetText(name, utf8); });
}

void GuardedItem::SetDate(std::string_view name, const store::LocalDateTime& local) {
  Step(name, [&](store::Item& item) { item.SetDate(name, local); });
}

bool GuardedItem::Save() {
  const bool ok = Step("Save", [](store::Item& item) { item.Save(); });
  saved_ = saved_ || ok;
  return ok;
}

std::string TrimSpaces(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

}  // namespace mailvane::zimbra
