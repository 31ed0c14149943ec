#include "pst/ndb/allocation_map.h"

#include <algorithm>
#include <bit>
#include <stdexcept>
#include <string>

#include "pst/ndb/format_error.h"

namespace mailvane::pst::ndb {

AllocationMap::AllocationMap(std::uint64_t intervals) {
  for (std::uint64_t k = 0; k < intervals; ++k) AddInterval();
}

void AllocationMap::AddInterval() {
  std::uint64_t k = intervals();
  static_assert(kSlotsPerInterval <= 0xFFFF);
  intervals_.push_back(Interval{std::make_unique<Runs>(Runs{{0, static_cast<std::uint16_t>(kSlotsPerInterval)}}),
                                kSlotsPerInterval, 0, kSlotsPerInterval});
  free_total_ += kSlotsPerInterval;
  constexpr std::uint32_t kPage = kPageSize / kSlotSize;
  Set(k, 0, kPage, true);
  if (HasPMap(k)) Set(k, kPage, kPage, true);
  if (HasFMap(k)) Set(k, 2 * kPage, kPage, true);
  if (HasFPMap(k)) Set(k, 3 * kPage, kPage, true);
  Interval& in = intervals_[k];
  while (in.low < kSlotsPerInterval && Test(k, in.low)) ++in.low;
  dirty_.insert(k);
}

std::span<const std::uint8_t> AllocationMap::Bits(std::uint64_t k) const {
  bits_.fill(0xFF);
  if (intervals_[k].free) {
    for (const FreeRun& r : *intervals_[k].free) {
      for (std::uint32_t s = r.first; s < std::uint32_t{r.first} + r.count; ++s) {
        bits_[s / 8] &= static_cast<std::uint8_t>(~(0x80u >> (s % 8)));
      }
    }
  }
  return bits_;
}

bool AllocationMap::Test(std::uint64_t k, std::uint32_t slot) const {
  if (!intervals_[k].free) return true;
  const Runs& runs = *intervals_[k].free;
  auto it = std::upper_bound(runs.begin(), runs.end(), slot,
                             [](std::uint32_t s, const FreeRun& r) { return s < r.first; });
  if (it == runs.begin()) return true;
  --it;
  return slot >= std::uint32_t{it->first} + it->count;
}

void AllocationMap::Set(std::uint64_t k, std::uint32_t first, std::uint32_t count, bool on) {
  if (count == 0) return;
  const std::uint32_t end = first + count;
  auto after_first = [first](Runs& runs) {
    return std::upper_bound(runs.begin(), runs.end(), first,
                            [](std::uint32_t s, const FreeRun& r) { return s < r.first; });
  };
  if (on) {
    // Only free slots are taken: Allocate finds them, Mark tests them first.
    Runs* runs = intervals_[k].free.get();
    auto it = runs == nullptr ? Runs::iterator() : after_first(*runs);
    if (runs == nullptr || it == runs->begin() || std::prev(it)->first + std::uint32_t{std::prev(it)->count} < end) {
      throw std::logic_error("slots taken twice in AMap interval " + std::to_string(k));
    }
    --it;
    const FreeRun before{it->first, static_cast<std::uint16_t>(first - it->first)};
    const FreeRun after{static_cast<std::uint16_t>(end),
                        static_cast<std::uint16_t>(it->first + it->count - end)};
    it = runs->erase(it);
    if (after.count > 0) it = runs->insert(it, after);
    if (before.count > 0) runs->insert(it, before);
    intervals_[k].free_slots = static_cast<std::uint16_t>(intervals_[k].free_slots - count);
    free_total_ -= count;
    if (intervals_[k].free_slots == 0) intervals_[k].free.reset();
  } else {
    if (!intervals_[k].free) intervals_[k].free = std::make_unique<Runs>();
    Runs& runs = *intervals_[k].free;
    auto it = after_first(runs);
    if ((it != runs.begin() && std::prev(it)->first + std::uint32_t{std::prev(it)->count} > first) ||
        (it != runs.end() && it->first < end)) {
      throw std::logic_error("slots freed twice in AMap interval " + std::to_string(k));
    }
    it = runs.insert(it, FreeRun{static_cast<std::uint16_t>(first), static_cast<std::uint16_t>(count)});
    if (std::next(it) != runs.end() && std::next(it)->first == end) {
      it->count = static_cast<std::uint16_t>(it->count + std::next(it)->count);
      runs.erase(std::next(it));
    }
    if (it != runs.begin() && std::prev(it)->first + std::uint32_t{std::prev(it)->count} == first) {
      std::prev(it)->count = static_cast<std::uint16_t>(std::prev(it)->count + it->count);
      runs.erase(it);
    }
    intervals_[k].free_slots = static_cast<std::uint16_t>(intervals_[k].free_slots + count);
    free_total_ += count;
  }
  dirty_.insert(k);
}

bool AllocationMap::FindRun(std::uint64_t k, std::uint32_t count, std::uint32_t align,
                            std::uint32_t& at) {
  if (!intervals_[k].free) return false;
  for (const FreeRun& r : *intervals_[k].free) {
    const std::uint32_t end = std::uint32_t{r.first} + r.count;
    if (end <= intervals_[k].low) continue;
    std::uint32_t s = std::max<std::uint32_t>(r.first, intervals_[k].low);
    s = (s + align - 1) / align * align;
    if (s + count <= end) {
      at = s;
      return true;
    }
  }
  return false;
}

std::uint64_t AllocationMap::Allocate(std::uint64_t size, std::uint64_t align) {
  if (size == 0 || size % kSlotSize != 0 || size > kMaxBlockSize || align % kSlotSize != 0) {
    throw FormatError("cannot allocate " + std::to_string(size) + " bytes aligned to " +
                      std::to_string(align) + " in a PST file");
  }
  auto count = static_cast<std::uint32_t>(size / kSlotSize);
  auto slot_align = static_cast<std::uint32_t>(align / kSlotSize);
  for (std::uint64_t k = cursor_;; ++k) {
    if (k == intervals()) AddInterval();
    if (intervals_[k].free_slots < count || intervals_[k].max_run < count) {
      if (k == cursor_ && (intervals_[k].free_slots == 0 || intervals_[k].max_run == 0)) ++cursor_;
      continue;
    }
    std::uint32_t at = 0;
    if (!FindRun(k, count, slot_align, at)) {
      intervals_[k].max_run = static_cast<std::uint16_t>(count - 1);
      continue;
    }
    Set(k, at, count, true);
    if (at == intervals_[k].low) intervals_[k].low = static_cast<std::uint16_t>(at + count);
    return AMapOffset(k) + std::uint64_t{at} * kSlotSize;
  }
}

bool AllocationMap::Mark(std::uint64_t ib, std::uint64_t size) {
  if (ib < kFirstAMapOffset || ib % kSlotSize != 0 || size % kSlotSize != 0 ||
      ib + size > FileEnd()) {
    return false;
  }
  std::uint64_t k = (ib - kFirstAMapOffset) / kAMapInterval;
  auto first = static_cast<std::uint32_t>((ib - AMapOffset(k)) / kSlotSize);
  auto count = static_cast<std::uint32_t>(size / kSlotSize);
  if (first + count > kSlotsPerInterval) return false;
  for (std::uint32_t s = first; s < first + count; ++s) {
    if (Test(k, s)) return false;
  }
  Set(k, first, count, true);
  return true;
}

void AllocationMap::Free(std::uint64_t ib, std::uint64_t size) {
  std::uint64_t k = (ib - kFirstAMapOffset) / kAMapInterval;
  auto first = static_cast<std::uint32_t>((ib - AMapOffset(k)) / kSlotSize);
  auto count = static_cast<std::uint32_t>(size / kSlotSize);
  Set(k, first, count, false);
  intervals_[k].low = static_cast<std::uint16_t>(std::min<std::uint32_t>(intervals_[k].low, first));
  intervals_[k].max_run = kSlotsPerInterval;
  cursor_ = std::max(floor_, std::min(cursor_, k));
}

void AllocationMap::StartAt(std::uint64_t k) {
  while (intervals() <= k) AddInterval();
  floor_ = k;
  cursor_ = std::max(cursor_, k);
}


std::set<std::uint64_t> AllocationMap::TakeDirty() {
  std::set<std::uint64_t> d;
  d.swap(dirty_);
  return d;
}

}  // namespace mailvane::pst::ndb
