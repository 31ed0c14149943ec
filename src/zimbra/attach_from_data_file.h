// The attachment stage of the appointment and task writers: the data file beside a
// record holds the item's invites as MIME messages (a multipart/digest); the message
// text from the first "Subject: " on is parsed in memory, and what a mail program would
// show as attachments goes from the parsed parts straight into the item, under names made
// safe for display. Nothing is written to disk.
#pragma once

#include "source/export_file.h"
#include "zimbra/guarded_item.h"

namespace mailvane::zimbra {

// Returns the number of attachments added. No data file (nullptr) adds none.
int AttachFromDataFile(GuardedItem& item, source::ExportFile* data_file);

}  // namespace mailvane::zimbra
