#include "zimbra/record_steps.h"

#include "zimbra/guarded_item.h"
#include "zimbra/meta_record.h"

namespace mailvane::zimbra {

bool ReadRecordText(ItemContext& ctx, source::ExportFile& file, std::u16string& text) {
  ctx.front_end.Yield();
  std::string why;
  try {
    text = MetaRecordOfBytes(file.Content());
  } catch (const std::exception& e) {
    why = e.what();
  }
  if (!why.empty()) {
    ctx.failures.RecordFailure(file.shown(), "read record", why);
    return false;
  }
  ctx.front_end.Yield();
  return true;
}

bool ScanRecord(ItemContext& ctx, source::ExportFile& file, std::string_view marker,
                std::span<const MetaKey> table, MetaValues& values) {
  std::u16string text;
  if (!ReadRecordText(ctx, file, text)) return false;
  const auto section = MetaSection(text, marker);
  if (!section) return false;
  ScanMetaKeys(MetaTokens(*section), table, values, [&ctx] { ctx.front_end.Yield(); });
  return true;
}

RecordTree ReadRecordTree(ItemContext& ctx, source::ExportFile& file) {
  RecordTree result;
  ctx.front_end.Yield();
  std::string why;
  try {
    result.tree = std::move(ParseMetaRecord(file.Content()).tree);
  } catch (const std::exception& e) {
    why = e.what();
  }
  if (!why.empty()) {
    ctx.failures.RecordFailure(file.shown(), "read record", why);
    return result;
  }
  ctx.front_end.Yield();
  result.read = true;
  return result;
}

bool IsRecordOf(const MetaTree& tree, int zimbra_type, bool is_kind_of_old) {
  const int type = tree.Type();
  return type < 0 ? is_kind_of_old : type == zimbra_type;
}

std::string CategoriesOf(const MetaTree& tree) {
  std::string text;
  for (const std::string& name : tree.TagNames()) {
    if (!text.empty()) text += "; ";
    text += name;
  }
  return text;
}

ItemFolderScope::ItemFolderScope(ItemContext& ctx, const std::string& path,
                                 store::ItemType type)
    : ctx_(ctx) {
  if (ctx.item_folder) folder_ = ctx.item_folder(path, type);
  ctx.target_folder = folder_.get();
}

std::vector<MetaKey> WithWholeDateTimes(std::span<const MetaKey> table) {
  std::vector<MetaKey> rows(table.begin(), table.end());
  for (MetaKey& row : rows) {
    if (row.form == MetaValueForm::FixedTwoOnValue) row.form = MetaValueForm::CountedValue;
  }
  return rows;
}

}  // namespace mailvane::zimbra
