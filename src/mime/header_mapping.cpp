// Message headers to MAPI properties (MS-OXCMAIL 2.2.3).
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/file_time.h"
#include "mime/address_properties.h"
#include "mime/charset_text.h"
#include "mime/gmime_support.h"
#include "mime/message_limits.h"
#include "mime/message_mapping.h"
#include "mime/subject_prefix.h"
#include "pst/messaging/property_tags.h"

namespace mailvane::mime {
namespace {

using pst::ltp::PropValue;

void CollectMailboxes(InternetAddressList* list, std::vector<Mailbox>& out) {
  if (!list) return;
  const int n = internet_address_list_length(list);
  for (int i = 0; i < n; ++i) {
    InternetAddress* a = internet_address_list_get_address(list, i);
    if (INTERNET_ADDRESS_IS_GROUP(a)) {  // RFC 5322 groups: their members are the recipients
      CollectMailboxes(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(a)), out);
    } else if (INTERNET_ADDRESS_IS_MAILBOX(a)) {
      const char* name = internet_address_get_name(a);
      const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a));
      Mailbox m{name ? name : "", addr ? addr : ""};
      if (!m.name.empty() || !m.address.empty()) out.push_back(std::move(m));
    }
  }
}

std::vector<Mailbox> Mailboxes(InternetAddressList* list) {
  std::vector<Mailbox> out;
  CollectMailboxes(list, out);
  return out;
}

std::string Trimmed(const char* s) {
  if (!s) return {};
  std::string v(s);
  const auto first = v.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return v.substr(first, v.find_last_not_of(" \t\r\n") - first + 1);
}

std::optional<base::FileTime> FileTimeOf(GDateTime* dt) {
  if (!dt) return std::nullopt;
  const gint64 unix_seconds = g_date_time_to_unix(dt);
  if (unix_seconds < -base::kFileTimeEpochDelta) return std::nullopt;  // before 1601
  return base::FileTimeFromUnix(unix_seconds);
}

// The date after the last ';' of the topmost Received header (RFC 5321 4.4).
std::optional<base::FileTime> FirstReceivedTime(GMimeObject* object) {
  GMimeHeaderList* headers = g_mime_object_get_header_list(object);
  const int n = headers ? g_mime_header_list_get_count(headers) : 0;
  for (int i = 0; i < n; ++i) {
    GMimeHeader* h = g_mime_header_list_get_header_at(headers, i);
    if (g_ascii_strcasecmp(g_mime_header_get_name(h), "Received") != 0) continue;
    const char* value = g_mime_header_get_value(h);
    const char* semi = value ? std::strrchr(value, ';') : nullptr;
    if (!semi) return std::nullopt;
    GDateTime* dt = g_mime_utils_header_decode_date(semi + 1);
    auto t = FileTimeOf(dt);
    if (dt) g_date_time_unref(dt);
    return t;
  }
  return std::nullopt;
}

std::string JoinNames(const std::vector<Mailbox>& boxes) {
  std::string out;
  for (const auto& m : boxes) {
    if (!out.empty()) out += "; ";
    out += DisplayNameOf(m);
  }
  return out;
}

// The raw header block with CRLF line ends; 8-bit bytes read as UTF-8 or Windows-1252.
std::string TransportHeaders(GMimeObject* object) {
  const std::string raw = TakeGString(g_mime_object_get_headers(object, nullptr));
  const std::string text = DecodeToUtf8(raw, {}).utf8;
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

void AddText(PropertyList& props, pst::ltp::PropTag tag, const std::string& value) {
  if (!value.empty()) props.push_back({tag, PropValue::String(value)});
}

}  // namespace

void MapHeaders(GMimeMessage* message, ParsedMessage& out) {
  auto& props = out.properties;
  GMimeObject* object = GMIME_OBJECT(message);
  props.push_back({pst::messaging::kPrMessageClass, PropValue::String("IPM.Note")});

  if (const char* subject = g_mime_message_get_subject(message)) {
    const SplitSubject split = SplitSubjectPrefix(subject);
    props.push_back({pst::messaging::kPrSubject, PropValue::String(subject)});
    props.push_back({pst::messaging::kPrSubjectPrefix, PropValue::String(split.prefix)});
    props.push_back({pst::messaging::kPrNormalizedSubject, PropValue::String(split.normalized)});
    props.push_back({pst::messaging::kPrConversationTopic, PropValue::String(split.normalized)});
  }

  // From: is who the message is sent for; Sender: who sent it, the From: mailbox if absent.
  const auto from = Mailboxes(g_mime_message_get_from(message));
  const auto sender = Mailboxes(g_mime_message_get_sender(message));
  const Mailbox* representing = !from.empty() ? &from.front() : sender.empty() ? nullptr : &sender.front();
  const Mailbox* actual = !sender.empty() ? &sender.front() : representing;
  if (representing) AddSenderProperties(props, *representing, SenderRole::kSentRepresenting);
  if (actual) AddSenderProperties(props, *actual, SenderRole::kSender);

  const auto reply_to = Mailboxes(g_mime_message_get_reply_to(message));
  if (!reply_to.empty()) {
    props.push_back({pst::messaging::kPrReplyRecipientNames, PropValue::String(JoinNames(reply_to))});
    props.push_back({pst::messaging::kPrReplyRecipientEntries, PropValue::Binary(FlatEntryList(reply_to))});
  }

  const struct {
    GMimeAddressType kind;
    std::int32_t type;
    pst::ltp::PropTag display;
  } kLists[] = {{GMIME_ADDRESS_TYPE_TO, pst::messaging::kRecipientTo, pst::messaging::kPrDisplayTo},
                {GMIME_ADDRESS_TYPE_CC, pst::messaging::kRecipientCc, pst::messaging::kPrDisplayCc},
                {GMIME_ADDRESS_TYPE_BCC, pst::messaging::kRecipientBcc, pst::messaging::kPrDisplayBcc}};
  // Each row costs a few KB in the store; the display lines and the Internet headers
  // still name everyone.
  std::size_t named = 0;
  for (const auto& list : kLists) {
    const auto boxes = Mailboxes(g_mime_message_get_addresses(message, list.kind));
    for (const auto& m : boxes) {
      if (++named <= kMessageLimits.max_recipients) {
        out.recipients.push_back(RecipientProperties(m, list.type));
      }
    }
    props.push_back({list.display, PropValue::String(JoinNames(boxes))});
  }
  if (named > kMessageLimits.max_recipients) {
    out.warnings.push_back("the message names " + std::to_string(named) +
                           " recipients; only the first " +
                           std::to_string(kMessageLimits.max_recipients) +
                           " were taken into its recipient list");
  }

  const auto submitted = FileTimeOf(g_mime_message_get_date(message));
  const auto received = FirstReceivedTime(object);
  if (submitted) props.push_back({pst::messaging::kPrClientSubmitTime, PropValue::Time(*submitted)});
  if (received || submitted) {
    props.push_back({pst::messaging::kPrMessageDeliveryTime, PropValue::Time(received ? *received : *submitted)});
  }

  AddText(props, pst::messaging::kPrInternetMessageId, Trimmed(g_mime_object_get_header(object, "Message-ID")));
  AddText(props, pst::messaging::kPrInReplyToId, Trimmed(g_mime_object_get_header(object, "In-Reply-To")));
  AddText(props, pst::messaging::kPrInternetReferences, Trimmed(g_mime_object_get_header(object, "References")));
  AddText(props, pst::messaging::kPrTransportMessageHeaders, TransportHeaders(object));
}

}  // namespace mailvane::mime
