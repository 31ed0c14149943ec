#include "pst/ndb/btree_page.h"

#include "base/hex.h"
#include "base/little_endian.h"
#include "pst/ndb/page.h"

namespace mailvane::pst::ndb {

std::size_t BtCapacity(PageType type, std::uint8_t level) {
  return (type == kPageNbt && level == 0) ? kNbtMaxEntries : kBtMaxEntries;
}

std::size_t BtEntrySize(PageType type, std::uint8_t level) {
  return (type == kPageNbt && level == 0) ? kNbtEntrySize : kBtEntrySize;
}

void SetBtPageInfo(std::span<std::uint8_t> page, PageType type, std::uint8_t level,
                   std::size_t count) {
  page[kBtEntriesSize] = static_cast<std::uint8_t>(count);
  page[kBtEntriesSize + 1] = static_cast<std::uint8_t>(BtCapacity(type, level));
  page[kBtEntriesSize + 2] = static_cast<std::uint8_t>(BtEntrySize(type, level));
  page[kBtEntriesSize + 3] = level;
}

BtPageInfo GetBtPageInfo(std::span<const std::uint8_t> page) {
  return {page[kBtEntriesSize], page[kBtEntriesSize + 1], page[kBtEntriesSize + 2],
          page[kBtEntriesSize + 3]};
}

std::string BtPageInfoProblem(const BtPageInfo& info, PageType type, std::uint64_t ib) {
  std::string where = (type == kPageNbt ? "NBT page at " : "BBT page at ") + base::Hex(ib);
  if (info.entry_size != BtEntrySize(type, info.level)) {
    return where + " has cbEnt " + std::to_string(info.entry_size) + " at level " +
           std::to_string(info.level);
  }
  if (info.max != BtCapacity(type, info.level)) {
    return where + " has cEntMax " + std::to_string(info.max);
  }
  if (info.count > info.max) {
    return where + " has cEnt " + std::to_string(info.count) + " above cEntMax " +
           std::to_string(info.max);
  }
  return {};
}

std::uint64_t BtKey(std::span<const std::uint8_t> page, const BtPageInfo& info, std::size_t i) {
  return base::Get64(page.data() + i * info.entry_size);
}

}  // namespace mailvane::pst::ndb
