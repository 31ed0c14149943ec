// Fixed sizes and places of the Unicode PST layout (MS-PST 2.2.2 and 2.6).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "pst/ndb/ids.h"

namespace mailvane::pst::ndb {

inline constexpr std::size_t kHeaderSize = 564;
inline constexpr std::uint64_t kPageSize = 512;
inline constexpr std::size_t kPageDataSize = 496;  // the rest is the page trailer
inline constexpr std::uint64_t kDListOffset = 0x4200;
inline constexpr std::uint64_t kFirstAMapOffset = 0x4400;
inline constexpr std::uint64_t kAMapInterval = 0x3E000;  // bytes one AMap page covers
inline constexpr std::uint64_t kSlotSize = 64;           // one AMap bit
inline constexpr std::uint32_t kSlotsPerInterval = kAMapInterval / kSlotSize;  // 3968
inline constexpr std::size_t kBlockTrailerSize = 16;
inline constexpr std::size_t kMaxBlockSize = 8192;

inline constexpr std::uint16_t kVersionUnicode = 23;
inline constexpr std::uint16_t kVersionClient = 19;
// fAMapValid: INVALID_AMAP tells a reader to rebuild the maps; VALID_AMAP2 trusts them.
inline constexpr std::uint8_t kAMapInvalid = 0x00;
inline constexpr std::uint8_t kAMapValid2 = 0x02;

enum PageType : std::uint8_t {
  kPageBbt = 0x80,
  kPageNbt = 0x81,
  kPageFMap = 0x82,
  kPagePMap = 0x83,
  kPageAMap = 0x84,
  kPageFPMap = 0x85,
  kPageDList = 0x86,
};

// B-tree page geometry (MS-PST 2.2.2.7.7).
inline constexpr std::size_t kBtEntriesSize = 488;
inline constexpr std::size_t kBtEntrySize = 24;      // BTENTRY and BBTENTRY
inline constexpr std::size_t kNbtEntrySize = 32;     // NBTENTRY
inline constexpr std::size_t kBtMaxEntries = 20;     // 488 / 24
inline constexpr std::size_t kNbtMaxEntries = 15;    // 488 / 32

// Internal block geometry (MS-PST 2.2.2.8.3).
inline constexpr std::size_t kInternalHeaderSize = 8;
inline constexpr std::size_t kXBlockMaxEntries = (kMaxBlockData - kInternalHeaderSize) / 8;
inline constexpr std::size_t kSlBlockMaxEntries = (kMaxBlockData - kInternalHeaderSize) / 24;
inline constexpr std::size_t kSiBlockMaxEntries = (kMaxBlockData - kInternalHeaderSize) / 16;
inline constexpr std::uint8_t kBlockTypeData = 0x01;     // XBLOCK / XXBLOCK
inline constexpr std::uint8_t kBlockTypeSubnode = 0x02;  // SLBLOCK / SIBLOCK

inline constexpr Bid kBidInternal = 0x2;
inline constexpr bool IsInternal(Bid bid) { return (bid & kBidInternal) != 0; }
inline constexpr Bid BidKey(Bid bid) { return bid & ~Bid{1}; }  // bit 0 is reserved

inline constexpr std::uint64_t Align(std::uint64_t n, std::uint64_t to) {
  return (n + to - 1) / to * to;
}
inline constexpr std::uint64_t BlockSizeOnDisk(std::size_t cb) {
  return Align(cb + kBlockTrailerSize, kSlotSize);
}
inline constexpr std::uint64_t AMapOffset(std::uint64_t k) {
  return kFirstAMapOffset + k * kAMapInterval;
}
// The map pages of interval k (MS-PST 2.2.2.7): the AMap first, then a PMap every 8
// intervals, an FMap every 496 from 128 on (the header's rgbFM covers the first 128) and an
// FPMap every 31,744 from 8,192 on (rgbFP covers the first 2 GB). Each has its own slot:
// AMap +0, PMap +0x200, FMap +0x400, FPMap +0x600. An FPMap interval has no FMap: that
// slot is ordinary space.
inline constexpr bool HasPMap(std::uint64_t k) { return k % 8 == 0; }
inline constexpr bool HasFMap(std::uint64_t k) { return k >= 128 && (k - 128) % 496 == 0; }
inline constexpr bool HasFPMap(std::uint64_t k) { return k >= 8192 && (k - 8192) % 31744 == 0; }
inline constexpr std::uint64_t PMapOffset(std::uint64_t k) { return AMapOffset(k) + kPageSize; }
inline constexpr std::uint64_t FMapOffset(std::uint64_t k) { return AMapOffset(k) + 2 * kPageSize; }
inline constexpr std::uint64_t FPMapOffset(std::uint64_t k) { return AMapOffset(k) + 3 * kPageSize; }

// wSig of page and block trailers (MS-PST 5.5).
inline constexpr std::uint16_t ComputeSig(std::uint64_t ib, Bid bid) {
  auto x = static_cast<std::uint32_t>(ib ^ bid);
  return static_cast<std::uint16_t>((x >> 16) ^ (x & 0xFFFF));
}

}  // namespace mailvane::pst::ndb
