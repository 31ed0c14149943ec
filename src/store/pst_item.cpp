#include "store/pst_item.h"

#include <cerrno>
#include <fstream>
#include <system_error>

#include "base/file_time.h"
#include "mime/address_properties.h"
#include "pst/ndb/crc32.h"
#include "mime/mime_parser.h"
#include "pst/messaging/property_tags.h"
#include "store/item_derivation.h"
#include "store/local_time.h"
#include "store/message_import.h"

namespace mailvane::store {

using pst::ltp::PropValue;

namespace {

std::vector<std::uint8_t> ReadWholeFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    throw std::system_error(errno, std::generic_category(), "cannot open " + file.string());
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  if (size < 0) throw StoreError("cannot tell the size of " + file.string());
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size)) {
    throw std::system_error(errno, std::generic_category(), "cannot read " + file.string());
  }
  return bytes;
}

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// The MIME type Outlook records for common extensions; others are left unset.
const char* MimeTypeOf(const std::string& extension) {
  static const std::pair<const char*, const char*> kTypes[] = {
      {".txt", "text/plain"},       {".htm", "text/html"},        {".html", "text/html"},
      {".pdf", "application/pdf"},  {".jpg", "image/jpeg"},       {".jpeg", "image/jpeg"},
      {".png", "image/png"},        {".gif", "image/gif"},        {".zip", "application/zip"},
      {".ics", "text/calendar"},    {".vcf", "text/x-vcard"},     {".eml", "message/rfc822"},
      {".doc", "application/msword"}, {".xls", "application/vnd.ms-excel"},
      {".csv", "text/csv"},
  };
  const std::string e = Lower(extension);
  for (const auto& [ext, type] : kTypes) {
    if (e == ext) return type;
  }
  return nullptr;
}

pst::messaging::AttachmentContent ByValueAttachment(std::vector<std::uint8_t> bytes, std::string name) {
  pst::messaging::AttachmentContent att;
  att.bytes = std::move(bytes);
  const std::string extension = std::filesystem::path(name).extension().string();
  att.props.Set(pst::messaging::kPrAttachMethod, PropValue::Int32(pst::messaging::kAttachByValue));
  att.props.Set(pst::messaging::kPrAttachLongFilename, PropValue::String(name));
  att.props.Set(pst::messaging::kPrAttachFilename, PropValue::String(name));
  att.props.Set(pst::messaging::kPrDisplayName, PropValue::String(name));
  if (!extension.empty()) att.props.Set(pst::messaging::kPrAttachExtension, PropValue::String(extension));
  if (const char* type = MimeTypeOf(extension)) {
    att.props.Set(pst::messaging::kPrAttachMimeTag, PropValue::String(type));
  }
  att.props.Set(pst::messaging::kPrRenderingPosition, PropValue::Int32(-1));
  return att;
}

}  // namespace

PstItem::PstItem(pst::messaging::Folder folder, ItemType type, const ParseAheadSlot& parse_ahead)
    : type_(type), parse_ahead_(parse_ahead), message_(folder) {
  message_.content().props.Set(pst::messaging::kPrMessageClass, PropValue::String(MessageClassOf(type)));
}

void PstItem::Apply(std::vector<PropertyWrite> writes) {
  for (PropertyWrite& w : writes) {
    if (w.key.named) {
      message_.content().props.SetNamed(*w.key.named, std::move(w.value));
    } else {
      message_.content().props.Set(w.key.tag, std::move(w.value));
    }
  }
}

void PstItem::SetText(std::string_view name, std::string_view utf8) {
  Apply(TextPropertyWrites(type_, name, utf8));
}

void PstItem::SetDate(std::string_view name, const LocalDateTime& local) {
  Apply(TimePropertyWrites(type_, name, FileTimeFromLocal(local), WallClockFileTime(local)));
}

void PstItem::SetUtcTime(std::string_view name, base::FileTime utc) {
  Apply(TimePropertyWrites(type_, name, utc, WallClockOfUtc(utc)));
}

void PstItem::SetBool(std::string_view name, bool value) {
  Apply(BoolPropertyWrites(type_, name, value));
}

void PstItem::SetInt(std::string_view name, int value) {
  Apply(IntPropertyWrites(type_, name, value));
}

void PstItem::AddAttachment(std::vector<std::uint8_t> bytes, std::string_view display_name) {
  message_.content().attachments.push_back(
      ByValueAttachment(std::move(bytes), std::string(display_name)));
}

void PstItem::AddPicture(const std::filesystem::path& file) {
  if (type_ != ItemType::kContact) {
    throw StoreError("AddPicture: only a contact has a picture");
  }
  // Outlook keeps a contact's picture as a hidden attachment of this name, flagged as the
  // contact photo, and says so on the contact (MS-OXOCNTC 2.2.1.8).
  pst::messaging::AttachmentContent att = ByValueAttachment(ReadWholeFile(file), "ContactPicture.jpg");
  att.props.Set(pst::ltp::MakeTag(0x7FFF, pst::ltp::PropType::kBoolean), PropValue::Boolean(true));
  att.props.Set(pst::messaging::kPrAttachmentHidden, PropValue::Boolean(true));
  auto& attachments = message_.content().attachments;
  std::erase_if(attachments, [](const pst::messaging::AttachmentContent& a) {
    const PropValue* photo = a.props.Find(pst::ltp::MakeTag(0x7FFF, pst::ltp::PropType::kBoolean));
    return photo && photo->AsBool();
  });
  attachments.push_back(std::move(att));
  pst::messaging::NamedProperty has_picture;
  has_picture.set = pst::messaging::PsetidAddress();
  has_picture.lid = 0x8015;
  has_picture.type = pst::ltp::PropType::kBoolean;
  message_.content().props.SetNamed(has_picture, PropValue::Boolean(true));
}

void PstItem::Import(const std::filesystem::path& file, int format) {
  if (format != kImportRfc822) {
    throw StoreError("Import: format " + std::to_string(format) +
                     " is not supported (only 1024, an RFC 822 message)");
  }
  mime::ParsedMessage parsed = parse_ahead_ ? parse_ahead_->Take(file) : mime::ParseMimeFile(file);
  import_warnings_ = std::move(parsed.warnings);
  FillFromParsed(std::move(parsed), message_.content());
}

void PstItem::ImportStream(source::ByteReader& message, std::uint64_t size, int format) {
  if (format != kImportRfc822) {
    throw StoreError("Import: format " + std::to_string(format) +
                     " is not supported (only 1024, an RFC 822 message)");
  }
  mime::ParsedMessage parsed = mime::ParseMimeReader(message, size);
  import_warnings_ = std::move(parsed.warnings);
  FillFromParsed(std::move(parsed), message_.content());
}

void PstItem::SetOneProp(pst::ltp::PropTag tag, const pst::ltp::PropValue& value, bool save) {
  if (pst::ltp::PropTypeOf(tag) != value.type()) {
    throw StoreError("HrSetOneProp: the value's type does not match property tag " +
                     std::to_string(tag));
  }
  message_.content().props.Set(tag, value);
  if (save) Save();
}

void PstItem::SetNamedProp(const pst::messaging::NamedProperty& name, const pst::ltp::PropValue& value) {
  if (name.type != value.type()) {
    throw StoreError("SetNamedProp: the value's type does not match the property's");
  }
  message_.content().props.SetNamed(name, value);
}

void PstItem::AddRecipient(std::string_view name, std::string_view address, int type,
                           int response, bool organizer) {
  if (type < 1 || type > 3) {
    throw StoreError("Recipients.Add: recipient type " + std::to_string(type) +
                     " is not 1, 2 or 3");
  }
  const mime::Mailbox box{std::string(name), std::string(address)};
  pst::messaging::PropertyBag row;
  for (pst::ltp::TaggedValue& v : mime::RecipientProperties(box, type)) row.Set(v.tag, std::move(v.value));
  // PidTagRecipientFlags: sendable, and the organizer's own row (MS-OXOCAL 2.2.4.10.1).
  row.Set(pst::ltp::MakeTag(0x5FFD, pst::ltp::PropType::kInt32),
          PropValue::Int32(organizer ? 0x0003 : 0x0001));
  row.Set(pst::ltp::MakeTag(0x5FFF, pst::ltp::PropType::kInt32), PropValue::Int32(response));
  message_.content().recipients.push_back(std::move(row));
  if (organizer) {
    mime::PropertyList sender;
    mime::AddSenderProperties(sender, box, mime::SenderRole::kSender);
    mime::AddSenderProperties(sender, box, mime::SenderRole::kSentRepresenting);
    for (pst::ltp::TaggedValue& v : sender) message_.content().props.Set(v.tag, std::move(v.value));
  }
}

void PstItem::AddException(const OccurrenceException& x) {
  if (type_ != ItemType::kAppointment) {
    throw StoreError("AddException: only an appointment has occurrences");
  }
  using pst::ltp::MakeTag;
  using pst::ltp::PropType;
  auto appointment = [](std::uint32_t lid, PropType type) {
    pst::messaging::NamedProperty n;
    n.set = pst::messaging::PsetidAppointment();
    n.lid = lid;
    n.type = type;
    return n;
  };
  pst::messaging::AttachmentContent att;
  att.props.Set(pst::messaging::kPrAttachMethod, PropValue::Int32(pst::messaging::kAttachEmbeddedMsg));
  att.props.Set(pst::messaging::kPrDisplayName, PropValue::String(x.subject));
  att.props.Set(pst::messaging::kPrAttachmentHidden, PropValue::Boolean(true));
  att.props.Set(pst::messaging::kPrRenderingPosition, PropValue::Int32(-1));
  att.props.Set(MakeTag(0x7FFD, PropType::kInt32), PropValue::Int32(2));  // afException
  att.props.Set(MakeTag(0x7FFB, PropType::kTime), PropValue::Time(x.start_wall));
  att.props.Set(MakeTag(0x7FFC, PropType::kTime), PropValue::Time(x.end_wall));
  att.props.Set(MakeTag(0x7FF9, PropType::kTime), PropValue::Time(x.original_start));
  att.embedded = std::make_unique<pst::messaging::MessageContent>();
  pst::messaging::PropertyBag& p = att.embedded->props;
  p.Set(pst::messaging::kPrMessageClass,
        PropValue::String("IPM.OLE.CLASS.{00061055-0000-0000-C000-000000000046}"));
  p.Set(pst::messaging::kPrSubject, PropValue::String(x.subject));
  p.Set(pst::messaging::kPrNormalizedSubject, PropValue::String(x.subject));
  p.Set(pst::messaging::kPrBody, PropValue::String(x.body));
  p.Set(pst::messaging::kPrMessageFlags, PropValue::Int32(pst::messaging::kMsgFlagRead));
  for (const auto& w : TimePropertyWrites(ItemType::kAppointment, "Start", x.start, x.start_wall)) {
    if (w.key.named) p.SetNamed(*w.key.named, w.value); else p.Set(w.key.tag, w.value);
  }
  for (const auto& w : TimePropertyWrites(ItemType::kAppointment, "End", x.end, x.end_wall)) {
    if (w.key.named) p.SetNamed(*w.key.named, w.value); else p.Set(w.key.tag, w.value);
  }
  p.SetNamed(appointment(0x8208, PropType::kString), PropValue::String(x.location));
  p.SetNamed(appointment(0x8228, PropType::kTime), PropValue::Time(x.original_start));
  p.SetNamed(appointment(0x8213, PropType::kInt32),
             PropValue::Int32(static_cast<std::int32_t>(
                 x.end >= x.start ? (x.end - x.start) / 600000000ULL : 0)));
  p.SetNamed(appointment(0x8205, PropType::kInt32), PropValue::Int32(2));
  p.SetNamed(appointment(0x8223, PropType::kBoolean), PropValue::Boolean(false));
  message_.content().attachments.push_back(std::move(att));
}

void PstItem::AddMember(std::string_view name, std::string_view address) {
  if (type_ != ItemType::kDistList) throw StoreError("AddMember: only a distribution list has members");
  members_.push_back(mime::OneOffEntryId({std::string(name), std::string(address)}));
  // MS-OXOCNTC 2.2.2.2: the members, their one-off forms (the same for one-off members),
  // and the checksum of the members' bytes.
  auto address_lid = [](std::uint32_t lid, pst::ltp::PropType type) {
    pst::messaging::NamedProperty n;
    n.set = pst::messaging::PsetidAddress();
    n.lid = lid;
    n.type = type;
    return n;
  };
  auto& p = message_.content().props;
  p.SetNamed(address_lid(0x8055, pst::ltp::PropType::kMvBinary), PropValue::MvBinary(members_));
  p.SetNamed(address_lid(0x8054, pst::ltp::PropType::kMvBinary), PropValue::MvBinary(members_));
  std::vector<std::uint8_t> all;
  for (const auto& m : members_) all.insert(all.end(), m.begin(), m.end());
  p.SetNamed(address_lid(0x804C, pst::ltp::PropType::kInt32),
             PropValue::Int32(static_cast<std::int32_t>(pst::ndb::Crc32(all))));
}

bool PstItem::HasAttachments() const { return !message_.content().attachments.empty(); }

void PstItem::Save() {
  DeriveOnSave(type_, message_.content());
  message_.Save();
}

}  // namespace mailvane::store
