// Properties of an SMTP mailbox as MS-OXCMAIL maps it: the sender and sent-representing
// groups of a message, and the rows of its recipient table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mime/parsed_message.h"

namespace mailvane::mime {

struct Mailbox {
  std::string name;     // UTF-8 display name, may be empty
  std::string address;  // the SMTP address, may be empty in broken mail
};

// The name shown for a mailbox: its display name, else its address.
std::string DisplayNameOf(const Mailbox& m);

// A Unicode one-off entry ID (MS-OXCDATA 2.2.5.1) of an SMTP mailbox.
std::vector<std::uint8_t> OneOffEntryId(const Mailbox& m);

// "SMTP:" + the upper-cased address + a NUL, as ASCII bytes (MS-OXCMAIL search keys).
std::vector<std::uint8_t> SmtpSearchKey(const std::string& address);

// A FLATENTRYLIST (MS-OXCDATA 2.3.3) of one-off entry IDs, for PidTagReplyRecipientEntries.
std::vector<std::uint8_t> FlatEntryList(const std::vector<Mailbox>& mailboxes);

enum class SenderRole { kSender, kSentRepresenting };

// Adds the name, address, address type, entry ID, search key and SMTP address of the role.
void AddSenderProperties(PropertyList& props, const Mailbox& m, SenderRole role);

// One recipient-table row; type is kRecipientTo, kRecipientCc or kRecipientBcc.
PropertyList RecipientProperties(const Mailbox& m, std::int32_t type);

}  // namespace mailvane::mime
