// Shared pieces of the four record steps.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zimbra/item_steps.h"
#include "zimbra/meta_keys.h"
#include "zimbra/meta_tree.h"

namespace mailvane::zimbra {

// The record text of file; false when it could not be read (recorded).
bool ReadRecordText(ItemContext& ctx, source::ExportFile& file, std::u16string& text);

// Reads the record of file and scans the section after marker with table into values.
// False when the file holds no record of that kind (or could not be read: recorded).
bool ScanRecord(ItemContext& ctx, source::ExportFile& file, std::string_view marker,
                std::span<const MetaKey> table, MetaValues& values);

struct RecordTree {
  bool read = false;               // false: the file could not be read (recorded)
  std::optional<MetaTree> tree;    // nullopt: read, but not JSON (old key scan applies)
};
// The record of file as a tree.
RecordTree ReadRecordTree(ItemContext& ctx, source::ExportFile& file);

// Whether the record holds an item of that Zimbra type: its "type" says so or, in a record
// without one, is_kind_of_old says so (the key-text tests of old records).
bool IsRecordOf(const MetaTree& tree, int zimbra_type, bool is_kind_of_old);

// The record's tags as the text of the item's categories.
std::string CategoriesOf(const MetaTree& tree);

// While it lives, the writer of ctx puts its item into the folder that ctx.item_folder
// gives for the file at path and type (the default folder when it gives none).
class ItemFolderScope {
 public:
  ItemFolderScope(ItemContext& ctx, const std::string& path, store::ItemType type);
  ~ItemFolderScope() { ctx_.target_folder = nullptr; }
  ItemFolderScope(const ItemFolderScope&) = delete;
  ItemFolderScope& operator=(const ItemFolderScope&) = delete;

 private:
  ItemContext& ctx_;
  std::unique_ptr<store::Folder> folder_;
};

// The table with its date rows ("st", "et") taking the whole date-time value instead of
// its date text.
std::vector<MetaKey> WithWholeDateTimes(std::span<const MetaKey> table);

}  // namespace mailvane::zimbra
