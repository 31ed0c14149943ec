#include "pst/ndb/allocation_map.h"

#include <algorithm>
#include <bit>
#include <string>

#include "pst/ndb/format_error.h"

namespace mailvane::pst::ndb {

AllocationMap::AllocationMap(std::uint64_t intervals) {
  for (std::uint64_t k = 0; k < intervals; ++k) AddInterval();
}

void AllocationMap::AddInterval() {
  std::uint64_t k = intervals();
  bits_.push_back(std::make_unique<IntervalBits>());
  free_slots_.push_back(kSlotsPerInterval);
  free_total_ += kSlotsPerInterval;
  low_.push_back(0);
  max_run_.push_back(kSlotsPerInterval);
  constexpr std::uint32_t kPage = kPageSize / kSlotSize;
  Set(k, 0, kPage, true);
  if (HasPMap(k)) Set(k, kPage, kPage, true);
  if (HasFMap(k)) Set(k, 2 * kPage, kPage, true);
  if (HasFPMap(k)) Set(k, 3 * kPage, kPage, true);
  while (Test(k, low_[k])) ++low_[k];
  dirty_.insert(k);
}

namespace {

constexpr std::array<std::uint8_t, kPageDataSize> kAllInUse = [] {
  std::array<std::uint8_t, kPageDataSize> a{};
  a.fill(0xFF);
  return a;
}();

}  // namespace

std::span<const std::uint8_t> AllocationMap::Bits(std::uint64_t k) const {
  return bits_[k] ? std::span<const std::uint8_t>(*bits_[k]) : std::span<const std::uint8_t>(kAllInUse);
}

bool AllocationMap::Test(std::uint64_t k, std::uint32_t slot) const {
  return !bits_[k] || ((*bits_[k])[slot / 8] & (0x80u >> (slot % 8))) != 0;
}

void AllocationMap::Set(std::uint64_t k, std::uint32_t first, std::uint32_t count, bool on) {
  if (!bits_[k]) bits_[k] = std::make_unique<IntervalBits>(kAllInUse);
  std::uint8_t* b = bits_[k]->data();
  for (std::uint32_t s = first; s < first + count; ++s) {
    auto mask = static_cast<std::uint8_t>(0x80u >> (s % 8));
    if (on) {
      b[s / 8] |= mask;
    } else {
      b[s / 8] &= static_cast<std::uint8_t>(~mask);
    }
  }
  if (on) {
    free_slots_[k] -= count;
    free_total_ -= count;
    if (free_slots_[k] == 0) bits_[k].reset();
  } else {
    free_slots_[k] += count;
    free_total_ += count;
  }
  dirty_.insert(k);
}

bool AllocationMap::FindRun(std::uint64_t k, std::uint32_t count, std::uint32_t align,
                            std::uint32_t& at) {
  if (!bits_[k]) return false;
  const std::uint8_t* b = bits_[k]->data();
  std::uint32_t s = (low_[k] + align - 1) / align * align;
  while (s + count <= kSlotsPerInterval) {
    if (s % 8 == 0 && b[s / 8] == 0xFF) {  // skip whole used bytes quickly
      s += 8;
      continue;
    }
    std::uint32_t run = 0;
    while (run < count && !Test(k, s + run)) ++run;
    if (run == count) {
      at = s;
      return true;
    }
    s = (s + run + 1 + align - 1) / align * align;
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
    if (free_slots_[k] < count || max_run_[k] < count) {
      if (k == cursor_ && (free_slots_[k] == 0 || max_run_[k] == 0)) ++cursor_;
      continue;
    }
    std::uint32_t at = 0;
    if (!FindRun(k, count, slot_align, at)) {
      max_run_[k] = count - 1;
      continue;
    }
    Set(k, at, count, true);
    if (at == low_[k]) low_[k] = at + count;
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
  low_[k] = std::min(low_[k], first);
  max_run_[k] = kSlotsPerInterval;
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
