#include "source/failure_log.h"
#include "zimbra/guarded_item.h"
#include "zimbra/item_writers.h"
#include "zimbra/meta_key_tables.h"
#include "zimbra/record_steps.h"

namespace mailvane::zimbra {

bool ConvertNoteRecord(ItemContext& ctx, const std::string& file) {
  ctx.front_end.SetStatusText("Converting Notes... from (" + file + ")");
  bool written = false;
  source::TryStep(ctx.failures, file, "convert note", [&] {
    MetaValues v(kNoteValueCount);
    if (!ScanRecord(ctx, file, kNoteMarker, NoteMetaKeys(), v)) return;
    written = CreateNotesItem(ctx, file, ctx.storeID, 12, TrimSpaces(v[kNoteSubject]),
                              TrimSpaces(v[kNoteText]));
  });
  return written;
}

}  // namespace mailvane::zimbra
