#include "pst/check/item_check.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <map>
#include <optional>
#include <set>

#include "pst/ltp/le_bytes.h"
#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/messaging/ltp_access.h"
#include "pst/messaging/message_writer.h"
#include "pst/messaging/name_to_id_map.h"
#include "pst/property_tags.h"

namespace mailvane::pst {

namespace {

constexpr int kMaxDepth = 64;

std::string Hex(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

std::vector<SubnodeEntry> Subnodes(NodeDatabase& db, Bid bid) {
  return bid == 0 ? std::vector<SubnodeEntry>() : db.ReadSubnodes(bid);
}

const SubnodeEntry* FindSubnode(const std::vector<SubnodeEntry>& list, Nid nid) {
  const auto it = std::find_if(list.begin(), list.end(), [&](const SubnodeEntry& e) { return e.nid == nid; });
  return it == list.end() ? nullptr : &*it;
}

class ItemChecker {
 public:
  ItemChecker(NodeDatabase& db, const MessagingReport& report) : db_(db), report_(report) {}

  void Run() {
    LoadNameMap();
    std::vector<NodeEntry> folders;
    std::vector<NodeEntry> messages;
    db_.ForEachNode([&](const NodeEntry& e) {
      const NidType t = NidTypeOf(e.nid);
      if (t == NidType::kNormalFolder) folders.push_back(e);
      if (t == NidType::kNormalMessage || t == NidType::kAssocMessage) messages.push_back(e);
    });
    for (const NodeEntry& f : folders) CheckContentsRows(f.nid);
    for (const NodeEntry& m : messages) {
      CheckMessage("message " + Hex(m.nid), m.data, m.subnodes, 0);
    }
    CheckNamedIds();
  }

 private:
  void Error(const std::string& m) { report_(Severity::kError, m); }
  void Note(const std::string& m) { report_(Severity::kNote, m); }

  // Columns Outlook computes for its rows rather than copying them from the message: its
  // own files have them in rows of messages that lack them, or with another size.
  static bool ComputedColumn(PropTag tag) {
    return tag == kPrMessageStatus || tag == 0x30130102 /* PidTagConversationId */ || tag == kPrMessageSize;
  }

  void LoadNameMap() {
    const auto node = db_.FindNode(kNidNameToIdMap);
    if (!node) return;  // the messaging checks report a missing map
    try {
      const auto values = ReadProperties(db_, *node);
      map_ = NameToIdMap::FromProperties(values);
      CheckBuckets(values);
    } catch (const std::exception& e) {
      Error(std::string("the name-to-ID map cannot be read: ") + e.what());
    }
  }

  // Every entry sits in the bucket its hash names, and every bucket record is an entry.
  void CheckBuckets(const std::vector<TaggedValue>& values) {
    const PropValue* count = FindValue(values, 0x00010003);
    if (count == nullptr || count->AsInt32() <= 0) return;
    const auto buckets = static_cast<std::uint32_t>(count->AsInt32());
    std::set<std::pair<std::uint32_t, std::uint32_t>> expected;  // (bucket, record bits)
    std::set<std::pair<std::uint32_t, std::uint32_t>> hashes;    // (record bits, hash base)
    for (std::uint32_t k = 0; k < map_->size(); ++k) {
      const auto name = map_->NameOf(static_cast<std::uint16_t>(kFirstNamedId + k));
      const std::uint16_t guid = GuidIndexOf(values, name->set);
      const bool is_string = name->IsString();
      const std::uint32_t bits = (k << 16) | (std::uint32_t{guid} << 1) | (is_string ? 1u : 0u);
      const std::uint32_t hash = NameHashBase(is_string, name->lid, name->name);
      const std::uint32_t bucket = ((std::uint32_t{guid} << 1 | (is_string ? 1u : 0u)) ^ hash) % buckets;
      expected.insert({bucket, bits});
      hashes.insert({bits, hash});
    }
    std::set<std::pair<std::uint32_t, std::uint32_t>> found;
    for (const TaggedValue& v : values) {
      const std::uint16_t id = PropIdOf(v.tag);
      if (id < 0x1000 || id >= 0x1000 + buckets) continue;
      const auto& b = v.value.bytes();
      if (b.size() % 8 != 0) {
        Error("name-to-ID map bucket " + Hex(v.tag) + " holds " + std::to_string(b.size()) + " bytes");
        continue;
      }
      for (std::size_t at = 0; at < b.size(); at += 8) {
        const std::uint32_t hash = GetLe32(b, at);
        const std::uint32_t bits = GetLe32(b, at + 4);
        found.insert({id - 0x1000u, bits});
        if (!hashes.contains({bits, hash})) {
          Error("name-to-ID map bucket " + Hex(v.tag) + " has a record (hash " + Hex(hash) +
                ") that matches no entry");
        }
      }
    }
    for (const auto& [bucket, bits] : expected) {
      if (!found.contains({bucket, bits})) {
        Error("name-to-ID map entry for id " + Hex(kFirstNamedId + (bits >> 16)) + " is missing from bucket " +
              Hex(0x1000 + bucket));
      }
    }
  }

  static std::uint16_t GuidIndexOf(const std::vector<TaggedValue>& values, const Guid& set) {
    if (set == PsMapi()) return 1;
    if (set == PsPublicStrings()) return 2;
    const PropValue* guids = FindValue(values, 0x00020102);
    if (guids == nullptr) return 0;
    const auto& b = guids->bytes();
    for (std::size_t at = 0; at + 16 <= b.size(); at += 16) {
      if (std::equal(set.begin(), set.end(), b.begin() + static_cast<std::ptrdiff_t>(at))) {
        return static_cast<std::uint16_t>(3 + at / 16);
      }
    }
    return 0;
  }

  void NoteIds(const std::string& where, std::span<const PropTag> tags) {
    for (PropTag tag : tags) {
      if (PropIdOf(tag) >= kFirstNamedId && !named_users_.contains(PropIdOf(tag))) {
        named_users_[PropIdOf(tag)] = where;
      }
    }
  }

  void CheckNamedIds() {
    const std::size_t entries = map_ ? map_->size() : 0;
    for (const auto& [id, where] : named_users_) {
      if (std::size_t{id} - kFirstNamedId >= entries) {
        Error(where + " uses named property id " + Hex(id) + ", which the name-to-ID map does not define");
      }
    }
  }

  void CheckContentsRows(Nid folder) {
    const auto node = db_.FindNode(WithType(folder, NidType::kContentsTable));
    if (!node) return;  // reported by the messaging checks
    TableData table;
    try {
      table = ReadTable(db_, *node);
    } catch (const std::exception&) {
      return;  // reported by the messaging checks
    }
    for (const TableRow& row : table.rows) {
      const auto message = db_.FindNode(row.row_id);
      if (!message) continue;  // reported by the messaging checks
      std::vector<TaggedValue> props;
      try {
        props = ReadProperties(db_, *message);
      } catch (const std::exception& e) {
        Error("message " + Hex(row.row_id) + ": its property context cannot be read: " + e.what());
        continue;
      }
      // A row repeats the message's own value for each column (MS-PST 2.4.4.5).
      for (PropTag tag : table.columns) {
        if (tag == kTagLtpRowId || tag == kTagLtpRowVer) continue;
        const PropValue* in_row = FindValue(row.cells, tag);
        const PropValue* in_message = FindValue(props, tag);
        // An empty variable-size value is an absent cell, as in Outlook's tables.
        if (!in_row && in_message && FixedSizeOf(in_message->type()) == 0 &&
            in_message->bytes().empty()) {
          continue;
        }
        const auto report = [&](const std::string& m) { ComputedColumn(tag) ? Note(m) : Error(m); };
        if (in_message && (!in_row || !(*in_row == *in_message))) {
          report("folder " + Hex(folder) + ": its contents row for message " + Hex(row.row_id) +
                 " does not match the message's " + Hex(tag));
        } else if (!in_message && in_row) {
          report("folder " + Hex(folder) + ": its contents row for message " + Hex(row.row_id) + " has " +
                 Hex(tag) + ", which the message lacks");
        }
      }
    }
  }

  void CheckMessage(const std::string& where, Bid data, Bid sub, int depth) {
    if (depth > kMaxDepth) {
      Error(where + " is embedded more than " + std::to_string(kMaxDepth) + " deep");
      return;
    }
    try {
      const auto subnodes = Subnodes(db_, sub);
      const PropertyContext pc(db_, data, subnodes);
      const auto tags = pc.tags();
      NoteIds(where, tags);
      for (PropTag required : {kPrMessageClass, kPrMessageFlags, kPrMessageSize}) {
        if (!pc.Get(PropIdOf(required))) Error(where + " lacks property " + Hex(required));
      }
      const SubnodeEntry* recipients = FindSubnode(subnodes, kNidRecipientTable);
      if (recipients == nullptr) {
        Note(where + " has no recipient table (subnode 0x692), as some of Outlook's own messages");
      } else {
        const TableData r = ReadTable(db_, NodeEntry{recipients->nid, recipients->data, recipients->subnodes, 0});
        NoteIds(where + " recipient table", r.columns);
      }
      std::size_t attachment_count = 0;
      if (const SubnodeEntry* a = FindSubnode(subnodes, kNidAttachmentTable)) {
        attachment_count = CheckAttachments(where, *a, subnodes, depth);
      } else {
        for (const SubnodeEntry& e : subnodes) {
          if (NidTypeOf(e.nid) == NidType::kAttachment) {
            Error(where + " has attachment " + Hex(e.nid) + " but no attachment table");
          }
        }
      }
      if (const auto flags = pc.Get(PropIdOf(kPrMessageFlags))) {
        const bool flagged = (flags->AsInt32() & kMsgFlagHasAttach) != 0;
        if (flagged != (attachment_count > 0)) {
          Error(where + ": MSGFLAG_HASATTACH is " + (flagged ? "set" : "clear") + " but it has " +
                std::to_string(attachment_count) + " attachments");
        }
      }
    } catch (const std::exception& e) {
      Error(where + " cannot be read: " + e.what());
    }
  }

  // The attachment table against the attachment subnodes; each attachment object checked.
  std::size_t CheckAttachments(const std::string& where, const SubnodeEntry& table_node,
                               const std::vector<SubnodeEntry>& subnodes, int depth) {
    const TableData table = ReadTable(db_, NodeEntry{table_node.nid, table_node.data, table_node.subnodes, 0});
    std::set<Nid> listed;
    for (const TableRow& row : table.rows) {
      if (!listed.insert(row.row_id).second) Error(where + ": its attachment table lists " + Hex(row.row_id) + " twice");
      const SubnodeEntry* node = FindSubnode(subnodes, row.row_id);
      if (node == nullptr || NidTypeOf(row.row_id) != NidType::kAttachment) {
        Error(where + ": its attachment table lists " + Hex(row.row_id) + ", which is not an attachment of it");
        continue;
      }
      const std::string at = where + " attachment " + Hex(row.row_id);
      const auto att_subnodes = Subnodes(db_, node->subnodes);
      const PropertyContext pc(db_, node->data, att_subnodes);
      NoteIds(at, pc.tags());
      for (PropTag tag : table.columns) {
        if (tag == kTagLtpRowId || tag == kTagLtpRowVer) continue;
        const auto in_object = pc.Get(PropIdOf(tag));
        const PropValue* in_row = FindValue(row.cells, tag);
        const bool object_has = in_object && in_object->type() == PropTypeOf(tag);
        if (object_has && (!in_row || !(*in_row == *in_object))) {
          Error(at + ": its attachment-table row does not match the object's " + Hex(tag));
        } else if (!object_has && in_row) {
          Error(at + ": its attachment-table row has " + Hex(tag) + ", which the object lacks");
        }
      }
      for (PropTag required : {kPrAttachSize, kPrAttachMethod, kPrRenderingPosition}) {
        if (!pc.Get(PropIdOf(required))) Error(at + " lacks property " + Hex(required));
      }
      const auto method = pc.Get(PropIdOf(kPrAttachMethod));
      const auto object = pc.Get(PropIdOf(kPrAttachDataObj));
      if (method && method->type() == PropType::kInt32 && method->AsInt32() == kAttachEmbeddedMsg) {
        if (!object || object->type() != PropType::kObject || object->bytes().size() != 8) {
          Error(at + " is an embedded message without a PtypObject PidTagAttachDataObject");
          continue;
        }
        const Nid nid = GetLe32(object->bytes(), 0);
        const SubnodeEntry* m = FindSubnode(att_subnodes, nid);
        if (m == nullptr) {
          Error(at + " names embedded message " + Hex(nid) + ", which it lacks");
          continue;
        }
        CheckMessage(at + " embedded message", m->data, m->subnodes, depth + 1);
      }
    }
    for (const SubnodeEntry& e : subnodes) {
      if (NidTypeOf(e.nid) == NidType::kAttachment && !listed.contains(e.nid)) {
        Error(where + ": attachment " + Hex(e.nid) + " is missing from its attachment table");
      }
    }
    return listed.size();
  }

  NodeDatabase& db_;
  const MessagingReport& report_;
  std::optional<NameToIdMap> map_;
  std::map<std::uint16_t, std::string> named_users_;  // id -> first place it is used
};

}  // namespace

void CheckItems(NodeDatabase& db, const MessagingReport& report) { ItemChecker(db, report).Run(); }

}  // namespace mailvane::pst
