#include "pst/check/item_check.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <map>
#include <optional>
#include <set>

#include "base/hex.h"
#include "base/little_endian.h"
#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/messaging/ltp_access.h"
#include "pst/messaging/message_writer.h"
#include "pst/messaging/name_to_id_map.h"
#include "pst/messaging/property_tags.h"

namespace mailvane::pst::check {

namespace {

constexpr int kMaxDepth = 64;

std::vector<ndb::SubnodeEntry> Subnodes(ndb::NodeDatabase& db, ndb::Bid bid) {
  return bid == 0 ? std::vector<ndb::SubnodeEntry>() : db.ReadSubnodes(bid);
}

const ndb::SubnodeEntry* FindSubnode(const std::vector<ndb::SubnodeEntry>& list, ndb::Nid nid) {
  const auto it = std::find_if(list.begin(), list.end(), [&](const ndb::SubnodeEntry& e) { return e.nid == nid; });
  return it == list.end() ? nullptr : &*it;
}

class ItemChecker {
 public:
  ItemChecker(ndb::NodeDatabase& db, const MessagingReport& report) : db_(db), report_(report) {}

  void Run() {
    LoadNameMap();
    std::vector<ndb::NodeEntry> folders;
    std::vector<ndb::NodeEntry> messages;
    db_.ForEachNode([&](const ndb::NodeEntry& e) {
      const ndb::NidType t = ndb::NidTypeOf(e.nid);
      if (t == ndb::NidType::kNormalFolder) folders.push_back(e);
      if (t == ndb::NidType::kNormalMessage || t == ndb::NidType::kAssocMessage) messages.push_back(e);
    });
    for (const ndb::NodeEntry& f : folders) CheckContentsRows(f.nid);
    for (const ndb::NodeEntry& m : messages) {
      CheckMessage("message " + base::Hex(m.nid), m.data, m.subnodes, 0);
    }
    CheckNamedIds();
  }

 private:
  void Error(const std::string& m) { report_(Severity::kError, m); }
  void Note(const std::string& m) { report_(Severity::kNote, m); }

  // Columns Outlook computes for its rows rather than copying them from the message: its
  // own files have them in rows of messages that lack them, or with another size.
  static bool ComputedColumn(ltp::PropTag tag) {
    return tag == messaging::kPrMessageStatus || tag == 0x30130102 /* PidTagConversationId */ || tag == messaging::kPrMessageSize;
  }

  void LoadNameMap() {
    const auto node = db_.FindNode(ndb::kNidNameToIdMap);
    if (!node) return;  // the messaging checks report a missing map
    try {
      const auto values = messaging::ReadProperties(db_, *node);
      map_ = messaging::NameToIdMap::FromProperties(values);
      CheckBuckets(values);
    } catch (const std::exception& e) {
      Error(std::string("the name-to-ID map cannot be read: ") + e.what());
    }
  }

  // Every entry sits in the bucket its hash names, and every bucket record is an entry.
  void CheckBuckets(const std::vector<ltp::TaggedValue>& values) {
    const ltp::PropValue* count = messaging::FindValue(values, 0x00010003);
    if (count == nullptr || count->AsInt32() <= 0) return;
    const auto buckets = static_cast<std::uint32_t>(count->AsInt32());
    std::set<std::pair<std::uint32_t, std::uint32_t>> expected;  // (bucket, record bits)
    std::set<std::pair<std::uint32_t, std::uint32_t>> hashes;    // (record bits, hash base)
    for (std::uint32_t k = 0; k < map_->size(); ++k) {
      const auto name = map_->NameOf(static_cast<std::uint16_t>(messaging::kFirstNamedId + k));
      const std::uint16_t guid = GuidIndexOf(values, name->set);
      const bool is_string = name->IsString();
      const std::uint32_t bits = (k << 16) | (std::uint32_t{guid} << 1) | (is_string ? 1u : 0u);
      const std::uint32_t hash = messaging::NameHashBase(is_string, name->lid, name->name);
      const std::uint32_t bucket = ((std::uint32_t{guid} << 1 | (is_string ? 1u : 0u)) ^ hash) % buckets;
      expected.insert({bucket, bits});
      hashes.insert({bits, hash});
    }
    std::set<std::pair<std::uint32_t, std::uint32_t>> found;
    for (const ltp::TaggedValue& v : values) {
      const std::uint16_t id = ltp::PropIdOf(v.tag);
      if (id < 0x1000 || id >= 0x1000 + buckets) continue;
      const auto& b = v.value.bytes();
      if (b.size() % 8 != 0) {
        Error("name-to-ID map bucket " + base::Hex(v.tag) + " holds " + std::to_string(b.size()) + " bytes");
        continue;
      }
      for (std::size_t at = 0; at < b.size(); at += 8) {
        const std::uint32_t hash = base::Get32(b, at);
        const std::uint32_t bits = base::Get32(b, at + 4);
        found.insert({id - 0x1000u, bits});
        if (!hashes.contains({bits, hash})) {
          Error("name-to-ID map bucket " + base::Hex(v.tag) + " has a record (hash " + base::Hex(hash) +
                ") that matches no entry");
        }
      }
    }
    for (const auto& [bucket, bits] : expected) {
      if (!found.contains({bucket, bits})) {
        Error("name-to-ID map entry for id " + base::Hex(messaging::kFirstNamedId + (bits >> 16)) + " is missing from bucket " +
              base::Hex(0x1000 + bucket));
      }
    }
  }

  static std::uint16_t GuidIndexOf(const std::vector<ltp::TaggedValue>& values, const ltp::Guid& set) {
    if (set == messaging::PsMapi()) return 1;
    if (set == messaging::PsPublicStrings()) return 2;
    const ltp::PropValue* guids = messaging::FindValue(values, 0x00020102);
    if (guids == nullptr) return 0;
    const auto& b = guids->bytes();
    for (std::size_t at = 0; at + 16 <= b.size(); at += 16) {
      if (std::equal(set.begin(), set.end(), b.begin() + static_cast<std::ptrdiff_t>(at))) {
        return static_cast<std::uint16_t>(3 + at / 16);
      }
    }
    return 0;
  }

  void NoteIds(const std::string& where, std::span<const ltp::PropTag> tags) {
    for (ltp::PropTag tag : tags) {
      if (ltp::PropIdOf(tag) >= messaging::kFirstNamedId && !named_users_.contains(ltp::PropIdOf(tag))) {
        named_users_[ltp::PropIdOf(tag)] = where;
      }
    }
  }

  void CheckNamedIds() {
    const std::size_t entries = map_ ? map_->size() : 0;
    for (const auto& [id, where] : named_users_) {
      if (std::size_t{id} - messaging::kFirstNamedId >= entries) {
        Error(where + " uses named property id " + base::Hex(id) + ", which the name-to-ID map does not define");
      }
    }
  }

  void CheckContentsRows(ndb::Nid folder) {
    const auto node = db_.FindNode(ndb::WithType(folder, ndb::NidType::kContentsTable));
    if (!node) return;  // reported by the messaging checks
    messaging::TableData table;
    try {
      table = messaging::ReadTable(db_, *node);
    } catch (const std::exception&) {
      return;  // reported by the messaging checks
    }
    for (const messaging::TableRow& row : table.rows) {
      const auto message = db_.FindNode(row.row_id);
      if (!message) continue;  // reported by the messaging checks
      std::vector<ltp::TaggedValue> props;
      try {
        props = messaging::ReadProperties(db_, *message);
      } catch (const std::exception& e) {
        Error("message " + base::Hex(row.row_id) + ": its property context cannot be read: " + e.what());
        continue;
      }
      // A row repeats the message's own value for each column (MS-PST 2.4.4.5).
      for (ltp::PropTag tag : table.columns) {
        if (tag == ltp::kPrLtpRowId || tag == ltp::kPrLtpRowVer) continue;
        const ltp::PropValue* in_row = messaging::FindValue(row.cells, tag);
        const ltp::PropValue* in_message = messaging::FindValue(props, tag);
        // An empty variable-size value is an absent cell, as in Outlook's tables.
        if (!in_row && in_message && ltp::FixedSizeOf(in_message->type()) == 0 &&
            in_message->bytes().empty()) {
          continue;
        }
        const auto report = [&](const std::string& m) { ComputedColumn(tag) ? Note(m) : Error(m); };
        if (in_message && (!in_row || !(*in_row == *in_message))) {
          report("folder " + base::Hex(folder) + ": its contents row for message " + base::Hex(row.row_id) +
                 " does not match the message's " + base::Hex(tag));
        } else if (!in_message && in_row) {
          report("folder " + base::Hex(folder) + ": its contents row for message " + base::Hex(row.row_id) + " has " +
                 base::Hex(tag) + ", which the message lacks");
        }
      }
    }
  }

  void CheckMessage(const std::string& where, ndb::Bid data, ndb::Bid sub, int depth) {
    if (depth > kMaxDepth) {
      Error(where + " is embedded more than " + std::to_string(kMaxDepth) + " deep");
      return;
    }
    try {
      const auto subnodes = Subnodes(db_, sub);
      const ltp::PropertyContext pc(db_, data, subnodes);
      const auto tags = pc.tags();
      NoteIds(where, tags);
      for (ltp::PropTag required : {messaging::kPrMessageClass, messaging::kPrMessageFlags, messaging::kPrMessageSize}) {
        if (!pc.Get(ltp::PropIdOf(required))) Error(where + " lacks property " + base::Hex(required));
      }
      const ndb::SubnodeEntry* recipients = FindSubnode(subnodes, messaging::kNidRecipientTable);
      if (recipients == nullptr) {
        Note(where + " has no recipient table (subnode 0x692), as some of Outlook's own messages");
      } else {
        const messaging::TableData r = messaging::ReadTable(db_, ndb::NodeEntry{recipients->nid, recipients->data, recipients->subnodes, 0});
        NoteIds(where + " recipient table", r.columns);
      }
      std::size_t attachment_count = 0;
      if (const ndb::SubnodeEntry* a = FindSubnode(subnodes, messaging::kNidAttachmentTable)) {
        attachment_count = CheckAttachments(where, *a, subnodes, depth);
      } else {
        for (const ndb::SubnodeEntry& e : subnodes) {
          if (ndb::NidTypeOf(e.nid) == ndb::NidType::kAttachment) {
            Error(where + " has attachment " + base::Hex(e.nid) + " but no attachment table");
          }
        }
      }
      if (const auto flags = pc.Get(ltp::PropIdOf(messaging::kPrMessageFlags))) {
        const bool flagged = (flags->AsInt32() & messaging::kMsgFlagHasAttach) != 0;
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
  std::size_t CheckAttachments(const std::string& where, const ndb::SubnodeEntry& table_node,
                               const std::vector<ndb::SubnodeEntry>& subnodes, int depth) {
    const messaging::TableData table = messaging::ReadTable(db_, ndb::NodeEntry{table_node.nid, table_node.data, table_node.subnodes, 0});
    std::set<ndb::Nid> listed;
    for (const messaging::TableRow& row : table.rows) {
      if (!listed.insert(row.row_id).second) Error(where + ": its attachment table lists " + base::Hex(row.row_id) + " twice");
      const ndb::SubnodeEntry* node = FindSubnode(subnodes, row.row_id);
      if (node == nullptr || ndb::NidTypeOf(row.row_id) != ndb::NidType::kAttachment) {
        Error(where + ": its attachment table lists " + base::Hex(row.row_id) + ", which is not an attachment of it");
        continue;
      }
      const std::string at = where + " attachment " + base::Hex(row.row_id);
      const auto att_subnodes = Subnodes(db_, node->subnodes);
      const ltp::PropertyContext pc(db_, node->data, att_subnodes);
      NoteIds(at, pc.tags());
      for (ltp::PropTag tag : table.columns) {
        if (tag == ltp::kPrLtpRowId || tag == ltp::kPrLtpRowVer) continue;
        const auto in_object = pc.Get(ltp::PropIdOf(tag));
        const ltp::PropValue* in_row = messaging::FindValue(row.cells, tag);
        const bool object_has = in_object && in_object->type() == ltp::PropTypeOf(tag);
        if (object_has && (!in_row || !(*in_row == *in_object))) {
          Error(at + ": its attachment-table row does not match the object's " + base::Hex(tag));
        } else if (!object_has && in_row) {
          Error(at + ": its attachment-table row has " + base::Hex(tag) + ", which the object lacks");
        }
      }
      for (ltp::PropTag required : {messaging::kPrAttachSize, messaging::kPrAttachMethod, messaging::kPrRenderingPosition}) {
        if (!pc.Get(ltp::PropIdOf(required))) Error(at + " lacks property " + base::Hex(required));
      }
      const auto method = pc.Get(ltp::PropIdOf(messaging::kPrAttachMethod));
      const auto object = pc.Get(ltp::PropIdOf(messaging::kPrAttachDataObj));
      if (method && method->type() == ltp::PropType::kInt32 && method->AsInt32() == messaging::kAttachEmbeddedMsg) {
        if (!object || object->type() != ltp::PropType::kObject || object->bytes().size() != 8) {
          Error(at + " is an embedded message without a PtypObject PidTagAttachDataObject");
          continue;
        }
        const ndb::Nid nid = base::Get32(object->bytes(), 0);
        const ndb::SubnodeEntry* m = FindSubnode(att_subnodes, nid);
        if (m == nullptr) {
          Error(at + " names embedded message " + base::Hex(nid) + ", which it lacks");
          continue;
        }
        CheckMessage(at + " embedded message", m->data, m->subnodes, depth + 1);
      }
    }
    for (const ndb::SubnodeEntry& e : subnodes) {
      if (ndb::NidTypeOf(e.nid) == ndb::NidType::kAttachment && !listed.contains(e.nid)) {
        Error(where + ": attachment " + base::Hex(e.nid) + " is missing from its attachment table");
      }
    }
    return listed.size();
  }

  ndb::NodeDatabase& db_;
  const MessagingReport& report_;
  std::optional<messaging::NameToIdMap> map_;
  std::map<std::uint16_t, std::string> named_users_;  // id -> first place it is used
};

}  // namespace

void CheckItems(ndb::NodeDatabase& db, const MessagingReport& report) { ItemChecker(db, report).Run(); }

}  // namespace mailvane::pst::check
