// The attachment stage of the appointment and task writers: the data file beside a
// record holds the item's invites as MIME messages (a multipart/digest); the message
// text from the first "Subject: " on is handed to the MIME parser through a "ZIM" file in
// the temporary folder, and what a mail program would show as attachments is added to
// the item. Attachments are staged in a private folder made for this one message, under
// safe names; the folder and the "ZIM" file are removed whatever happens.
#pragma once

#include <string>

#include "zimbra/guarded_item.h"

namespace mailvane::zimbra {

// Returns the number of attachments added. A data file that does not exist adds none
// and leaves no temporary file.
int AttachFromDataFile(GuardedItem& item, const std::string& data_file);

}  // namespace mailvane::zimbra
