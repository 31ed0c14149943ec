// The in-memory allocation state: the free slots (64 bytes each) of every AMap interval as
// sorted runs, with the special pages of each interval in use. The AMap page of an interval
// (1 bit per slot, most significant bit first) is made from its runs when it is written.
// Behind the growing end of a file nearly every interval is full or keeps a few small
// gaps that no block fits: no runs, or a few of 4 bytes, instead of a 496-byte bitmap.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <span>
#include <vector>

#include "pst/ndb/layout.h"

namespace mailvane::pst::ndb {

class AllocationMap {
 public:
  // A map of `intervals` intervals where only the special pages are in use.
  explicit AllocationMap(std::uint64_t intervals);

  // Finds `size` bytes (a multiple of 64, at most 8192) aligned to `align` in one
  // interval, marks them and returns their offset; adds an interval when all are full.
  std::uint64_t Allocate(std::uint64_t size, std::uint64_t align);
  // Marks a range as in use (rebuilding the map from the B-trees); false if already marked.
  bool Mark(std::uint64_t ib, std::uint64_t size);
  void Free(std::uint64_t ib, std::uint64_t size);
  // Grows the map to interval k and draws new space from there on, leaving the intervals
  // below free: how tests and benchmarks reach far into a file without filling it.
  void StartAt(std::uint64_t k);

  std::uint64_t intervals() const { return intervals_.size(); }
  std::uint64_t FileEnd() const { return AMapOffset(intervals()); }
  std::uint64_t FreeBytes() const { return free_total_ * kSlotSize; }
  std::uint32_t FreeSlots(std::uint64_t k) const { return intervals_[k].free_slots; }
  // The AMap bits of interval k, valid until the next call.
  std::span<const std::uint8_t> Bits(std::uint64_t k) const;
  bool HasDirty() const { return !dirty_.empty(); }
  // Intervals whose bitmap changed since the last TakeDirty().
  std::set<std::uint64_t> TakeDirty();
  // The interval new allocations are drawn from (the DList's ulCurrentPage).
  std::uint64_t current() const { return cursor_; }

 private:
  void AddInterval();
  bool Test(std::uint64_t k, std::uint32_t slot) const;
  void Set(std::uint64_t k, std::uint32_t first, std::uint32_t count, bool on);
  bool FindRun(std::uint64_t k, std::uint32_t count, std::uint32_t align, std::uint32_t& at);

  struct FreeRun {
    std::uint16_t first = 0;
    std::uint16_t count = 0;
  };
  using Runs = std::vector<FreeRun>;  // sorted, neither touching nor overlapping
  // A file of many gigabytes has tens of thousands of intervals: 16 bytes each, in a deque
  // that never moves or doubles them.
  struct Interval {
    std::unique_ptr<Runs> free;     // null: every slot in use
    std::uint16_t free_slots = 0;
    std::uint16_t low = 0;          // every slot below it is in use: scans start there
    std::uint16_t max_run = 0;      // an upper bound of the longest free run (lowered when a search fails)
  };
  std::deque<Interval> intervals_;
  mutable std::array<std::uint8_t, kPageDataSize> bits_{};  // what Bits() gives
  std::uint64_t free_total_ = 0;
  std::uint64_t cursor_ = 0;  // no interval below it has room for a one-slot allocation
  std::uint64_t floor_ = 0;   // set by StartAt: nothing below it is reused
  std::set<std::uint64_t> dirty_;
};

}  // namespace mailvane::pst::ndb
