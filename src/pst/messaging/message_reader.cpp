// Reading a message back from the file: its properties (named ones by name), recipients
// from the recipient table, attachments from the attachment table and their objects, and
// embedded messages to any depth a sound file can hold.
#include <algorithm>
#include <cstdio>

#include "base/hex.h"
#include "base/little_endian.h"
#include "pst/ltp/property_context.h"
#include "pst/messaging/ltp_access.h"
#include "pst/messaging/message.h"
#include "pst/messaging/message_writer.h"
#include "pst/messaging/name_to_id_map.h"
#include "pst/messaging/pst_store.h"
#include "pst/ndb/format_error.h"
#include "pst/messaging/property_tags.h"

namespace mailvane::pst::messaging {

namespace {

constexpr int kMaxEmbeddingDepth = 64;  // a damaged file must not recurse without end

void Put(PropertyBag& bag, const NameToIdMap& names, const ltp::TaggedValue& v) {
  if (ltp::PropIdOf(v.tag) >= kFirstNamedId) {
    if (auto name = names.NameOf(ltp::PropIdOf(v.tag))) {
      bag.SetNamed(*name, v.value);
      return;
    }
  }
  bag.Set(v.tag, v.value);
}

const ndb::SubnodeEntry* FindSubnode(const std::vector<ndb::SubnodeEntry>& subnodes, ndb::Nid nid) {
  const auto it = std::find_if(subnodes.begin(), subnodes.end(),
                               [&](const ndb::SubnodeEntry& e) { return e.nid == nid; });
  return it == subnodes.end() ? nullptr : &*it;
}

MessageContent ReadObject(ndb::NodeDatabase& db, const NameToIdMap& names, ndb::Bid data, ndb::Bid sub, int depth);

AttachmentContent ReadAttachment(ndb::NodeDatabase& db, const NameToIdMap& names, const ndb::SubnodeEntry& node,
                                 int depth) {
  const auto subnodes = node.subnodes ? db.ReadSubnodes(node.subnodes) : std::vector<ndb::SubnodeEntry>();
  const ltp::PropertyContext pc(db, node.data, subnodes);
  AttachmentContent out;
  for (const ltp::TaggedValue& v : pc.ReadAll()) {
    if (v.tag == kPrAttachDataBin) {
      out.bytes = v.value.bytes();
    } else if (v.tag == kPrAttachDataObj) {
      if (v.value.bytes().size() != 8) {
        throw ndb::FormatError("attachment " + base::Hex(node.nid) + ": its embedded-object value holds " +
                          std::to_string(v.value.bytes().size()) + " bytes, not 8");
      }
      const ndb::Nid nid = base::Get32(v.value.bytes(), 0);
      const ndb::SubnodeEntry* m = FindSubnode(subnodes, nid);
      if (m == nullptr) {
        throw ndb::FormatError("attachment " + base::Hex(node.nid) + " names embedded message " + base::Hex(nid) +
                          ", which it lacks");
      }
      out.embedded = std::make_unique<MessageContent>(ReadObject(db, names, m->data, m->subnodes, depth + 1));
    } else {
      Put(out.props, names, v);
    }
  }
  return out;
}

MessageContent ReadObject(ndb::NodeDatabase& db, const NameToIdMap& names, ndb::Bid data, ndb::Bid sub, int depth) {
  if (depth > kMaxEmbeddingDepth) {
    throw ndb::FormatError("messages are embedded more than " + std::to_string(kMaxEmbeddingDepth) + " deep");
  }
  const auto subnodes = sub ? db.ReadSubnodes(sub) : std::vector<ndb::SubnodeEntry>();
  MessageContent out;
  const ltp::PropertyContext pc(db, data, subnodes);
  for (const ltp::TaggedValue& v : pc.ReadAll()) Put(out.props, names, v);
  if (const ndb::SubnodeEntry* r = FindSubnode(subnodes, kNidRecipientTable)) {
    for (const TableRow& row : ReadTable(db, ndb::NodeEntry{r->nid, r->data, r->subnodes, 0}).rows) {
      PropertyBag& bag = out.recipients.emplace_back();
      for (const ltp::TaggedValue& v : row.cells) Put(bag, names, v);
    }
  }
  if (const ndb::SubnodeEntry* a = FindSubnode(subnodes, kNidAttachmentTable)) {
    for (const TableRow& row : ReadTable(db, ndb::NodeEntry{a->nid, a->data, a->subnodes, 0}).rows) {
      const ndb::SubnodeEntry* node = FindSubnode(subnodes, row.row_id);
      if (node == nullptr) {
        throw ndb::FormatError("the attachment table lists " + base::Hex(row.row_id) + ", which the message lacks");
      }
      out.attachments.push_back(ReadAttachment(db, names, *node, depth));
    }
  }
  return out;
}

}  // namespace

MessageContent ReadMessage(PstStore& store, ndb::Nid nid) {
  ndb::NodeDatabase& db = store.db();
  const auto node = db.FindNode(nid);
  if (!node) throw ndb::FormatError("the store has no message " + base::Hex(nid));
  const ndb::NidType type = ndb::NidTypeOf(nid);
  if (type != ndb::NidType::kNormalMessage && type != ndb::NidType::kAssocMessage) {
    throw ndb::FormatError("node " + base::Hex(nid) + " is not a message");
  }
  return ReadObject(db, store.name_to_id_map(), node->data, node->subnodes, 0);
}

}  // namespace mailvane::pst::messaging
