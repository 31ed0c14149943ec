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

std::vector<MetaKey> WithWholeDateTimes(std::span<const MetaKey> table) {
  std::vector<MetaKey> rows(table.begin(), table.end());
  for (MetaKey& row : rows) {
    if (row.form == MetaValueForm::FixedTwoOnValue) row.form = MetaValueForm::CountedValue;
  }
  return rows;
}

}  // namespace mailvane::zimbra
