// Checks of the items of a PST (MS-PST 2.4.5 to 2.4.7): each folder's contents rows
// against the messages' own properties, each message's recipient and attachment tables
// against its attachment objects (embedded messages included), the attachment flag, and
// the name-to-ID map against the named property ids the items use.
#pragma once

#include "pst/check/messaging_check.h"
#include "pst/ndb/node_database.h"

namespace mailvane::pst::check {

void CheckItems(ndb::NodeDatabase& db, const MessagingReport& report);

}  // namespace mailvane::pst::check
