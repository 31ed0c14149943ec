// The .meta record scanner: decoding, JSON unescaping, sections, tokens and every kind's
// key table over any bytes; and the record parser with the invite reader over its tree.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "fuzz_support.h"
#include "zimbra/meta_key_tables.h"
#include "zimbra/meta_keys.h"
#include "zimbra/meta_record.h"
#include "zimbra/invite.h"
#include "zimbra/meta_text.h"
#include "zimbra/meta_tree.h"

using namespace mailvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // The record is the file's last line: go through the reader itself, file and all.
  const std::filesystem::path file = fuzz::ScratchFolder() / "record.meta";
  fuzz::WriteBytes(file, bytes);
  const zimbra::MetaRecordText record = zimbra::ReadMetaRecord(file.string());
  if (!record.failure.empty()) fuzz::Fail("a written file was not read: " + record.failure);
  (void)zimbra::ToUtf8(zimbra::UnescapeJson(zimbra::DecodeMetaBytes(bytes)));

  struct Kind {
    std::string_view marker;
    std::span<const zimbra::MetaKey> keys;
  };
  const Kind kinds[] = {{zimbra::kContactMarker, zimbra::ContactMetaKeys()},
                        {zimbra::kCalendarMarker, zimbra::CalendarMetaKeys()},
                        {zimbra::kTaskMarker, zimbra::TaskMetaKeys()},
                        {zimbra::kNoteMarker, zimbra::NoteMetaKeys()}};
  for (const Kind& kind : kinds) {
    const auto section = zimbra::MetaSection(record.text, kind.marker);
    if (!section) continue;
    zimbra::MetaValues values;
    zimbra::ScanMetaKeys(zimbra::MetaTokens(*section), kind.keys, values);
    for (const std::string& v : values) (void)zimbra::MetaDateText(v);
  }
  const zimbra::ParsedMetaRecord parsed = zimbra::ParseMetaRecord(bytes);
  if (parsed.tree.has_value() == !parsed.failure.empty()) fuzz::Fail("a parse gave both or neither");
  if (parsed.tree) {
    (void)parsed.tree->Type();
    (void)parsed.tree->TagNames();
    for (const zimbra::MetaNode* invite : zimbra::InvitesOf(parsed.tree->metadata)) {
      (void)zimbra::ReadInvite(*invite);
    }
  }
  return 0;
}
