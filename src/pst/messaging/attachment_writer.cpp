// One attachment object of a message (MS-PST 2.4.6.2): its property context, with the
// attached bytes or the embedded message as a subnode of the attachment.
#include <stdexcept>

#include "base/little_endian.h"
#include "base/sizes.h"
#include "pst/ltp/property_context.h"
#include "pst/messaging/ltp_access.h"
#include "pst/messaging/message_writer.h"
#include "pst/messaging/property_tags.h"

namespace mailvane::pst::messaging {

WrittenObject WriteAttachmentObject(ndb::NodeDatabase& db, NameToIdMap& names,
                                    AttachmentContent& attachment, std::uint32_t index) {
  PropertyBag& p = attachment.props;
  const std::string which = "attachment " + std::to_string(index + 1);
  const bool has_data = !attachment.bytes.empty() || attachment.embedded;
  if (has_data && (p.Find(kPrAttachDataBin) || p.Find(kPrAttachDataObj))) {
    throw std::invalid_argument(which + " has its data both as a property and as content");
  }
  if (attachment.embedded && !attachment.bytes.empty()) {
    throw std::invalid_argument(which + " is both an embedded message and bytes");
  }
  if (!p.Find(kPrAttachMethod)) {
    p.Set(kPrAttachMethod, ltp::PropValue::Int32(attachment.embedded ? kAttachEmbeddedMsg : kAttachByValue));
  }
  if (!p.Find(kPrRenderingPosition)) p.Set(kPrRenderingPosition, ltp::PropValue::Int32(-1));
  if (!p.Find(kPrAttachNumber)) p.Set(kPrAttachNumber, ltp::PropValue::Int32(static_cast<std::int32_t>(index)));

  BlockGuard guard(db);
  try {
    std::vector<ltp::StreamedValue> data_streams;
    std::vector<ndb::SubnodeEntry> own_subnodes;
    std::optional<ltp::TaggedValue> object_value;
    std::uint64_t data_size = 0;
    if (attachment.embedded) {
      const WrittenObject m = WriteMessageObject(db, names, *attachment.embedded, MessageIdentity{});
      const ndb::SubnodeEntry entry{kNidEmbeddedMessage, m.data, m.subnodes};
      guard.Own(entry);
      own_subnodes.push_back(entry);
      data_size = m.size;
      // PtypObject: the subnode's NID and the object's size (MS-PST 2.3.3.3).
      std::vector<std::uint8_t> ref;
      base::Append32(ref, kNidEmbeddedMessage);
      base::Append32(ref, m.size);
      object_value = ltp::TaggedValue{kPrAttachDataObj, ltp::PropValue(ltp::PropType::kObject, std::move(ref))};
    } else if (!attachment.bytes.empty()) {
      const ndb::Bid bid = db.WriteData(attachment.bytes);
      guard.Own(bid);
      data_size = attachment.bytes.size();
      data_streams.push_back(ltp::StreamedValue{kPrAttachDataBin, bid, data_size});
    } else if (!p.Find(kPrAttachDataBin) && !p.Find(kPrAttachDataObj)) {
      object_value = ltp::TaggedValue{kPrAttachDataBin, ltp::PropValue::Binary({})};  // a 0-byte file
    }

    // PidTagAttachSize: every value of the attachment (the size included) and its data.
    p.Set(kPrAttachSize, ltp::PropValue::Int32(0));
    PreparedValues prepared = PrepareValues(db, names, p, guard);
    const std::uint64_t total = prepared.total_size + data_size;
    const std::int32_t size = base::ClampToInt32(total);
    p.Set(kPrAttachSize, ltp::PropValue::Int32(size));
    SetValue(prepared.values, kPrAttachSize, ltp::PropValue::Int32(size));
    if (object_value) prepared.values.push_back(std::move(*object_value));
    prepared.streamed.insert(prepared.streamed.end(), data_streams.begin(), data_streams.end());

    ltp::LtpNode pc = ltp::WritePropertyContext(db, std::move(prepared.values), prepared.streamed);
    guard.Disown();
    for (const ndb::SubnodeEntry& e : own_subnodes) guard.Own(e);
    guard.Own(pc.data);
    for (const ndb::SubnodeEntry& e : pc.subnodes) guard.Own(e);
    own_subnodes.insert(own_subnodes.end(), pc.subnodes.begin(), pc.subnodes.end());
    const ndb::Bid tree = own_subnodes.empty() ? 0 : db.WriteSubnodeTree(std::move(own_subnodes));
    guard.Disown();
    return WrittenObject{pc.data, tree, static_cast<std::uint32_t>(size)};
  } catch (...) {
    guard.ReleaseAll();
    throw;
  }
}

}  // namespace mailvane::pst::messaging
