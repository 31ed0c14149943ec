// The item steps of a run: each takes one file of the export that passed its test and
// writes what it holds into the target store. Every failure inside a step is recorded in
// the run's failure log; none escapes.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "source/export_file.h"
#include "source/failure_log.h"
#include "source/front_end.h"
#include "store/mail_store.h"

namespace mailvane::zimbra {

struct ItemContext {
  store::Session& session;
  std::string storeID;  // the target store's entry ID
  source::FrontEnd& front_end;
  source::FailureLog& failures;
  // What the run report should tell that is not a failure (an item written with a
  // fallback, such as an unknown time zone read as local time). May be left empty.
  std::function<void(std::string_view file, std::string_view note)> notice = {};
  // The folder an item of that type read from file goes into; nullptr (or no function)
  // for the store's default folder of its kind. Raises when the folder cannot be made.
  std::function<std::unique_ptr<store::Folder>(const std::string& file, store::ItemType type)>
      item_folder = {};
  // Set by a step while its writer runs: the folder that item_folder chose.
  store::Folder* target_folder = nullptr;
};

// Each returns true when an item was written (the run counts them per kind).
bool ConvertContactRecord(ItemContext& ctx, source::ExportFile& file);
bool ConvertCalendarRecord(ItemContext& ctx, source::ExportFile& file);
bool ConvertTaskRecord(ItemContext& ctx, source::ExportFile& file);
bool ConvertNoteRecord(ItemContext& ctx, source::ExportFile& file);

}  // namespace mailvane::zimbra
