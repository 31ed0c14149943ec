// Writing a message object (the property context of a message with its recipient table,
// attachment table and attachment objects) into the node database. Used for the messages
// of a folder and, recursively, for messages embedded in attachments.
#pragma once

#include <cstdint>
#include <vector>

#include "base/file_time.h"
#include "pst/messaging/message.h"
#include "pst/ltp/ltp_node.h"
#include "pst/ndb/node_database.h"

namespace mailvane::pst::messaging {

class NameToIdMap;

// Blocks this layer wrote and has not handed on yet; released again when a save fails.
class BlockGuard {
 public:
  explicit BlockGuard(ndb::NodeDatabase& db) : db_(db) {}
  void Own(ndb::Bid bid) {
    if (bid != 0) bids_.push_back(bid);
  }
  void Own(const ndb::SubnodeEntry& e) {
    Own(e.data);
    Own(e.subnodes);
  }
  void Disown() { bids_.clear(); }
  void ReleaseAll() {
    std::vector<ndb::Bid> bids;
    bids.swap(bids_);
    for (ndb::Bid bid : bids) db_.Release(bid);
  }

 private:
  ndb::NodeDatabase& db_;
  std::vector<ndb::Bid> bids_;
};

struct WrittenObject {
  ndb::Bid data = 0;
  ndb::Bid subnodes = 0;
  std::uint32_t size = 0;  // what PidTagMessageSize / PidTagAttachSize says
};

// Where the message being written stands: a folder's message has an entry ID.
struct MessageIdentity {
  const std::vector<std::uint8_t>* entry_id = nullptr;  // null for an embedded message
};

// Fills in the derived properties of content (and of its recipients and attachments,
// recursively) and writes it. The caller owns the returned blocks. On failure nothing
// written stays referenced.
WrittenObject WriteMessageObject(ndb::NodeDatabase& db, NameToIdMap& names, MessageContent& content,
                                 const MessageIdentity& identity);

// Writes attachment number `index` of a message as the data and subnode tree of its
// attachment subnode; fills in its derived properties. The caller owns the blocks.
WrittenObject WriteAttachmentObject(ndb::NodeDatabase& db, NameToIdMap& names,
                                    AttachmentContent& attachment, std::uint32_t index);

// Property values of a bag with named properties mapped to their ids. Values too large
// for a heap allocation are written ahead as streams (owned by guard until handed on),
// so that a 20 MB body is never copied in memory.
struct PreparedValues {
  std::vector<ltp::TaggedValue> values;
  std::vector<ltp::StreamedValue> streamed;
  std::uint64_t total_size = 0;  // the bytes of every value
};
PreparedValues PrepareValues(ndb::NodeDatabase& db, NameToIdMap& names, const PropertyBag& bag,
                             BlockGuard& guard);
ltp::PropTag ResolvedTag(NameToIdMap& names, const MessageProperty& p);

// The attachment and embedded-message subnode NIDs used inside a message.
inline constexpr ndb::Nid kNidAttachmentTable = 0x671;
inline constexpr ndb::Nid kNidRecipientTable = 0x692;
ndb::Nid AttachmentSubnodeNid(std::uint32_t index);
inline constexpr ndb::Nid kNidEmbeddedMessage = ndb::MakeNid(ndb::NidType::kNormalMessage, 1);

// Current time as FILETIME.
base::FileTime FileTimeNow();

}  // namespace mailvane::pst::messaging
