#include "run/item_step_table.h"

namespace mailvane::run {

ItemSteps DefaultItemSteps() {
  ItemSteps steps;
  steps.contact = zimbra::ConvertContactRecord;
  steps.calendar = zimbra::ConvertCalendarRecord;
  steps.task = zimbra::ConvertTaskRecord;
  steps.note = zimbra::ConvertNoteRecord;
  steps.message = ImportMessageFile;
  return steps;
}

}  // namespace mailvane::run
