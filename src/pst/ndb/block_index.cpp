#include "pst/ndb/block_index.h"

#include <algorithm>
#include <stdexcept>

namespace mailvane::pst::ndb {

std::size_t BlockIndex::RunOf(std::uint64_t bid) const {
  // The first run whose last BID is not below bid; past the end, the last run.
  const auto it = std::lower_bound(runs_.begin(), runs_.end(), bid,
                                   [](const std::vector<Entry>& run, std::uint64_t key) {
                                     return run.back().bid < key;
                                   });
  if (it == runs_.end()) return runs_.empty() ? 0 : runs_.size() - 1;
  return static_cast<std::size_t>(it - runs_.begin());
}

std::size_t BlockIndex::LowerInRun(const std::vector<Entry>& run, std::uint64_t bid) {
  return static_cast<std::size_t>(
      std::lower_bound(run.begin(), run.end(), bid,
                       [](const Entry& e, std::uint64_t key) { return e.bid < key; }) -
      run.begin());
}

const BlockInfo* BlockIndex::Find(std::uint64_t bid) const {
  if (runs_.empty()) return nullptr;
  const std::vector<Entry>& run = runs_[RunOf(bid)];
  const std::size_t i = LowerInRun(run, bid);
  return i < run.size() && run[i].bid == bid ? &run[i].info : nullptr;
}

BlockInfo* BlockIndex::Find(std::uint64_t bid) {
  return const_cast<BlockInfo*>(static_cast<const BlockIndex&>(*this).Find(bid));
}

void BlockIndex::Put(std::uint64_t bid, const BlockInfo& info) {
  if (runs_.empty() || bid > runs_.back().back().bid) {
    // A new BID: appended, in a new run when the last one is full.
    if (runs_.empty() || runs_.back().size() >= kRunSize) {
      runs_.emplace_back();
      runs_.back().reserve(kRunSize);
    }
    runs_.back().push_back(Entry{bid, info});
    ++size_;
    return;
  }
  const std::size_t r = RunOf(bid);
  std::vector<Entry>& run = runs_[r];
  const std::size_t i = LowerInRun(run, bid);
  if (i < run.size() && run[i].bid == bid) {
    run[i].info = info;
    return;
  }
  run.insert(run.begin() + static_cast<std::ptrdiff_t>(i), Entry{bid, info});
  ++size_;
  if (run.size() > 2 * kRunSize) {
    std::vector<Entry> upper(run.begin() + kRunSize, run.end());
    run.resize(kRunSize);
    run.shrink_to_fit();
    runs_.insert(runs_.begin() + static_cast<std::ptrdiff_t>(r) + 1, std::move(upper));
  }
}

bool BlockIndex::Erase(std::uint64_t bid) {
  if (runs_.empty()) return false;
  const std::size_t r = RunOf(bid);
  std::vector<Entry>& run = runs_[r];
  const std::size_t i = LowerInRun(run, bid);
  if (i == run.size() || run[i].bid != bid) return false;
  run.erase(run.begin() + static_cast<std::ptrdiff_t>(i));
  --size_;
  if (run.empty()) runs_.erase(runs_.begin() + static_cast<std::ptrdiff_t>(r));
  return true;
}

std::uint64_t BlockIndex::NthFrom(std::uint64_t lower, std::size_t n) const {
  std::uint64_t found = 0;
  bool any = false;
  ForEachFrom(lower, [&](const Entry& e) {
    if (n-- > 0) return true;
    found = e.bid;
    any = true;
    return false;
  });
  if (!any) throw std::out_of_range("block index: fewer entries than asked for");
  return found;
}

}  // namespace mailvane::pst::ndb
