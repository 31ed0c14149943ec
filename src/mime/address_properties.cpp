#include "mime/address_properties.h"

#include <cctype>

#include "base/utf.h"
#include "pst/messaging/property_tags.h"

namespace mailvane::mime {
namespace {

using pst::ltp::PropValue;

constexpr std::uint8_t kOneOffProviderUid[16] = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                                 0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};
// MAPI_ONE_OFF_UNICODE | MAPI_ONE_OFF_NO_RICH_INFO with the "no lookup" bit, as Outlook
// writes it: bytes 01 90.
constexpr std::uint16_t kOneOffFlags = 0x9001;
constexpr char kSmtp[] = "SMTP";

void AppendUtf16z(std::vector<std::uint8_t>& out, const std::string& utf8) {
  for (char16_t c : base::Utf16FromUtf8(utf8)) {
    out.push_back(static_cast<std::uint8_t>(c & 0xFF));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
}

void Append32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

std::string DisplayNameOf(const Mailbox& m) { return m.name.empty() ? m.address : m.name; }

std::vector<std::uint8_t> OneOffEntryId(const Mailbox& m) {
  std::vector<std::uint8_t> id;
  id.reserve(64);
  Append32(id, 0);  // long-term entry ID flags
  for (std::uint8_t b : kOneOffProviderUid) id.push_back(b);
  id.push_back(0);  // version
  id.push_back(0);
  id.push_back(static_cast<std::uint8_t>(kOneOffFlags & 0xFF));
  id.push_back(static_cast<std::uint8_t>(kOneOffFlags >> 8));
  AppendUtf16z(id, DisplayNameOf(m));
  AppendUtf16z(id, kSmtp);
  AppendUtf16z(id, m.address);
  return id;
}

std::vector<std::uint8_t> SmtpSearchKey(const std::string& address) {
  std::vector<std::uint8_t> key(std::begin(kSmtp), std::end(kSmtp) - 1);
  key.push_back(':');
  for (char c : address) {
    key.push_back(static_cast<std::uint8_t>(std::toupper(static_cast<unsigned char>(c))));
  }
  key.push_back(0);
  return key;
}

std::vector<std::uint8_t> FlatEntryList(const std::vector<Mailbox>& mailboxes) {
  std::vector<std::uint8_t> entries;
  for (const auto& m : mailboxes) {
    const auto id = OneOffEntryId(m);
    Append32(entries, static_cast<std::uint32_t>(id.size()));
    entries.insert(entries.end(), id.begin(), id.end());
    while (entries.size() % 4 != 0) entries.push_back(0);  // each entry 4-byte aligned
  }
  std::vector<std::uint8_t> list;
  Append32(list, static_cast<std::uint32_t>(mailboxes.size()));
  Append32(list, static_cast<std::uint32_t>(entries.size()));
  list.insert(list.end(), entries.begin(), entries.end());
  return list;
}

void AddSenderProperties(PropertyList& props, const Mailbox& m, SenderRole role) {
  const bool sender = role == SenderRole::kSender;
  props.push_back({sender ? pst::messaging::kPrSenderName : pst::messaging::kPrSentRepresentingName,
                   PropValue::String(DisplayNameOf(m))});
  props.push_back({sender ? pst::messaging::kPrSenderEmailAddress : pst::messaging::kPrSentRepresentingEmailAddress,
                   PropValue::String(m.address)});
  props.push_back({sender ? pst::messaging::kPrSenderAddrType : pst::messaging::kPrSentRepresentingAddrType,
                   PropValue::String(kSmtp)});
  props.push_back({sender ? pst::messaging::kPrSenderEntryId : pst::messaging::kPrSentRepresentingEntryId,
                   PropValue::Binary(OneOffEntryId(m))});
  props.push_back({sender ? pst::messaging::kPrSenderSearchKey : pst::messaging::kPrSentRepresentingSearchKey,
                   PropValue::Binary(SmtpSearchKey(m.address))});
  props.push_back({sender ? pst::messaging::kPrSenderSmtpAddress : pst::messaging::kPrSentRepresentingSmtpAddress,
                   PropValue::String(m.address)});
}

PropertyList RecipientProperties(const Mailbox& m, std::int32_t type) {
  PropertyList row;
  row.push_back({pst::messaging::kPrRecipientType, PropValue::Int32(type)});
  row.push_back({pst::messaging::kPrDisplayName, PropValue::String(DisplayNameOf(m))});
  row.push_back({pst::messaging::kPrAddrType, PropValue::String(kSmtp)});
  row.push_back({pst::messaging::kPrEmailAddress, PropValue::String(m.address)});
  row.push_back({pst::messaging::kPrSmtpAddress, PropValue::String(m.address)});
  row.push_back({pst::messaging::kPrEntryId, PropValue::Binary(OneOffEntryId(m))});
  row.push_back({pst::messaging::kPrSearchKey, PropValue::Binary(SmtpSearchKey(m.address))});
  row.push_back({pst::messaging::kPrObjectType, PropValue::Int32(pst::messaging::kObjectTypeMailUser)});
  row.push_back({pst::messaging::kPrDisplayType, PropValue::Int32(pst::messaging::kDisplayTypeMailUser)});
  row.push_back({pst::messaging::kPrSendRichInfo, PropValue::Boolean(false)});
  row.push_back({pst::messaging::kPrResponsibility, PropValue::Boolean(false)});
  return row;
}

}  // namespace mailvane::mime
