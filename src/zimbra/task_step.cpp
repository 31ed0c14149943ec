#include "source/failure_log.h"
#include "zimbra/guarded_item.h"
#include "zimbra/invite_details.h"
#include "zimbra/item_writers.h"
#include "zimbra/meta_key_tables.h"
#include "zimbra/record_steps.h"
#include "zimbra/task_recurrence.h"

namespace mailvane::zimbra {

bool ConvertTaskRecord(ItemContext& ctx, source::ExportFile& file) {
  ctx.front_end.Doing(source::Activity::kConvertingTask, file.shown());
  // The writer takes the date of the whole value, as for appointments.
  static const std::vector<MetaKey> keys = WithWholeDateTimes(TaskMetaKeys());
  bool written = false;
  source::TryStep(ctx.failures, file.shown(), "convert task", [&] {
    const RecordTree record = ReadRecordTree(ctx, file);
    if (!record.read) return;
    if (!record.tree) {
      // Not JSON: the key texts of the section after the marker, as far as they go.
      MetaValues v(kTaskValueCount);
      if (!ScanRecord(ctx, file, kTaskMarker, keys, v)) return;
      written = CreateToDoItem(ctx, file.shown(), ctx.storeID, 13, TrimSpaces(v[kTaskSubject]),
                               TrimSpaces(v[kTaskStart]), TrimSpaces(v[kTaskDue]),
                               TrimSpaces(v[kTaskDescription]), file.DataFile());
      return;
    }
    const MetaTree& tree = *record.tree;
    const bool old_kind = tree.Path().find(kTaskMarker) != std::string::npos;
    if (!IsRecordOf(tree, kZimbraTask, old_kind)) return;
    const std::vector<const MetaNode*> invites = InvitesOf(tree.metadata);
    const Invite inv = invites.empty() ? Invite{} : ReadInvite(*invites.front());
    ItemFolderScope folder(ctx, file.path(), store::ItemType::kTask);
    written = CreateToDoItem(ctx, file.shown(), ctx.storeID, 13, TrimSpaces(inv.subject),
                             TrimSpaces(inv.start), TrimSpaces(inv.end),
                             TrimSpaces(inv.description), file.DataFile(),
                             [&](GuardedItem& item) {
                               const std::string categories = CategoriesOf(tree);
                               if (!categories.empty()) item.SetText("Categories", categories);
                               WriteTaskDetails(item, inv);
                               WriteTaskRecurrence(item, tree, inv);
                             });
  });
  return written;
}

}  // namespace mailvane::zimbra
