// Tags of the MAPI properties the converter sets, one flat list grouped by the kind of
// object that carries them. Comments give the MS-OXPROPS canonical name.
#pragma once

#include "pst/ltp/property_value.h"

namespace mailvane::pst {

// --- Message -------------------------------------------------------------------------
inline constexpr PropTag kPrMessageClass = MakeTag(0x001A, PropType::kString);        // PidTagMessageClass
inline constexpr PropTag kPrSubject = MakeTag(0x0037, PropType::kString);             // PidTagSubject
inline constexpr PropTag kPrSubjectPrefix = MakeTag(0x003D, PropType::kString);       // PidTagSubjectPrefix
inline constexpr PropTag kPrNormalizedSubject = MakeTag(0x0E1D, PropType::kString);   // PidTagNormalizedSubject
inline constexpr PropTag kPrConversationTopic = MakeTag(0x0070, PropType::kString);   // PidTagConversationTopic
inline constexpr PropTag kPrClientSubmitTime = MakeTag(0x0039, PropType::kTime);      // PidTagClientSubmitTime
inline constexpr PropTag kPrMessageDeliveryTime = MakeTag(0x0E06, PropType::kTime);   // PidTagMessageDeliveryTime
inline constexpr PropTag kPrMessageFlags = MakeTag(0x0E07, PropType::kInt32);         // PidTagMessageFlags
inline constexpr PropTag kPrHasAttachments = MakeTag(0x0E1B, PropType::kBoolean);     // PidTagHasAttachments
inline constexpr PropTag kPrMessageSize = MakeTag(0x0E08, PropType::kInt32);          // PidTagMessageSize
inline constexpr PropTag kPrMessageStatus = MakeTag(0x0E17, PropType::kInt32);        // PidTagMessageStatus
inline constexpr PropTag kPrCreationTime = MakeTag(0x3007, PropType::kTime);          // PidTagCreationTime
inline constexpr PropTag kPrLastModificationTime = MakeTag(0x3008, PropType::kTime);  // PidTagLastModificationTime
inline constexpr PropTag kPrRecordKey = MakeTag(0x0FF9, PropType::kBinary);           // PidTagRecordKey
inline constexpr PropTag kPrImportance = MakeTag(0x0017, PropType::kInt32);           // PidTagImportance
inline constexpr PropTag kPrDisplayTo = MakeTag(0x0E04, PropType::kString);           // PidTagDisplayTo
inline constexpr PropTag kPrDisplayCc = MakeTag(0x0E03, PropType::kString);           // PidTagDisplayCc
inline constexpr PropTag kPrDisplayBcc = MakeTag(0x0E02, PropType::kString);          // PidTagDisplayBcc
inline constexpr PropTag kPrInternetMessageId = MakeTag(0x1035, PropType::kString);   // PidTagInternetMessageId
inline constexpr PropTag kPrInReplyToId = MakeTag(0x1042, PropType::kString);         // PidTagInReplyToId
inline constexpr PropTag kPrInternetReferences = MakeTag(0x1039, PropType::kString);  // PidTagInternetReferences
inline constexpr PropTag kPrTransportMessageHeaders =
    MakeTag(0x007D, PropType::kString);                                               // PidTagTransportMessageHeaders
inline constexpr PropTag kPrBody = MakeTag(0x1000, PropType::kString);                // PidTagBody
inline constexpr PropTag kPrHtml = MakeTag(0x1013, PropType::kBinary);                // PidTagHtml
inline constexpr PropTag kPrInternetCpid = MakeTag(0x3FDE, PropType::kInt32);         // PidTagInternetCodepage
inline constexpr PropTag kPrReplyRecipientNames = MakeTag(0x0050, PropType::kString); // PidTagReplyRecipientNames
inline constexpr PropTag kPrReplyRecipientEntries =
    MakeTag(0x004F, PropType::kBinary);                                               // PidTagReplyRecipientEntries

// Sender (the Sender: header, else From:).
inline constexpr PropTag kPrSenderName = MakeTag(0x0C1A, PropType::kString);          // PidTagSenderName
inline constexpr PropTag kPrSenderEmailAddress = MakeTag(0x0C1F, PropType::kString);  // PidTagSenderEmailAddress
inline constexpr PropTag kPrSenderAddrType = MakeTag(0x0C1E, PropType::kString);      // PidTagSenderAddressType
inline constexpr PropTag kPrSenderEntryId = MakeTag(0x0C19, PropType::kBinary);       // PidTagSenderEntryId
inline constexpr PropTag kPrSenderSearchKey = MakeTag(0x0C1D, PropType::kBinary);     // PidTagSenderSearchKey
inline constexpr PropTag kPrSenderSmtpAddress = MakeTag(0x5D01, PropType::kString);   // PidTagSenderSmtpAddress

// Sent representing (the From: header).
inline constexpr PropTag kPrSentRepresentingName = MakeTag(0x0042, PropType::kString);          // PidTagSentRepresentingName
inline constexpr PropTag kPrSentRepresentingEmailAddress = MakeTag(0x0065, PropType::kString);  // PidTagSentRepresentingEmailAddress
inline constexpr PropTag kPrSentRepresentingAddrType = MakeTag(0x0064, PropType::kString);      // PidTagSentRepresentingAddressType
inline constexpr PropTag kPrSentRepresentingEntryId = MakeTag(0x0041, PropType::kBinary);       // PidTagSentRepresentingEntryId
inline constexpr PropTag kPrSentRepresentingSearchKey = MakeTag(0x003B, PropType::kBinary);     // PidTagSentRepresentingSearchKey
inline constexpr PropTag kPrSentRepresentingSmtpAddress = MakeTag(0x5D02, PropType::kString);   // PidTagSentRepresentingSmtpAddress

// --- Recipient -----------------------------------------------------------------------
inline constexpr PropTag kPrRecipientType = MakeTag(0x0C15, PropType::kInt32);        // PidTagRecipientType
inline constexpr PropTag kPrDisplayName = MakeTag(0x3001, PropType::kString);         // PidTagDisplayName
inline constexpr PropTag kPrEmailAddress = MakeTag(0x3003, PropType::kString);        // PidTagEmailAddress
inline constexpr PropTag kPrAddrType = MakeTag(0x3002, PropType::kString);            // PidTagAddressType
inline constexpr PropTag kPrSmtpAddress = MakeTag(0x39FE, PropType::kString);         // PidTagSmtpAddress
inline constexpr PropTag kPrEntryId = MakeTag(0x0FFF, PropType::kBinary);             // PidTagEntryId
inline constexpr PropTag kPrSearchKey = MakeTag(0x300B, PropType::kBinary);           // PidTagSearchKey
inline constexpr PropTag kPrObjectType = MakeTag(0x0FFE, PropType::kInt32);           // PidTagObjectType
inline constexpr PropTag kPrDisplayType = MakeTag(0x3900, PropType::kInt32);          // PidTagDisplayType
inline constexpr PropTag kPrSendRichInfo = MakeTag(0x3A40, PropType::kBoolean);       // PidTagSendRichInfo
inline constexpr PropTag kPrRowid = MakeTag(0x3000, PropType::kInt32);                // PidTagRowid
inline constexpr PropTag kPrResponsibility = MakeTag(0x0E0F, PropType::kBoolean);     // PidTagResponsibility

// --- Attachment ----------------------------------------------------------------------
inline constexpr PropTag kPrAttachMethod = MakeTag(0x3705, PropType::kInt32);         // PidTagAttachMethod
inline constexpr PropTag kPrAttachFilename = MakeTag(0x3704, PropType::kString);      // PidTagAttachFilename
inline constexpr PropTag kPrAttachLongFilename = MakeTag(0x3707, PropType::kString);  // PidTagAttachLongFilename
inline constexpr PropTag kPrAttachExtension = MakeTag(0x3703, PropType::kString);     // PidTagAttachExtension
inline constexpr PropTag kPrAttachMimeTag = MakeTag(0x370E, PropType::kString);       // PidTagAttachMimeTag
inline constexpr PropTag kPrAttachContentId = MakeTag(0x3712, PropType::kString);     // PidTagAttachContentId
inline constexpr PropTag kPrAttachContentLocation = MakeTag(0x3713, PropType::kString);  // PidTagAttachContentLocation
inline constexpr PropTag kPrAttachSize = MakeTag(0x0E20, PropType::kInt32);           // PidTagAttachSize
inline constexpr PropTag kPrAttachFlags = MakeTag(0x3714, PropType::kInt32);          // PidTagAttachFlags
inline constexpr PropTag kPrAttachmentHidden = MakeTag(0x7FFE, PropType::kBoolean);   // PidTagAttachmentHidden
inline constexpr PropTag kPrAttachNumber = MakeTag(0x0E21, PropType::kInt32);         // PidTagAttachNumber
inline constexpr PropTag kPrRenderingPosition = MakeTag(0x370B, PropType::kInt32);    // PidTagRenderingPosition
inline constexpr PropTag kPrAttachDataBin = MakeTag(0x3701, PropType::kBinary);       // PidTagAttachDataBinary
inline constexpr PropTag kPrAttachDataObj = MakeTag(0x3701, PropType::kObject);       // PidTagAttachDataObject

// Values of kPrAttachMethod (MS-OXCMSG 2.2.2.9).
inline constexpr std::int32_t kAttachByValue = 1;
inline constexpr std::int32_t kAttachEmbeddedMsg = 5;
// Bits of kPrMessageFlags (MS-OXCMSG 2.2.1.6).
inline constexpr std::int32_t kMsgFlagRead = 0x01;
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

}  // namespace mailvane::pst
