// A message of a PstStore (MS-PST 2.4.5): its property context, recipient table,
// attachment table and attachment objects (by value, or an embedded message, nested to any
// depth), all in one node with its subnodes. Named properties are mapped to ids through the
// store's name-to-ID map when the message is saved.
//
// A Message is built in memory and written by Save(); saving again replaces what the last
// save wrote (the old blocks are freed) and keeps the folder's contents-table row in step.
// Attachment bytes given as a file are streamed into the PST at Save(), block by block.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pst/ltp/property_value.h"
#include "pst/messaging/folder.h"
#include "pst/messaging/named_property.h"

namespace mailvane::pst::messaging {

class PstStore;

// A property by tag, or (when named is set) by name with the tag's type.
struct MessageProperty {
  ltp::PropTag tag = 0;
  std::optional<NamedProperty> named;
  ltp::PropValue value;
};

// Properties of one object, in the order they were set; setting a property again
// replaces its earlier value.
class PropertyBag {
 public:
  void Set(ltp::PropTag tag, ltp::PropValue value);
  void SetNamed(const NamedProperty& name, ltp::PropValue value);
  void Remove(ltp::PropTag tag);
  const ltp::PropValue* Find(ltp::PropTag tag) const;
  const ltp::PropValue* FindNamed(const NamedProperty& name) const;
  const std::vector<MessageProperty>& all() const { return props_; }

 private:
  std::vector<MessageProperty> props_;
};

struct MessageContent;

struct AttachmentContent {
  PropertyBag props;  // PR_ATTACH_METHOD, file names, MIME tag, content ID, flags, ...
  std::vector<std::uint8_t> bytes;  // the bytes of an attachment by value
  // An attached message (PR_ATTACH_METHOD 5, ATTACH_EMBEDDED_MSG).
  std::unique_ptr<MessageContent> embedded;
};

struct MessageContent {
  PropertyBag props;
  std::vector<PropertyBag> recipients;  // each: display name, address, type, entry ID, ...
  std::vector<AttachmentContent> attachments;
};

class Message {
 public:
  // A new, unsaved message in folder.
  explicit Message(Folder folder);

  MessageContent& content() { return content_; }
  const MessageContent& content() const { return content_; }

  // Writes the message (first save) or replaces it (later saves). Fills in what the
  // store derives: sizes, PR_HASATTACH in the flags, record key, search key, entry ID,
  // the recipient and attachment tables, the folder's contents row and counts.
  void Save();

  bool saved() const { return nid_ != 0; }
  ndb::Nid nid() const { return nid_; }
  std::vector<std::uint8_t> EntryId() const;

 private:
  Folder folder_;
  MessageContent content_;
  ndb::Nid nid_ = 0;
};

// Reads a saved message back (tests, the checker, reopening).
MessageContent ReadMessage(PstStore& store, ndb::Nid nid);

}  // namespace mailvane::pst::messaging
