// The item writers: each creates one item in a default folder of the target store,
// writes its properties by name in a fixed order and saves it. Every operation is a
// step of its own (see GuardedItem); each returns true when the item was saved.
// file names the record being converted, for the run report.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "zimbra/contact_fields.h"
#include "zimbra/item_steps.h"

namespace mailvane::zimbra {

class GuardedItem;
// What a step writes beyond the writer's own properties, just before the first save.
using ItemDetails = std::function<void(GuardedItem&)>;

// eBirthday and eAnniversary: MM/DD/YYYY texts (see BirthdayText); written only when
// they are dates.
bool CreateContactItem(ItemContext& ctx, std::string_view file, const std::string& storeID,
                       int FolderName, const ContactFields& fields,
                       const std::string& eBirthday = {}, const std::string& eAnniversary = {},
                       const ItemDetails& details = {});

// eAttachFile: the record's data file, whose attachments the item gets; nullptr for none.
// eStart and eEnd: Zimbra date-time values (see ReadCalendarTime). When both are dates
// without a time the appointment is an all-day event.
bool CreateCalendarItem(ItemContext& ctx, std::string_view file, const std::string& storeID,
                        int FolderName, const std::string& eSubject, const std::string& eStart,
                        const std::string& eEnd, const std::string& eLocation,
                        const std::string& eCategories, const std::string& eBody,
                        source::ExportFile* eAttachFile, const ItemDetails& details = {});

// eStartDate and eDueDate: Zimbra date or date-time values; tasks keep the date only.
bool CreateToDoItem(ItemContext& ctx, std::string_view file, const std::string& storeID,
                    int FolderName, const std::string& eSubject, const std::string& eStartDate,
                    const std::string& eDueDate, const std::string& eBody,
                    source::ExportFile* eAttachFile, const ItemDetails& details = {});

bool CreateNotesItem(ItemContext& ctx, std::string_view file, const std::string& storeID,
                     int FolderName, const std::string& eSubject, const std::string& eBody);

}  // namespace mailvane::zimbra
