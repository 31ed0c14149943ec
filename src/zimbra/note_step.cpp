#include <vector>

#include "source/failure_log.h"
#include "zimbra/guarded_item.h"
#include "zimbra/item_writers.h"
#include "zimbra/meta_key_tables.h"
#include "zimbra/meta_record.h"
#include "zimbra/record_steps.h"

namespace mailvane::zimbra {

bool ConvertNoteRecord(ItemContext& ctx, source::ExportFile& file) {
  ctx.front_end.Doing(source::Activity::kConvertingNote, file.shown());
  bool written = false;
  source::TryStep(ctx.failures, file.shown(), "convert note", [&] {
    const auto yield = [&ctx] { ctx.front_end.Yield(); };
    std::u16string text;
    if (!ReadRecordText(ctx, file, text)) return;
    const auto section = MetaSection(text, kNoteMarker);
    if (!section) return;
    MetaValues v(kNoteValueCount);
    ScanMetaKeys(MetaTokens(*section), NoteMetaKeys(), v, yield);
    // A page's record has 25 JSON keys or more, and servers on Java 8 or later then write
    // "metadata" before "Path", so the fragment stands before the marker: look there too.
    if (v[kNoteText].empty()) {
      const std::u16string marker(kNoteMarker.begin(), kNoteMarker.end());
      const std::u16string_view before =
          std::u16string_view(text).substr(0, text.find(marker));
      std::vector<MetaKey> text_key;
      for (const MetaKey& row : NoteMetaKeys()) {
        if (row.destination == kNoteText) text_key.push_back(row);
      }
      ScanMetaKeys(MetaTokens(before), text_key, v, yield);
    }
    written = CreateNotesItem(ctx, file.shown(), ctx.storeID, 12, TrimSpaces(v[kNoteSubject]),
                              TrimSpaces(v[kNoteText]));
  });
  return written;
}

}  // namespace mailvane::zimbra
