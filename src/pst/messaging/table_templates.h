// Column sets of the tables a store holds: the templates of MS-PST 2.4.4.4.1, 2.4.4.5.1,
// 2.4.4.6.1, 2.4.8.6.2.1, 2.4.5.3.1 and 2.4.6.1.1 as Outlook writes them (the column types
// follow Outlook's files where they differ from the document's lists), and the internal
// tables that a new Outlook store also holds. The row id and row version columns are part
// of every set.
#pragma once

#include <span>

#include "pst/ltp/property_value.h"

namespace mailvane::pst::messaging {

std::span<const ltp::PropTag> HierarchyColumns();
std::span<const ltp::PropTag> ContentsColumns();
std::span<const ltp::PropTag> AssocContentsColumns();
std::span<const ltp::PropTag> SearchContentsColumns();
std::span<const ltp::PropTag> AttachmentColumns();
std::span<const ltp::PropTag> RecipientColumns();
std::span<const ltp::PropTag> ReceiveFolderColumns();
std::span<const ltp::PropTag> OutgoingQueueColumns();
// Three undocumented tables (NIDs 0x6B6, 0x6D7, 0x6F8) that Outlook creates with every store.
std::span<const ltp::PropTag> Internal6B6Columns();
std::span<const ltp::PropTag> Internal6D7Columns();
std::span<const ltp::PropTag> Internal6F8Columns();

}  // namespace mailvane::pst::messaging
