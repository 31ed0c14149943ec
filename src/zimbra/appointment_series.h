// A recurring appointment's series: its rule and exceptions from the record, written as
// Outlook keeps a series (MS-OXOCAL): the recurrence blob, its type and text, the clip
// dates and the time zone, with a hidden attachment per changed occurrence.
#pragma once

#include "zimbra/guarded_item.h"
#include "zimbra/invite.h"
#include "zimbra/meta_tree.h"

namespace mailvane::zimbra {

// Writes the series of the record whose first invite is master; does nothing for a single
// appointment. A series Outlook cannot express stays its first occurrence, and the run
// report says so.
void WriteSeries(GuardedItem& item, const MetaTree& tree, const Invite& master);

}  // namespace mailvane::zimbra
