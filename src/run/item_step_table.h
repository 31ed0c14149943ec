// The per-file steps of a run as a table of functions, so that a test can put recorders in
// place of the real conversions and see which file went to which step.
#pragma once

#include <functional>
#include <string>

#include "run/message_import.h"
#include "zimbra/item_steps.h"

namespace mailvane::run {

// Each returns true when it wrote an item.
using RecordStep = std::function<bool(zimbra::ItemContext&, source::ExportFile& file)>;
// file is read; logical_path (its path with Zimbra's "!N" split endings removed) is routed.
using MessageStep = std::function<bool(MessageContext&, source::ExportFile& file,
                                       const std::string& logical_path)>;

struct ItemSteps {
  RecordStep contact;
  RecordStep calendar;
  RecordStep task;
  RecordStep note;
  MessageStep message;
};

// The real steps: the four Zimbra record conversions and ImportMessageFile.
ItemSteps DefaultItemSteps();

}  // namespace mailvane::run
