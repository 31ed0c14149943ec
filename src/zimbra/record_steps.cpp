#include "zimbra/record_steps.h"

#include "zimbra/guarded_item.h"
#include "zimbra/meta_record.h"

namespace mailvane::zimbra {

bool ScanRecord(ItemContext& ctx, const std::string& file, std::string_view marker,
                std::span<const MetaKey> table, MetaValues& values) {
  const auto yield = [&ctx] { ctx.front_end.Yield(); };
  const MetaRecordText record = ReadMetaRecord(file, yield);
  if (!record.failure.empty()) {
    ctx.failures.RecordFailure(file, "read record", record.failure);
    return false;
  }
  const auto section = MetaSection(record.text, marker);
  if (!section) return false;
  ScanMetaKeys(MetaTokens(*section), table, values, yield);
  return true;
}

std::string DataFileOf(const std::string& record_path) {
  // The run's test made sure the name ends in ".appt.meta" / ".task.meta". Removing every
  // ".meta" would also change a folder such as "x.meta" on the way.
  std::string path = TrimSpaces(record_path);
  if (path.size() >= 5) path.resize(path.size() - 5);
  return path;
}

std::vector<MetaKey> WithWholeDateTimes(std::span<const MetaKey> table) {
  std::vector<MetaKey> rows(table.begin(), table.end());
  for (MetaKey& row : rows) {
    if (row.form == MetaValueForm::FixedTwoOnValue) row.form = MetaValueForm::CountedValue;
  }
  return rows;
}

}  // namespace mailvane::zimbra
