// B-tree pages of the NBT and BBT (MS-PST 2.2.2.7.7): 488 bytes of entries, then cEnt,
// cEntMax, cbEnt, cLevel and the page trailer.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "pst/ndb/ids.h"
#include "pst/ndb/layout.h"

namespace mailvane::pst::ndb {

struct BtPageInfo {
  std::uint8_t count = 0;
  std::uint8_t max = 0;
  std::uint8_t entry_size = 0;
  std::uint8_t level = 0;
};

// The largest number of entries, and the entry size, a page of that tree and level holds.
std::size_t BtCapacity(PageType type, std::uint8_t level);
std::size_t BtEntrySize(PageType type, std::uint8_t level);

// Writes the page's metadata bytes (entries are written by the caller at offset 0).
void SetBtPageInfo(std::span<std::uint8_t> page, PageType type, std::uint8_t level,
                   std::size_t count);
BtPageInfo GetBtPageInfo(std::span<const std::uint8_t> page);

// What is wrong with the page's metadata for a page of that tree, or empty.
std::string BtPageInfoProblem(const BtPageInfo& info, PageType type, std::uint64_t ib);

// The key (NID or BID) of entry i.
std::uint64_t BtKey(std::span<const std::uint8_t> page, const BtPageInfo& info, std::size_t i);

}  // namespace mailvane::pst::ndb
