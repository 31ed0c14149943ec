// Property tags of the store's own bookkeeping: the store, folder and table objects
// (MS-OXPROPS, MS-PST 2.4). The tags items carry are in pst/property_tags.h; the few both
// use are named here from there.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pst/ltp/property_value.h"
#include "pst/property_tags.h"

namespace mailvane::pst::tags {

// Identity and names.
inline constexpr PropTag kRecordKey = 0x0FF90102;
inline constexpr PropTag kDisplayName = kPrDisplayName;
inline constexpr PropTag kComment = 0x3004001F;
inline constexpr PropTag kMessageClass = kPrMessageClass;
inline constexpr PropTag kMessageFlags = kPrMessageFlags;

// Folder schema (MS-PST 2.4.4.1.1) and the hierarchy-table extras.
inline constexpr PropTag kContentCount = 0x36020003;
inline constexpr PropTag kContentUnreadCount = 0x36030003;
inline constexpr PropTag kSubfolders = 0x360A000B;
inline constexpr PropTag kContainerClass = 0x3613001F;
inline constexpr PropTag kPstHiddenCount = 0x66350003;
inline constexpr PropTag kPstHiddenUnread = 0x66360003;

// Table bookkeeping columns (MS-PST 2.3.4).
inline constexpr PropTag kLtpRowId = 0x67F20003;
inline constexpr PropTag kLtpRowVer = 0x67F30003;
inline constexpr PropTag kLtpParentNid = 0x67F10003;

// Message store (MS-PST 2.4.3.1, MS-OXOSFLD 2.2).
inline constexpr PropTag kValidFolderMask = 0x35DF0003;
inline constexpr PropTag kIpmSubtreeEntryId = 0x35E00102;
inline constexpr PropTag kIpmOutboxEntryId = 0x35E20102;
inline constexpr PropTag kIpmWastebasketEntryId = 0x35E30102;
inline constexpr PropTag kIpmSentMailEntryId = 0x35E40102;
inline constexpr PropTag kFinderEntryId = 0x35E70102;
inline constexpr PropTag kPstLrNoRestrictions = 0x6633000B;
inline constexpr PropTag kPstPassword = 0x67FF0003;

// Default folders kept on the root folder and the inbox (MS-OXOSFLD 2.2.3, 2.2.4).
inline constexpr PropTag kIpmAppointmentEntryId = 0x36D00102;
inline constexpr PropTag kIpmContactEntryId = 0x36D10102;
inline constexpr PropTag kIpmJournalEntryId = 0x36D20102;
inline constexpr PropTag kIpmNoteEntryId = 0x36D30102;
inline constexpr PropTag kIpmTaskEntryId = 0x36D40102;
inline constexpr PropTag kIpmDraftsEntryId = 0x36D70102;
inline constexpr PropTag kAdditionalRenEntryIds = 0x36D81102;

// Receive folder table (MS-PST 2.4.3, one row per message class prefix).
inline constexpr PropTag kPstReceiveFolderNid = 0x66050003;

// Search criteria object of a search folder.
inline constexpr PropTag kSearchCriteriaFlags = 0x660B0003;

// Name-to-ID map (MS-PST 2.4.7).
inline constexpr PropTag kNameidBucketCount = 0x00010003;

// Valid folder mask bits (PidTagValidFolderMask).
inline constexpr std::int32_t kMaskSubtree = 0x01;
inline constexpr std::int32_t kMaskInbox = 0x02;
inline constexpr std::int32_t kMaskOutbox = 0x04;
inline constexpr std::int32_t kMaskWastebasket = 0x08;
inline constexpr std::int32_t kMaskSentMail = 0x10;
inline constexpr std::int32_t kMaskFinder = 0x80;

// Index of the junk folder in PidTagAdditionalRenEntryIds (MS-OXOSFLD 2.2.4).
inline constexpr std::size_t kRenJunkIndex = 4;

}  // namespace mailvane::pst::tags
