// The page structure of one B-tree (NBT or BBT), kept in memory so that a commit rewrites
// only the pages whose entries changed, and their ancestors.
//
// Each level is a partition of the key space: page i of a level covers the keys from its
// `lower` up to the next page's `lower`; the first page of every level starts at 0. The
// entries themselves live with the caller (a sorted map); this class only counts them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <span>
#include <vector>

#include "pst/ndb/header.h"
#include "pst/ndb/layout.h"

namespace mailvane::pst::ndb {

struct PageSlot {
  std::uint64_t ib = 0;
  Bid bid = 0;
  std::size_t count = 0;
  std::uint64_t first_key = 0;  // of the entries as last written: the parent's btkey
  bool on_disk = false;
};

class BtreeLayout {
 public:
  // The key of the n-th entry (0-based) at or after `lower` in the caller's entries.
  using NthKey = std::function<std::uint64_t(std::uint64_t lower, std::size_t n)>;

  struct Io {
    std::function<std::pair<std::uint64_t, Bid>()> new_page;
    std::function<void(std::uint64_t ib)> free_page;
    std::function<void(std::uint64_t ib, std::span<const std::uint8_t> page)> write;
    // Serialises the entries with keys in [lower, upper) into `entries`; returns how many
    // and the first key.
    std::function<std::size_t(std::uint64_t lower, std::uint64_t upper,
                              std::span<std::uint8_t> entries, std::uint64_t& first)>
        fill_leaf;
  };

  explicit BtreeLayout(PageType type);

  void Clear();  // one empty leaf
  // Adds a page read from the file; pages of a level are added in key order.
  void AddLoaded(std::uint8_t level, std::uint64_t lower, const PageSlot& slot);

  void Insert(std::uint64_t key, const NthKey& nth);
  void Erase(std::uint64_t key);
  void Touch(std::uint64_t key);  // an entry changed in place

  bool dirty() const;
  // Writes the changed pages bottom-up and gives the root.
  Bref Commit(const Io& io);
  std::vector<std::uint64_t> PageOffsets() const;
  std::size_t page_count() const;

 private:
  using Level = std::map<std::uint64_t, PageSlot>;
  std::size_t Capacity(std::size_t level) const;
  Level::iterator PageOf(std::size_t level, std::uint64_t key);
  std::uint64_t NthKeyAt(std::size_t level, std::uint64_t lower, std::size_t n, const NthKey& nth);
  void InsertAt(std::size_t level, std::uint64_t key, const NthKey& nth);
  void EraseAt(std::size_t level, std::uint64_t key);
  void Drop(const PageSlot& slot);
  void MarkDirty(std::size_t level, Level::iterator page);

  PageType type_;
  std::vector<Level> levels_;
  // Per level, the keys of the pages to rewrite at the next commit: a commit visits only
  // those, not every page. Pages read from the file are not among them.
  std::vector<std::set<std::uint64_t>> dirty_;
  std::vector<std::uint64_t> dropped_;  // pages on disk no longer used
};

}  // namespace mailvane::pst::ndb
