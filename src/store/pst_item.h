// An item of the mail store interface over an engine message: properties set by the
// object model's names, attachments, pictures, .eml import, and what Outlook derives on
// save for each kind of item.
#pragma once

#include "base/file_time.h"
#include "pst/messaging/message.h"
#include "store/mail_store.h"
#include "store/object_model_properties.h"
#include "store/parse_ahead.h"

namespace mailvane::store {

class PstItem : public Item {
 public:
  // Imports take their parse from parse_ahead when it holds one.
  PstItem(pst::messaging::Folder folder, ItemType type, const ParseAheadSlot& parse_ahead);

  void SetText(std::string_view name, std::string_view utf8) override;
  void SetDate(std::string_view name, const LocalDateTime& local) override;
  void SetUtcTime(std::string_view name, base::FileTime utc) override;
  void SetBool(std::string_view name, bool value) override;
  void SetInt(std::string_view name, int value) override;
  void AddAttachment(std::vector<std::uint8_t> bytes, std::string_view display_name) override;
  void AddPicture(const std::filesystem::path& file) override;
  void Import(const std::filesystem::path& file, int format) override;
  void ImportStream(source::ByteReader& message, std::uint64_t size, int format) override;
  std::vector<std::string> ImportWarnings() const override { return import_warnings_; }
  void SetOneProp(pst::ltp::PropTag tag, const pst::ltp::PropValue& value, bool save) override;
  void SetNamedProp(const pst::messaging::NamedProperty& name, const pst::ltp::PropValue& value) override;
  void AddRecipient(std::string_view name, std::string_view address, int type, int response,
                    bool organizer) override;
  void AddException(const OccurrenceException& exception) override;
  void AddMember(std::string_view name, std::string_view address) override;
  bool HasAttachments() const override;
  void Save() override;

  const pst::messaging::MessageContent& content() const { return message_.content(); }

 private:
  void Apply(std::vector<PropertyWrite> writes);

  ItemType type_;
  const ParseAheadSlot& parse_ahead_;
  std::vector<std::string> import_warnings_;
  std::vector<std::vector<std::uint8_t>> members_;  // one-off entry IDs of a list's members
  pst::messaging::Message message_;
};

}  // namespace mailvane::store
