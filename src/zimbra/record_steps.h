// Shared pieces of the four record steps.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "zimbra/item_steps.h"
#include "zimbra/meta_keys.h"

namespace mailvane::zimbra {

// The record text of file; false when it could not be read (recorded).
bool ReadRecordText(ItemContext& ctx, source::ExportFile& file, std::u16string& text);

// Reads the record of file and scans the section after marker with table into values.
// False when the file holds no record of that kind (or could not be read: recorded).
bool ScanRecord(ItemContext& ctx, source::ExportFile& file, std::string_view marker,
                std::span<const MetaKey> table, MetaValues& values);

// The table with its date rows ("st", "et") taking the whole date-time value instead of
// its date text.
std::vector<MetaKey> WithWholeDateTimes(std::span<const MetaKey> table);

}  // namespace mailvane::zimbra
