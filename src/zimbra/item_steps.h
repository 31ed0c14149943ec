// The item steps of a run: each takes one file of the export that passed its test and
// writes what it holds into the target store. Every failure inside a step is recorded in
// the run's failure log; none escapes.
#pragma once

#include <string>

#include "source/failure_log.h"
#include "source/front_end.h"
#include "store/mail_store.h"

namespace mailvane::zimbra {

struct ItemContext {
  store::Session& session;
  std::string storeID;  // the target store's entry ID
  source::FrontEnd& front_end;
  source::FailureLog& failures;
};

// Each returns true when an item was written (the run counts them per kind).
bool ConvertContactRecord(ItemContext& ctx, const std::string& file);
bool ConvertCalendarRecord(ItemContext& ctx, const std::string& file);
bool ConvertTaskRecord(ItemContext& ctx, const std::string& file);
bool ConvertNoteRecord(ItemContext& ctx, const std::string& file);

}  // namespace mailvane::zimbra
