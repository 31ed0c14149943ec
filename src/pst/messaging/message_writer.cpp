#include "pst/messaging/message_writer.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <random>
#include <set>

#include "base/file_time.h"
#include "base/sizes.h"
#include "pst/ltp/heap_on_node.h"
#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/messaging/ltp_access.h"
#include "pst/messaging/name_to_id_map.h"
#include "pst/messaging/table_templates.h"
#include "pst/messaging/property_tags.h"

namespace mailvane::pst::messaging {

namespace {

std::vector<std::uint8_t> RandomKey() {
  // Seeded once: a search key per message must not cost a system call.
  thread_local std::mt19937_64 engine{std::random_device{}()};
  std::vector<std::uint8_t> key(16);
  for (std::size_t i = 0; i < key.size(); i += 8) {
    const std::uint64_t r = engine();
    for (std::size_t k = 0; k < 8; ++k) key[i + k] = static_cast<std::uint8_t>(r >> (8 * k));
  }
  return key;
}

// An empty table of its own: sharing the template's block with every message, as folders
// do, would run past the 65,535 references a block can have in a large folder.
ndb::SubnodeEntry EmptyTable(ndb::NodeDatabase& db, ndb::Nid nid, std::span<const ltp::PropTag> columns) {
  const NodeContent c = WriteTable(db, columns, {});
  return ndb::SubnodeEntry{nid, c.data, c.subnodes};
}

void DeriveMessageProperties(MessageContent& content, const MessageIdentity& identity) {
  PropertyBag& p = content.props;
  const bool has_attachments = !content.attachments.empty();
  std::int32_t flags = 0;
  if (const ltp::PropValue* f = p.Find(kPrMessageFlags)) flags = f->AsInt32();
  flags = has_attachments ? (flags | kMsgFlagHasAttach) : (flags & ~kMsgFlagHasAttach);
  p.Set(kPrMessageFlags, ltp::PropValue::Int32(flags));
  if (p.Find(kPrHasAttachments)) p.Set(kPrHasAttachments, ltp::PropValue::Boolean(has_attachments));
  if (!p.Find(kPrMessageClass)) p.Set(kPrMessageClass, ltp::PropValue::String("IPM.Note"));
  if (!p.Find(kPrMessageStatus)) p.Set(kPrMessageStatus, ltp::PropValue::Int32(0));
  const base::FileTime now = FileTimeNow();
  if (!p.Find(kPrCreationTime)) p.Set(kPrCreationTime, ltp::PropValue::Time(now));
  if (!p.Find(kPrLastModificationTime)) p.Set(kPrLastModificationTime, ltp::PropValue::Time(now));
  if (!p.Find(kPrSearchKey)) p.Set(kPrSearchKey, ltp::PropValue::Binary(RandomKey()));
  if (identity.entry_id != nullptr) {
    p.Set(kPrEntryId, ltp::PropValue::Binary(*identity.entry_id));
    p.Set(kPrRecordKey, ltp::PropValue::Binary(*identity.entry_id));
  }
  for (std::size_t i = 0; i < content.recipients.size(); ++i) {
    PropertyBag& r = content.recipients[i];
    if (!r.Find(kPrRowid)) r.Set(kPrRowid, ltp::PropValue::Int32(static_cast<std::int32_t>(i)));
    if (!r.Find(kPrObjectType)) r.Set(kPrObjectType, ltp::PropValue::Int32(kObjectTypeMailUser));
    if (!r.Find(kPrDisplayType)) r.Set(kPrDisplayType, ltp::PropValue::Int32(kDisplayTypeMailUser));
  }
}

// The recipient table: the template's columns plus every property a recipient has, since
// the table is the only place a PST keeps recipients.
ndb::SubnodeEntry WriteRecipientTable(ndb::NodeDatabase& db, NameToIdMap& names, const MessageContent& content,
                                 std::uint64_t& value_bytes) {
  if (content.recipients.empty()) {
    return EmptyTable(db, kNidRecipientTable, RecipientColumns());
  }
  const auto base = RecipientColumns();
  std::set<ltp::PropTag> columns(base.begin(), base.end());
  std::vector<TableRow> rows;
  rows.reserve(content.recipients.size());
  for (std::size_t i = 0; i < content.recipients.size(); ++i) {
    TableRow row{static_cast<std::uint32_t>(i + 1), {}};
    for (const MessageProperty& p : content.recipients[i].all()) {
      const ltp::PropTag tag = ResolvedTag(names, p);
      if (tag == ltp::kPrLtpRowId || tag == ltp::kPrLtpRowVer) continue;
      columns.insert(tag);
      value_bytes += p.value.bytes().size();
      row.cells.push_back(ltp::TaggedValue{tag, p.value});
    }
    rows.push_back(std::move(row));
  }
  const std::vector<ltp::PropTag> column_list(columns.begin(), columns.end());
  const NodeContent c = WriteTable(db, column_list, rows);
  return ndb::SubnodeEntry{kNidRecipientTable, c.data, c.subnodes};
}

}  // namespace

base::FileTime FileTimeNow() {
  using namespace std::chrono;
  const auto since_unix = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
  return base::FileTimeFromUnix(0) + static_cast<base::FileTime>(since_unix / 100);
}

ndb::Nid AttachmentSubnodeNid(std::uint32_t index) {
  // Outlook's first attachment is 0x8025: index 0x401 of type 0x05.
  return ndb::MakeNid(ndb::NidType::kAttachment, 0x401 + index);
}

ltp::PropTag ResolvedTag(NameToIdMap& names, const MessageProperty& p) {
  if (!p.named) return p.tag;
  return ltp::MakeTag(names.IdFor(*p.named), p.value.type());
}

PreparedValues PrepareValues(ndb::NodeDatabase& db, NameToIdMap& names, const PropertyBag& bag,
                             BlockGuard& guard) {
  PreparedValues out;
  out.values.reserve(bag.all().size());
  for (const MessageProperty& p : bag.all()) {
    const ltp::PropTag tag = ResolvedTag(names, p);
    const auto& bytes = p.value.bytes();
    out.total_size += bytes.size();
    if (ltp::FixedSizeOf(p.value.type()) == 0 && bytes.size() > ltp::kMaxHeapAllocation) {
      const ndb::Bid bid = db.WriteData(bytes);
      guard.Own(bid);
      out.streamed.push_back(ltp::StreamedValue{tag, bid, bytes.size()});
    } else {
      out.values.push_back(ltp::TaggedValue{tag, p.value});
    }
  }
  return out;
}

WrittenObject WriteMessageObject(ndb::NodeDatabase& db, NameToIdMap& names, MessageContent& content,
                                 const MessageIdentity& identity) {
  DeriveMessageProperties(content, identity);
  BlockGuard guard(db);
  try {
    std::vector<ndb::SubnodeEntry> subnodes;
    std::vector<TableRow> attachment_rows;
    std::uint64_t size = 0;
    const auto attachment_columns = AttachmentColumns();
    for (std::uint32_t i = 0; i < content.attachments.size(); ++i) {
      const WrittenObject a = WriteAttachmentObject(db, names, content.attachments[i], i);
      const ndb::SubnodeEntry entry{AttachmentSubnodeNid(i), a.data, a.subnodes};
      guard.Own(entry);
      subnodes.push_back(entry);
      size += a.size;
      TableRow row{entry.nid, {}};
      for (const MessageProperty& p : content.attachments[i].props.all()) {
        if (p.named) continue;
        if (std::find(attachment_columns.begin(), attachment_columns.end(), p.tag) == attachment_columns.end()) continue;
        if (p.tag == ltp::kPrLtpRowId || p.tag == ltp::kPrLtpRowVer) continue;
        row.cells.push_back(ltp::TaggedValue{p.tag, p.value});
      }
      attachment_rows.push_back(std::move(row));
    }
    // The attachment table is optional (MS-PST 2.4.6.1): a message without attachments
    // has none, which saves a block per message in a large folder.
    if (!attachment_rows.empty()) {
      const NodeContent t = WriteTable(db, attachment_columns, attachment_rows);
      subnodes.push_back(ndb::SubnodeEntry{kNidAttachmentTable, t.data, t.subnodes});
      guard.Own(subnodes.back());
    }
    subnodes.push_back(WriteRecipientTable(db, names, content, size));
    guard.Own(subnodes.back());

    // PidTagMessageSize: every value of the message, its recipients and its attachments
    // (each attachment by its PidTagAttachSize), the size property included.
    content.props.Set(kPrMessageSize, ltp::PropValue::Int32(0));
    PreparedValues prepared = PrepareValues(db, names, content.props, guard);
    const auto message_size = static_cast<std::uint32_t>(base::ClampToInt32(size + prepared.total_size));
    content.props.Set(kPrMessageSize, ltp::PropValue::Int32(static_cast<std::int32_t>(message_size)));
    SetValue(prepared.values, kPrMessageSize, ltp::PropValue::Int32(static_cast<std::int32_t>(message_size)));

    ltp::LtpNode pc = ltp::WritePropertyContext(db, std::move(prepared.values), prepared.streamed);
    guard.Disown();  // the streamed values now belong to the property context
    for (const ndb::SubnodeEntry& e : subnodes) guard.Own(e);
    guard.Own(pc.data);
    for (const ndb::SubnodeEntry& e : pc.subnodes) guard.Own(e);
    subnodes.insert(subnodes.end(), pc.subnodes.begin(), pc.subnodes.end());
    const ndb::Bid tree = db.WriteSubnodeTree(std::move(subnodes));
    guard.Disown();
    return WrittenObject{pc.data, tree, message_size};
  } catch (...) {
    guard.ReleaseAll();
    throw;
  }
}

}  // namespace mailvane::pst::messaging
