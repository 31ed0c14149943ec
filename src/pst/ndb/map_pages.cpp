// Writing the allocation map pages and the density list at Commit.
#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "base/little_endian.h"
#include "pst/ndb/page.h"
#include "pst/ndb/pst_node_database.h"

namespace mailvane::pst::ndb {

namespace {

constexpr std::size_t kDListMaxEntries = 119;

void WriteFilledPage(BufferedWriter& writer, std::uint64_t ib, PageType type) {
  // PMap, FMap and FPMap are deprecated: all bits set tells a reader to consult the AMaps.
  std::array<std::uint8_t, kPageSize> page{};
  std::fill(page.begin(), page.begin() + kPageDataSize, 0xFF);
  SealPage(page, type, ib, ib);
  writer.Write(ib, page);
}

}  // namespace

void PstNodeDatabase::WriteMaps() {
  for (std::uint64_t k : amap_->TakeDirty()) {
    std::array<std::uint8_t, kPageSize> page{};
    auto bits = amap_->Bits(k);
    std::copy(bits.begin(), bits.end(), page.begin());
    std::uint64_t ib = AMapOffset(k);
    SealPage(page, kPageAMap, ib, ib);
    writer_.Write(ib, page);
    if (k >= intervals_on_disk_) {
      if (HasPMap(k)) WriteFilledPage(writer_, PMapOffset(k), kPagePMap);
      if (HasFMap(k)) WriteFilledPage(writer_, FMapOffset(k), kPageFMap);
      if (HasFPMap(k)) WriteFilledPage(writer_, FPMapOffset(k), kPageFPMap);
    }
  }
  intervals_on_disk_ = amap_->intervals();
}

void PstNodeDatabase::WriteDList() {
  // The density list (MS-PST 2.2.2.7.4): AMaps with the most free slots first.
  // Ties go to the lower interval. Only the best entries are kept while the intervals are
  // visited: a file of many gigabytes has tens of thousands, at every commit.
  using Entry = std::pair<std::uint32_t, std::uint64_t>;  // free slots, interval
  const auto before = [](const Entry& a, const Entry& b) {
    return a.first > b.first || (a.first == b.first && a.second < b.second);
  };
  std::vector<Entry> order;  // a heap with the last entry of the list on top, until sorted
  for (std::uint64_t k = 0; k < amap_->intervals(); ++k) {
    const Entry e{amap_->FreeSlots(k), k};
    if (order.size() < kDListMaxEntries) {
      order.push_back(e);
      std::push_heap(order.begin(), order.end(), before);
    } else if (before(e, order.front())) {
      std::pop_heap(order.begin(), order.end(), before);
      order.back() = e;
      std::push_heap(order.begin(), order.end(), before);
    }
  }
  std::sort_heap(order.begin(), order.end(), before);

  std::array<std::uint8_t, kPageSize> page{};
  page[0] = 0x01;  // DFL_BACKFILL_COMPLETE
  page[1] = static_cast<std::uint8_t>(order.size());
  base::Put32(page.data() + 4, static_cast<std::uint32_t>(amap_->current()));
  for (std::size_t i = 0; i < order.size(); ++i) {
    base::Put32(page.data() + 8 + 4 * i,
          static_cast<std::uint32_t>(order[i].second & 0xFFFFF) | (order[i].first << 20));
  }
  // Like Outlook, the density list is signed with the header's next page BID.
  SealPage(page, kPageDList, kDListOffset, header_.bid_next_p);
  writer_.Write(kDListOffset, page);
}

}  // namespace mailvane::pst::ndb
