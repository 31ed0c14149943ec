#include "source/failure_log.h"
#include "zimbra/guarded_item.h"
#include "zimbra/item_writers.h"
#include "zimbra/meta_key_tables.h"
#include "zimbra/record_steps.h"

namespace mailvane::zimbra {

bool ConvertCalendarRecord(ItemContext& ctx, source::ExportFile& file) {
  ctx.front_end.Doing(source::Activity::kConvertingAppointment, file.shown());
  // Appointments keep their times and zones, so "st" and "et" are read whole.
  static const std::vector<MetaKey> keys = WithWholeDateTimes(CalendarMetaKeys());
  bool written = false;
  source::TryStep(ctx.failures, file.shown(), "convert appointment", [&] {
    MetaValues v(kCalendarValueCount);
    if (!ScanRecord(ctx, file, kCalendarMarker, keys, v)) return;
    written = CreateCalendarItem(
        ctx, file.shown(), ctx.storeID, 9, TrimSpaces(v[kCalendarSubject]), TrimSpaces(v[kCalendarStart]),
        TrimSpaces(v[kCalendarEnd]), TrimSpaces(v[kCalendarLocation]), std::string(),
        TrimSpaces(v[kCalendarDescription]), file.DataFile());
  });
  return written;
}

}  // namespace mailvane::zimbra
