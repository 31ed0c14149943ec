// Reading a message back from the file: its properties (named ones by name), recipients
// from the recipient table, attachments from the attachment table and their objects, and
// embedded messages to any depth a sound file can hold.
#include <algorithm>
#include <cstdio>

#include "pst/ltp/le_bytes.h"
#include "pst/ltp/property_context.h"
#include "pst/messaging/ltp_access.h"
#include "pst/messaging/message.h"
#include "pst/messaging/message_writer.h"
#include "pst/messaging/name_to_id_map.h"
#include "pst/messaging/pst_store.h"
#include "pst/ndb/format_error.h"
#include "pst/property_tags.h"

namespace mailvane::pst {

namespace {

constexpr int kMaxEmbeddingDepth = 64;  // a damaged file must not recurse without end

std::string Hex(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

void Put(PropertyBag& bag, const NameToIdMap& names, const TaggedValue& v) {
  if (PropIdOf(v.tag) >= kFirstNamedId) {
    if (auto name = names.NameOf(PropIdOf(v.tag))) {
      bag.SetNamed(*name, v.value);
      return;
    }
  }
  bag.Set(v.tag, v.value);
}

const SubnodeEntry* FindSubnode(const std::vector<SubnodeEntry>& subnodes, Nid nid) {
  const auto it = std::find_if(subnodes.begin(), subnodes.end(),
                               [&](const SubnodeEntry& e) { return e.nid == nid; });
  return it == subnodes.end() ? nullptr : &*it;
}

MessageContent ReadObject(NodeDatabase& db, const NameToIdMap& names, Bid data, Bid sub, int depth);

AttachmentContent ReadAttachment(NodeDatabase& db, const NameToIdMap& names, const SubnodeEntry& node,
                                 int depth) {
  const auto subnodes = node.subnodes ? db.ReadSubnodes(node.subnodes) : std::vector<SubnodeEntry>();
  const PropertyContext pc(db, node.data, subnodes);
  AttachmentContent out;
  for (const TaggedValue& v : pc.ReadAll()) {
    if (v.tag == kPrAttachDataBin) {
      out.bytes = v.value.bytes();
    } else if (v.tag == kPrAttachDataObj) {
      if (v.value.bytes().size() != 8) {
        throw FormatError("attachment " + Hex(node.nid) + ": its embedded-object value holds " +
                          std::to_string(v.value.bytes().size()) + " bytes, not 8");
      }
      const Nid nid = GetLe32(v.value.bytes(), 0);
      const SubnodeEntry* m = FindSubnode(subnodes, nid);
      if (m == nullptr) {
        throw FormatError("attachment " + Hex(node.nid) + " names embedded message " + Hex(nid) +
                          ", which it lacks");
      }
      out.embedded = std::make_unique<MessageContent>(ReadObject(db, names, m->data, m->subnodes, depth + 1));
    } else {
      Put(out.props, names, v);
    }
  }
  return out;
}

MessageContent ReadObject(NodeDatabase& db, const NameToIdMap& names, Bid data, Bid sub, int depth) {
  if (depth > kMaxEmbeddingDepth) {
    throw FormatError("messages are embedded more than " + std::to_string(kMaxEmbeddingDepth) + " deep");
  }
  const auto subnodes = sub ? db.ReadSubnodes(sub) : std::vector<SubnodeEntry>();
  MessageContent out;
  const PropertyContext pc(db, data, subnodes);
  for (const TaggedValue& v : pc.ReadAll()) Put(out.props, names, v);
  if (const SubnodeEntry* r = FindSubnode(subnodes, kNidRecipientTable)) {
    for (const TableRow& row : ReadTable(db, NodeEntry{r->nid, r->data, r->subnodes, 0}).rows) {
      PropertyBag& bag = out.recipients.emplace_back();
      for (const TaggedValue& v : row.cells) Put(bag, names, v);
    }
  }
  if (const SubnodeEntry* a = FindSubnode(subnodes, kNidAttachmentTable)) {
    for (const TableRow& row : ReadTable(db, NodeEntry{a->nid, a->data, a->subnodes, 0}).rows) {
      const SubnodeEntry* node = FindSubnode(subnodes, row.row_id);
      if (node == nullptr) {
        throw FormatError("the attachment table lists " + Hex(row.row_id) + ", which the message lacks");
      }
      out.attachments.push_back(ReadAttachment(db, names, *node, depth));
    }
  }
  return out;
}

}  // namespace

MessageContent ReadMessage(PstStore& store, Nid nid) {
  NodeDatabase& db = store.db();
  const auto node = db.FindNode(nid);
  if (!node) throw FormatError("the store has no message " + Hex(nid));
  const NidType type = NidTypeOf(nid);
  if (type != NidType::kNormalMessage && type != NidType::kAssocMessage) {
    throw FormatError("node " + Hex(nid) + " is not a message");
  }
  return ReadObject(db, store.name_to_id_map(), node->data, node->subnodes, 0);
}

}  // namespace mailvane::pst
