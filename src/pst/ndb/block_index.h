// The blocks of a file by BID, kept in memory for the BBT. A file of a few gigabytes has
// over a million blocks, so the entries sit in sorted runs of plain structs rather than
// in a tree of separately allocated nodes: a third of the memory. New BIDs only grow, so
// nearly every insert is an append to the last run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mailvane::pst::ndb {

struct BlockInfo {
  std::uint64_t ib = 0;
  std::uint16_t cb = 0;
  std::uint16_t cref = 0;  // as on disk: the BBT's own reference plus one per user
};

class BlockIndex {
 public:
  struct Entry {
    std::uint64_t bid = 0;
    BlockInfo info;
  };

  BlockInfo* Find(std::uint64_t bid);
  const BlockInfo* Find(std::uint64_t bid) const;
  void Put(std::uint64_t bid, const BlockInfo& info);  // adds, or replaces the entry
  bool Erase(std::uint64_t bid);
  std::size_t size() const { return size_; }

  // The BID of the n-th entry (0-based) at or after lower; n must be within range.
  std::uint64_t NthFrom(std::uint64_t lower, std::size_t n) const;
  // Calls visit(entry) for the entries from lower on, in BID order, while it returns true.
  template <typename Visit>
  void ForEachFrom(std::uint64_t lower, Visit&& visit) const {
    for (std::size_t r = RunOf(lower); r < runs_.size(); ++r) {
      const std::vector<Entry>& run = runs_[r];
      for (std::size_t i = LowerInRun(run, lower); i < run.size(); ++i) {
        if (!visit(run[i])) return;
      }
    }
  }

 private:
  static constexpr std::size_t kRunSize = 4096;  // a run is split in two past twice this
  std::size_t RunOf(std::uint64_t bid) const;    // the run that holds or would hold bid
  static std::size_t LowerInRun(const std::vector<Entry>& run, std::uint64_t bid);

  std::vector<std::vector<Entry>> runs_;  // each sorted, non-empty, in order
  std::size_t size_ = 0;
};

}  // namespace mailvane::pst::ndb
