// Tags of the MAPI properties (MS-OXPROPS) this engine writes and reads, grouped by the
// object that carries them: messages, recipients and attachments first, then the store's
// own bookkeeping (store, folder and table objects, MS-PST 2.4). Comments give the
// canonical name where the constant's name does not.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pst/ltp/property_value.h"

namespace mailvane::pst::messaging {


// --- Message -------------------------------------------------------------------------
inline constexpr ltp::PropTag kPrMessageClass = ltp::MakeTag(0x001A, ltp::PropType::kString);        // PidTagMessageClass
inline constexpr ltp::PropTag kPrSubject = ltp::MakeTag(0x0037, ltp::PropType::kString);             // PidTagSubject
inline constexpr ltp::PropTag kPrSubjectPrefix = ltp::MakeTag(0x003D, ltp::PropType::kString);       // PidTagSubjectPrefix
inline constexpr ltp::PropTag kPrNormalizedSubject = ltp::MakeTag(0x0E1D, ltp::PropType::kString);   // PidTagNormalizedSubject
inline constexpr ltp::PropTag kPrConversationTopic = ltp::MakeTag(0x0070, ltp::PropType::kString);   // PidTagConversationTopic
inline constexpr ltp::PropTag kPrClientSubmitTime = ltp::MakeTag(0x0039, ltp::PropType::kTime);      // PidTagClientSubmitTime
inline constexpr ltp::PropTag kPrMessageDeliveryTime = ltp::MakeTag(0x0E06, ltp::PropType::kTime);   // PidTagMessageDeliveryTime
inline constexpr ltp::PropTag kPrMessageFlags = ltp::MakeTag(0x0E07, ltp::PropType::kInt32);         // PidTagMessageFlags
inline constexpr ltp::PropTag kPrHasAttachments = ltp::MakeTag(0x0E1B, ltp::PropType::kBoolean);     // PidTagHasAttachments
inline constexpr ltp::PropTag kPrMessageSize = ltp::MakeTag(0x0E08, ltp::PropType::kInt32);          // PidTagMessageSize
inline constexpr ltp::PropTag kPrMessageStatus = ltp::MakeTag(0x0E17, ltp::PropType::kInt32);        // PidTagMessageStatus
inline constexpr ltp::PropTag kPrCreationTime = ltp::MakeTag(0x3007, ltp::PropType::kTime);          // PidTagCreationTime
inline constexpr ltp::PropTag kPrLastModificationTime = ltp::MakeTag(0x3008, ltp::PropType::kTime);  // PidTagLastModificationTime
inline constexpr ltp::PropTag kPrRecordKey = ltp::MakeTag(0x0FF9, ltp::PropType::kBinary);           // PidTagRecordKey
inline constexpr ltp::PropTag kPrImportance = ltp::MakeTag(0x0017, ltp::PropType::kInt32);           // PidTagImportance
inline constexpr ltp::PropTag kPrDisplayTo = ltp::MakeTag(0x0E04, ltp::PropType::kString);           // PidTagDisplayTo
inline constexpr ltp::PropTag kPrDisplayCc = ltp::MakeTag(0x0E03, ltp::PropType::kString);           // PidTagDisplayCc
inline constexpr ltp::PropTag kPrDisplayBcc = ltp::MakeTag(0x0E02, ltp::PropType::kString);          // PidTagDisplayBcc
inline constexpr ltp::PropTag kPrInternetMessageId = ltp::MakeTag(0x1035, ltp::PropType::kString);   // PidTagInternetMessageId
inline constexpr ltp::PropTag kPrInReplyToId = ltp::MakeTag(0x1042, ltp::PropType::kString);         // PidTagInReplyToId
inline constexpr ltp::PropTag kPrInternetReferences = ltp::MakeTag(0x1039, ltp::PropType::kString);  // PidTagInternetReferences
inline constexpr ltp::PropTag kPrTransportMessageHeaders =
    ltp::MakeTag(0x007D, ltp::PropType::kString);                                               // PidTagTransportMessageHeaders
inline constexpr ltp::PropTag kPrBody = ltp::MakeTag(0x1000, ltp::PropType::kString);                // PidTagBody
inline constexpr ltp::PropTag kPrHtml = ltp::MakeTag(0x1013, ltp::PropType::kBinary);                // PidTagHtml
inline constexpr ltp::PropTag kPrInternetCpid = ltp::MakeTag(0x3FDE, ltp::PropType::kInt32);         // PidTagInternetCodepage
inline constexpr ltp::PropTag kPrReplyRecipientNames = ltp::MakeTag(0x0050, ltp::PropType::kString); // PidTagReplyRecipientNames
inline constexpr ltp::PropTag kPrReplyRecipientEntries =
    ltp::MakeTag(0x004F, ltp::PropType::kBinary);                                               // PidTagReplyRecipientEntries

// Sender (the Sender: header, else From:).
inline constexpr ltp::PropTag kPrSenderName = ltp::MakeTag(0x0C1A, ltp::PropType::kString);          // PidTagSenderName
inline constexpr ltp::PropTag kPrSenderEmailAddress = ltp::MakeTag(0x0C1F, ltp::PropType::kString);  // PidTagSenderEmailAddress
inline constexpr ltp::PropTag kPrSenderAddrType = ltp::MakeTag(0x0C1E, ltp::PropType::kString);      // PidTagSenderAddressType
inline constexpr ltp::PropTag kPrSenderEntryId = ltp::MakeTag(0x0C19, ltp::PropType::kBinary);       // PidTagSenderEntryId
inline constexpr ltp::PropTag kPrSenderSearchKey = ltp::MakeTag(0x0C1D, ltp::PropType::kBinary);     // PidTagSenderSearchKey
inline constexpr ltp::PropTag kPrSenderSmtpAddress = ltp::MakeTag(0x5D01, ltp::PropType::kString);   // PidTagSenderSmtpAddress

// Sent representing (the From: header).
inline constexpr ltp::PropTag kPrSentRepresentingName = ltp::MakeTag(0x0042, ltp::PropType::kString);          // PidTagSentRepresentingName
inline constexpr ltp::PropTag kPrSentRepresentingEmailAddress = ltp::MakeTag(0x0065, ltp::PropType::kString);  // PidTagSentRepresentingEmailAddress
inline constexpr ltp::PropTag kPrSentRepresentingAddrType = ltp::MakeTag(0x0064, ltp::PropType::kString);      // PidTagSentRepresentingAddressType
inline constexpr ltp::PropTag kPrSentRepresentingEntryId = ltp::MakeTag(0x0041, ltp::PropType::kBinary);       // PidTagSentRepresentingEntryId
inline constexpr ltp::PropTag kPrSentRepresentingSearchKey = ltp::MakeTag(0x003B, ltp::PropType::kBinary);     // PidTagSentRepresentingSearchKey
inline constexpr ltp::PropTag kPrSentRepresentingSmtpAddress = ltp::MakeTag(0x5D02, ltp::PropType::kString);   // PidTagSentRepresentingSmtpAddress

// --- Recipient -----------------------------------------------------------------------
inline constexpr ltp::PropTag kPrRecipientType = ltp::MakeTag(0x0C15, ltp::PropType::kInt32);        // PidTagRecipientType
inline constexpr ltp::PropTag kPrDisplayName = ltp::MakeTag(0x3001, ltp::PropType::kString);         // PidTagDisplayName
inline constexpr ltp::PropTag kPrEmailAddress = ltp::MakeTag(0x3003, ltp::PropType::kString);        // PidTagEmailAddress
inline constexpr ltp::PropTag kPrAddrType = ltp::MakeTag(0x3002, ltp::PropType::kString);            // PidTagAddressType
inline constexpr ltp::PropTag kPrSmtpAddress = ltp::MakeTag(0x39FE, ltp::PropType::kString);         // PidTagSmtpAddress
inline constexpr ltp::PropTag kPrEntryId = ltp::MakeTag(0x0FFF, ltp::PropType::kBinary);             // PidTagEntryId
inline constexpr ltp::PropTag kPrSearchKey = ltp::MakeTag(0x300B, ltp::PropType::kBinary);           // PidTagSearchKey
inline constexpr ltp::PropTag kPrObjectType = ltp::MakeTag(0x0FFE, ltp::PropType::kInt32);           // PidTagObjectType
inline constexpr ltp::PropTag kPrDisplayType = ltp::MakeTag(0x3900, ltp::PropType::kInt32);          // PidTagDisplayType
inline constexpr ltp::PropTag kPrSendRichInfo = ltp::MakeTag(0x3A40, ltp::PropType::kBoolean);       // PidTagSendRichInfo
inline constexpr ltp::PropTag kPrRowid = ltp::MakeTag(0x3000, ltp::PropType::kInt32);                // PidTagRowid
inline constexpr ltp::PropTag kPrResponsibility = ltp::MakeTag(0x0E0F, ltp::PropType::kBoolean);     // PidTagResponsibility

// --- Attachment ----------------------------------------------------------------------
inline constexpr ltp::PropTag kPrAttachMethod = ltp::MakeTag(0x3705, ltp::PropType::kInt32);         // PidTagAttachMethod
inline constexpr ltp::PropTag kPrAttachFilename = ltp::MakeTag(0x3704, ltp::PropType::kString);      // PidTagAttachFilename
inline constexpr ltp::PropTag kPrAttachLongFilename = ltp::MakeTag(0x3707, ltp::PropType::kString);  // PidTagAttachLongFilename
inline constexpr ltp::PropTag kPrAttachExtension = ltp::MakeTag(0x3703, ltp::PropType::kString);     // PidTagAttachExtension
inline constexpr ltp::PropTag kPrAttachMimeTag = ltp::MakeTag(0x370E, ltp::PropType::kString);       // PidTagAttachMimeTag
inline constexpr ltp::PropTag kPrAttachContentId = ltp::MakeTag(0x3712, ltp::PropType::kString);     // PidTagAttachContentId
inline constexpr ltp::PropTag kPrAttachContentLocation = ltp::MakeTag(0x3713, ltp::PropType::kString);  // PidTagAttachContentLocation
inline constexpr ltp::PropTag kPrAttachSize = ltp::MakeTag(0x0E20, ltp::PropType::kInt32);           // PidTagAttachSize
inline constexpr ltp::PropTag kPrAttachFlags = ltp::MakeTag(0x3714, ltp::PropType::kInt32);          // PidTagAttachFlags
inline constexpr ltp::PropTag kPrAttachmentHidden = ltp::MakeTag(0x7FFE, ltp::PropType::kBoolean);   // PidTagAttachmentHidden
inline constexpr ltp::PropTag kPrAttachNumber = ltp::MakeTag(0x0E21, ltp::PropType::kInt32);         // PidTagAttachNumber
inline constexpr ltp::PropTag kPrRenderingPosition = ltp::MakeTag(0x370B, ltp::PropType::kInt32);    // PidTagRenderingPosition
inline constexpr ltp::PropTag kPrAttachDataBin = ltp::MakeTag(0x3701, ltp::PropType::kBinary);       // PidTagAttachDataBinary
inline constexpr ltp::PropTag kPrAttachDataObj = ltp::MakeTag(0x3701, ltp::PropType::kObject);       // PidTagAttachDataObject
inline constexpr ltp::PropTag kPrIconIndex = ltp::MakeTag(0x1080, ltp::PropType::kInt32);            // PidTagIconIndex
inline constexpr ltp::PropTag kPrLastVerbExecuted = ltp::MakeTag(0x1081, ltp::PropType::kInt32);     // PidTagLastVerbExecuted
inline constexpr ltp::PropTag kPrLastVerbExecutionTime = ltp::MakeTag(0x1082, ltp::PropType::kTime); // PidTagLastVerbExecutionTime

// Values of kPrAttachMethod (MS-OXCMSG 2.2.2.9).
inline constexpr std::int32_t kAttachByValue = 1;
inline constexpr std::int32_t kAttachEmbeddedMsg = 5;
// Bits of kPrMessageFlags (MS-OXCMSG 2.2.1.6).
inline constexpr std::int32_t kMsgFlagRead = 0x01;
inline constexpr std::int32_t kMsgFlagUnsent = 0x08;
inline constexpr std::int32_t kMsgFlagHasAttach = 0x10;
// Bits of kPrAttachFlags (MS-OXCMSG 2.2.2.18).
inline constexpr std::int32_t kAttachMhtmlRef = 0x4;
// Values of kPrRecipientType (MS-OXOMSG 2.2.3.1).
inline constexpr std::int32_t kRecipientTo = 1;
inline constexpr std::int32_t kRecipientCc = 2;
inline constexpr std::int32_t kRecipientBcc = 3;
// kPrObjectType and kPrDisplayType of a one-off mail user.
inline constexpr std::int32_t kObjectTypeMailUser = 6;
inline constexpr std::int32_t kDisplayTypeMailUser = 0;

// --- Store, folders and tables --------------------------------------------------
// Identity and names.
inline constexpr ltp::PropTag kPrComment = 0x3004001F;

// Folder schema (MS-PST 2.4.4.1.1) and the hierarchy-table extras.
inline constexpr ltp::PropTag kPrContentCount = 0x36020003;
inline constexpr ltp::PropTag kPrContentUnreadCount = 0x36030003;
inline constexpr ltp::PropTag kPrSubfolders = 0x360A000B;
inline constexpr ltp::PropTag kPrContainerClass = 0x3613001F;
inline constexpr ltp::PropTag kPrPstHiddenCount = 0x66350003;
inline constexpr ltp::PropTag kPrPstHiddenUnread = 0x66360003;

// Table bookkeeping columns (MS-PST 2.3.4).
inline constexpr ltp::PropTag kPrLtpParentNid = 0x67F10003;

// Message store (MS-PST 2.4.3.1, MS-OXOSFLD 2.2).
inline constexpr ltp::PropTag kPrValidFolderMask = 0x35DF0003;
inline constexpr ltp::PropTag kPrIpmSubtreeEntryId = 0x35E00102;
inline constexpr ltp::PropTag kPrIpmOutboxEntryId = 0x35E20102;
inline constexpr ltp::PropTag kPrIpmWastebasketEntryId = 0x35E30102;
inline constexpr ltp::PropTag kPrIpmSentMailEntryId = 0x35E40102;
inline constexpr ltp::PropTag kPrFinderEntryId = 0x35E70102;
inline constexpr ltp::PropTag kPrPstLrNoRestrictions = 0x6633000B;
inline constexpr ltp::PropTag kPrPstPassword = 0x67FF0003;

// Default folders kept on the root folder and the inbox (MS-OXOSFLD 2.2.3, 2.2.4).
inline constexpr ltp::PropTag kPrIpmAppointmentEntryId = 0x36D00102;
inline constexpr ltp::PropTag kPrIpmContactEntryId = 0x36D10102;
inline constexpr ltp::PropTag kPrIpmJournalEntryId = 0x36D20102;
inline constexpr ltp::PropTag kPrIpmNoteEntryId = 0x36D30102;
inline constexpr ltp::PropTag kPrIpmTaskEntryId = 0x36D40102;
inline constexpr ltp::PropTag kPrIpmDraftsEntryId = 0x36D70102;
inline constexpr ltp::PropTag kPrAdditionalRenEntryIds = 0x36D81102;

// Receive folder table (MS-PST 2.4.3, one row per message class prefix).
inline constexpr ltp::PropTag kPrPstReceiveFolderNid = 0x66050003;

// Search criteria object of a search folder.
inline constexpr ltp::PropTag kPrSearchCriteriaFlags = 0x660B0003;

// Name-to-ID map (MS-PST 2.4.7).
inline constexpr ltp::PropTag kPrNameidBucketCount = 0x00010003;
inline constexpr ltp::PropTag kPrNameidStreamGuid = 0x00020102;
inline constexpr ltp::PropTag kPrNameidStreamEntry = 0x00030102;
inline constexpr ltp::PropTag kPrNameidStreamString = 0x00040102;

// Valid folder mask bits (PidTagValidFolderMask).
inline constexpr std::int32_t kMaskSubtree = 0x01;
inline constexpr std::int32_t kMaskInbox = 0x02;
inline constexpr std::int32_t kMaskOutbox = 0x04;
inline constexpr std::int32_t kMaskWastebasket = 0x08;
inline constexpr std::int32_t kMaskSentMail = 0x10;
inline constexpr std::int32_t kMaskFinder = 0x80;

// Index of the junk folder in PidTagAdditionalRenEntryIds (MS-OXOSFLD 2.2.4).
inline constexpr std::size_t kRenJunkIndex = 4;

}  // namespace mailvane::pst::messaging
