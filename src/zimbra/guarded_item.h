// One item being written by an item writer. Every operation on it is a step of its own:
// a step that raises is recorded in the run's failure log (file, step, why) and the
// writer goes on with the next one.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "store/mail_store.h"
#include "zimbra/item_steps.h"

namespace mailvane::zimbra {

class GuardedItem {
 public:
  GuardedItem(ItemContext& ctx, std::string_view file) : ctx_(ctx), file_(file) {}

  // Adds a new item of that type to the store's default folder of kind folder_kind, or to
  // the context's target folder when a step set one.
  // False (and recorded) when it cannot be created; every later step is then pointless,
  // so the writer stops instead of recording one failure per property.
  bool Create(const std::string& storeID, int folder_kind, store::ItemType type);

  // Runs body on the item as one step named step; false when it raised.
  bool Step(std::string_view step, const std::function<void(store::Item&)>& body);

  void SetText(std::string_view name, std::string_view utf8);
  void SetDate(std::string_view name, const store::LocalDateTime& local);
  bool Save();

  // True once a save of the item succeeded.
  bool saved() const { return saved_; }
  store::Item* item() { return item_.get(); }
  ItemContext& context() { return ctx_; }
  const std::string& file() const { return file_; }

 private:
  ItemContext& ctx_;
  std::string file_;
  std::unique_ptr<store::Item> item_;
  bool saved_ = false;
};

// Spaces removed at both ends (spaces only: tabs and line breaks stay).
std::string TrimSpaces(std::string_view text);

}  // namespace mailvane::zimbra
