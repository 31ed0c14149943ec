#include "source/failure_log.h"
#include "zimbra/appointment_series.h"
#include "zimbra/guarded_item.h"
#include "zimbra/invite_details.h"
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
    const RecordTree record = ReadRecordTree(ctx, file);
    if (!record.read) return;
    if (!record.tree) {
      // Not JSON: the key texts of the section after the marker, as far as they go.
      MetaValues v(kCalendarValueCount);
      if (!ScanRecord(ctx, file, kCalendarMarker, keys, v)) return;
      written = CreateCalendarItem(
          ctx, file.shown(), ctx.storeID, 9, TrimSpaces(v[kCalendarSubject]),
          TrimSpaces(v[kCalendarStart]), TrimSpaces(v[kCalendarEnd]),
          TrimSpaces(v[kCalendarLocation]), std::string(), TrimSpaces(v[kCalendarDescription]),
          file.DataFile());
      return;
    }
    const MetaTree& tree = *record.tree;
    const bool old_kind = tree.Path().find(kCalendarMarker) != std::string::npos;
    if (!IsRecordOf(tree, kZimbraAppointment, old_kind)) return;
    const std::vector<const MetaNode*> invites = InvitesOf(tree.metadata);
    const Invite inv = invites.empty() ? Invite{} : ReadInvite(*invites.front());
    ItemFolderScope folder(ctx, file.path(), store::ItemType::kAppointment);
    written = CreateCalendarItem(ctx, file.shown(), ctx.storeID, 9, TrimSpaces(inv.subject),
                                 TrimSpaces(inv.start), TrimSpaces(inv.end),
                                 TrimSpaces(inv.location), CategoriesOf(tree),
                                 TrimSpaces(inv.description), file.DataFile(),
                                 [&](GuardedItem& item) {
                                   WriteAppointmentDetails(item, inv);
                                   WriteSeries(item, tree, inv);
                                 });
  });
  return written;
}

}  // namespace mailvane::zimbra
