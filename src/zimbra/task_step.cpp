#include "source/failure_log.h"
#include "zimbra/guarded_item.h"
#include "zimbra/item_writers.h"
#include "zimbra/meta_key_tables.h"
#include "zimbra/record_steps.h"

namespace mailvane::zimbra {

bool ConvertTaskRecord(ItemContext& ctx, source::ExportFile& file) {
  ctx.front_end.Doing(source::Activity::kConvertingTask, file.shown());
  // The writer takes the date of the whole value, as for appointments.
  static const std::vector<MetaKey> keys = WithWholeDateTimes(TaskMetaKeys());
  bool written = false;
  source::TryStep(ctx.failures, file.shown(), "convert task", [&] {
    MetaValues v(kTaskValueCount);
    if (!ScanRecord(ctx, file, kTaskMarker, keys, v)) return;
    written = CreateToDoItem(ctx, file.shown(), ctx.storeID, 13, TrimSpaces(v[kTaskSubject]),
                             TrimSpaces(v[kTaskStart]), TrimSpaces(v[kTaskDue]),
                             TrimSpaces(v[kTaskDescription]), file.DataFile());
  });
  return written;
}

}  // namespace mailvane::zimbra
