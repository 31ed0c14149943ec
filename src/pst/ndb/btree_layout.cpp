#include "pst/ndb/btree_layout.h"

#include <array>
#include <iterator>

#include "base/little_endian.h"
#include "pst/ndb/btree_page.h"
#include "pst/ndb/format_error.h"
#include "pst/ndb/page.h"

namespace mailvane::pst::ndb {

BtreeLayout::BtreeLayout(PageType type) : type_(type) { Clear(); }

void BtreeLayout::Clear() {
  for (const Level& level : levels_) {
    for (const auto& [lower, slot] : level) Drop(slot);
  }
  levels_.assign(1, Level{{0, PageSlot{}}});
  dirty_.assign(1, {0});
}

void BtreeLayout::MarkDirty(std::size_t level, Level::iterator page) {
  dirty_[level].insert(page->first);
}

void BtreeLayout::AddLoaded(std::uint8_t level, std::uint64_t lower, const PageSlot& slot) {
  if (levels_.size() == 1 && levels_[0].size() == 1 && !levels_[0].begin()->second.on_disk) {
    levels_.clear();  // forget the empty leaf of a fresh layout
    dirty_.clear();
  }
  if (levels_.size() <= level) {
    levels_.resize(level + 1);
    dirty_.resize(level + 1);
  }
  levels_[level][lower] = slot;
}

std::size_t BtreeLayout::Capacity(std::size_t level) const {
  return BtCapacity(type_, static_cast<std::uint8_t>(level));
}

BtreeLayout::Level::iterator BtreeLayout::PageOf(std::size_t level, std::uint64_t key) {
  return std::prev(levels_[level].upper_bound(key));
}

std::uint64_t BtreeLayout::NthKeyAt(std::size_t level, std::uint64_t lower, std::size_t n,
                                    const NthKey& nth) {
  if (level == 0) return nth(lower, n);
  return std::next(levels_[level - 1].lower_bound(lower), static_cast<std::ptrdiff_t>(n))->first;
}

void BtreeLayout::Insert(std::uint64_t key, const NthKey& nth) { InsertAt(0, key, nth); }

void BtreeLayout::InsertAt(std::size_t level, std::uint64_t key, const NthKey& nth) {
  auto it = PageOf(level, key);
  PageSlot& page = it->second;
  ++page.count;
  MarkDirty(level, it);
  if (page.count <= Capacity(level)) return;
  // Keys mostly arrive in ascending order (new BIDs and NIDs): the last page splits so
  // that the old one stays full; any other page splits in half.
  bool last = std::next(it) == levels_[level].end();
  std::size_t keep = last ? Capacity(level) : page.count / 2;
  std::uint64_t split = NthKeyAt(level, it->first, keep, nth);
  PageSlot right;
  right.count = page.count - keep;
  page.count = keep;
  MarkDirty(level, levels_[level].emplace(split, right).first);
  if (level + 1 == levels_.size()) {
    PageSlot root;
    root.count = 1;
    levels_.push_back(Level{{0, root}});
    dirty_.push_back({0});
  }
  InsertAt(level + 1, split, nth);
}

void BtreeLayout::Erase(std::uint64_t key) { EraseAt(0, key); }

void BtreeLayout::EraseAt(std::size_t level, std::uint64_t key) {
  Level& pages = levels_[level];
  auto it = PageOf(level, key);
  if (it->second.count == 0) throw FormatError("B-tree bookkeeping lost an entry");
  --it->second.count;
  MarkDirty(level, it);
  if (it->second.count == 0 && pages.size() > 1) {
    // An empty page goes; the first page of a level instead takes over its neighbour's range.
    auto gone = it;
    if (it == pages.begin()) {
      gone = std::next(it);
      it->second.count = gone->second.count;
    }
    std::uint64_t gone_key = gone->first;
    Drop(gone->second);
    pages.erase(gone);
    dirty_[level].erase(gone_key);
    EraseAt(level + 1, gone_key);
    return;
  }
  // A root with one child is not needed.
  while (levels_.size() > 1 && levels_.back().begin()->second.count == 1) {
    Drop(levels_.back().begin()->second);
    levels_.pop_back();
    dirty_.pop_back();
  }
}

void BtreeLayout::Touch(std::uint64_t key) { MarkDirty(0, PageOf(0, key)); }

void BtreeLayout::Drop(const PageSlot& slot) {
  if (slot.on_disk) dropped_.push_back(slot.ib);
}

bool BtreeLayout::dirty() const {
  if (!dropped_.empty()) return true;
  for (const auto& keys : dirty_) {
    if (!keys.empty()) return true;
  }
  return false;
}

Bref BtreeLayout::Commit(const Io& io) {
  for (std::size_t level = 0; level < levels_.size(); ++level) {
    Level& pages = levels_[level];
    std::set<std::uint64_t> keys;
    keys.swap(dirty_[level]);
    for (std::uint64_t key : keys) {
      const auto it = pages.find(key);
      if (it == pages.end()) throw FormatError("B-tree bookkeeping lost a page");
      PageSlot& slot = it->second;
      auto next = std::next(it);
      std::uint64_t upper = next == pages.end() ? UINT64_MAX : next->first;
      std::array<std::uint8_t, kPageSize> page{};
      std::size_t count = 0;
      std::uint64_t first = 0;
      if (level == 0) {
        count = io.fill_leaf(it->first, upper, std::span(page).first(kBtEntriesSize), first);
      } else {
        for (auto c = levels_[level - 1].lower_bound(it->first);
             c != levels_[level - 1].end() && c->first < upper; ++c, ++count) {
          if (count == Capacity(level)) break;
          std::uint8_t* e = page.data() + count * kBtEntrySize;
          base::Put64(e, c->second.first_key);
          base::Put64(e + 8, c->second.bid);
          base::Put64(e + 16, c->second.ib);
          if (count == 0) first = c->second.first_key;
        }
      }
      if (count != slot.count) {
        throw FormatError("B-tree bookkeeping is inconsistent: a page holds " +
                          std::to_string(count) + " entries, " + std::to_string(slot.count) +
                          " expected");
      }
      SetBtPageInfo(page, type_, static_cast<std::uint8_t>(level), count);
      if (slot.on_disk) io.free_page(slot.ib);
      auto [ib, bid] = io.new_page();
      SealPage(page, type_, ib, bid);
      io.write(ib, page);
      slot.ib = ib;
      slot.bid = bid;
      slot.first_key = first;
      slot.on_disk = true;
      if (level + 1 < levels_.size()) MarkDirty(level + 1, PageOf(level + 1, it->first));
    }
  }
  for (std::uint64_t ib : dropped_) io.free_page(ib);
  dropped_.clear();
  const PageSlot& root = levels_.back().begin()->second;
  return {root.bid, root.ib};
}

std::vector<std::uint64_t> BtreeLayout::PageOffsets() const {
  std::vector<std::uint64_t> out;
  for (const Level& level : levels_) {
    for (const auto& [lower, slot] : level) {
      if (slot.on_disk) out.push_back(slot.ib);
    }
  }
  return out;
}

std::size_t BtreeLayout::page_count() const {
  std::size_t n = 0;
  for (const Level& level : levels_) n += level.size();
  return n;
}

}  // namespace mailvane::pst::ndb
