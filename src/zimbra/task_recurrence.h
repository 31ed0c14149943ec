// A recurring task as Outlook keeps one (MS-OXOTASK): the task is its current occurrence,
// the pattern it regenerates from rides along (PidLidTaskRecurrence, PidLidTaskFRecurring).
#pragma once

#include "zimbra/guarded_item.h"
#include "zimbra/invite.h"
#include "zimbra/meta_tree.h"

namespace mailvane::zimbra {

// Writes the pattern of the record whose first invite is task; does nothing for a task
// that does not recur. A pattern Outlook cannot express leaves a one-off task, and the
// run report says so.
void WriteTaskRecurrence(GuardedItem& item, const MetaTree& tree, const Invite& task);

}  // namespace mailvane::zimbra
