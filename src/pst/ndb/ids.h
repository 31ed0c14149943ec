// Node and block identifiers of the PST node database (MS-PST 2.2.2).
#pragma once

#include <cstdint>

namespace mailvane::pst::ndb {

using Nid = std::uint32_t;
using Bid = std::uint64_t;
using Hid = std::uint32_t;

// The low five bits of a NID say what kind of node it is.
enum class NidType : std::uint8_t {
  kHid = 0x00,
  kInternal = 0x01,
  kNormalFolder = 0x02,
  kSearchFolder = 0x03,
  kNormalMessage = 0x04,
  kAttachment = 0x05,
  kSearchUpdateQueue = 0x06,
  kSearchCriteriaObject = 0x07,
  kAssocMessage = 0x08,
  kContentsTableIndex = 0x0A,
  kReceiveFolderTable = 0x0B,
  kOutgoingQueueTable = 0x0C,
  kHierarchyTable = 0x0D,
  kContentsTable = 0x0E,
  kAssocContentsTable = 0x0F,
  kSearchContentsTable = 0x10,
  kAttachmentTable = 0x11,
  kRecipientTable = 0x12,
  kSearchTableIndex = 0x13,
  kLtp = 0x1F,
};

constexpr Nid MakeNid(NidType type, std::uint32_t index) {
  return (index << 5) | static_cast<std::uint32_t>(type);
}
constexpr NidType NidTypeOf(Nid nid) { return static_cast<NidType>(nid & 0x1F); }
constexpr std::uint32_t NidIndexOf(Nid nid) { return nid >> 5; }

// A folder's three tables share its index (MS-PST 2.4.4).
constexpr Nid WithType(Nid nid, NidType type) { return MakeNid(type, NidIndexOf(nid)); }

// Well-known NIDs (MS-PST 2.4.1).
inline constexpr Nid kNidMessageStore = 0x21;
inline constexpr Nid kNidNameToIdMap = 0x61;
inline constexpr Nid kNidNormalFolderTemplate = 0xA1;
inline constexpr Nid kNidSearchFolderTemplate = 0xC1;
inline constexpr Nid kNidRootFolder = 0x122;
inline constexpr Nid kNidSearchManagementQueue = 0x1E1;
inline constexpr Nid kNidSearchActivityList = 0x201;
inline constexpr Nid kNidSearchDomainObject = 0x261;
inline constexpr Nid kNidSearchGathererQueue = 0x281;
inline constexpr Nid kNidSearchGathererDescriptor = 0x2A1;
inline constexpr Nid kNidSearchGathererFolderQueue = 0x321;
inline constexpr Nid kNidHierarchyTableTemplate = 0x60D;
inline constexpr Nid kNidContentsTableTemplate = 0x60E;
inline constexpr Nid kNidAssocContentsTableTemplate = 0x60F;
inline constexpr Nid kNidSearchContentsTableTemplate = 0x610;
inline constexpr Nid kNidSmpTemplate = 0x611;
inline constexpr Nid kNidTombstoneTable = 0x612;
inline constexpr Nid kNidLreTemplate = 0x613;

// Largest payload of one data block (8192 minus the 16-byte trailer).
inline constexpr std::size_t kMaxBlockData = 8176;

}  // namespace mailvane::pst::ndb
