#include "pst/messaging/message.h"

#include <algorithm>
#include <stdexcept>

#include "pst/messaging/message_writer.h"
#include "pst/messaging/name_to_id_map.h"
#include "pst/messaging/pst_store.h"
#include "pst/messaging/table_templates.h"

namespace mailvane::pst::messaging {

Message::Message(Folder folder) : folder_(folder) {}

void Message::Save() {
  PstStore& store = folder_.store();
  store.StateOf(folder_.nid());  // raises for a folder the store does not have
  ndb::NodeDatabase& db = store.db();
  NameToIdMap& names = store.name_to_id_map();
  const ndb::Nid nid = nid_ != 0 ? nid_ : db.AllocateNid(ndb::NidType::kNormalMessage);
  const std::vector<std::uint8_t> entry_id = store.EntryIdOf(nid);
  const WrittenObject written = WriteMessageObject(db, names, content_, MessageIdentity{&entry_id});
  try {
    // Replacing the node releases what the previous save wrote.
    db.PutNode(ndb::NodeEntry{nid, written.data, written.subnodes, folder_.nid()});
  } catch (...) {
    BlockGuard guard(db);
    guard.Own(written.data);
    guard.Own(written.subnodes);
    guard.ReleaseAll();
    throw;
  }
  nid_ = nid;
  // The contents row repeats the message's own values for the table's columns.
  const auto columns = ContentsColumns();
  std::vector<ltp::TaggedValue> cells;
  for (const MessageProperty& p : content_.props.all()) {
    if (p.named) continue;
    if (std::find(columns.begin(), columns.end(), p.tag) == columns.end()) continue;
    cells.push_back(ltp::TaggedValue{p.tag, p.value});
  }
  store.PutContentsRow(folder_.nid(), nid, std::move(cells));
}

std::vector<std::uint8_t> Message::EntryId() const {
  if (nid_ == 0) throw std::logic_error("a message has no entry ID before it is saved");
  return folder_.store().EntryIdOf(nid_);
}

}  // namespace mailvane::pst::messaging
