// The B-tree pages read most recently, by file offset, up to a fixed number: the trees of a
// large file stay on disk, and the pages near the top and at the growing end are read often.
#pragma once

#include <array>
#include <cstdint>
#include <list>
#include <unordered_map>
#include <utility>

#include "pst/ndb/layout.h"

namespace mailvane::pst::ndb {

using PageBytes = std::array<std::uint8_t, kPageSize>;

class PageCache {
 public:
  explicit PageCache(std::size_t capacity) : capacity_(capacity) {}

  // The page at ib, or nullptr; valid until the next Put.
  const PageBytes* Find(std::uint64_t ib) {
    const auto it = index_.find(ib);
    if (it == index_.end()) return nullptr;
    pages_.splice(pages_.begin(), pages_, it->second);
    return &it->second->second;
  }

  void Put(std::uint64_t ib, const PageBytes& page) {
    if (const auto it = index_.find(ib); it != index_.end()) {
      it->second->second = page;
      pages_.splice(pages_.begin(), pages_, it->second);
      return;
    }
    if (index_.size() >= capacity_) {
      index_.erase(pages_.back().first);
      pages_.pop_back();
    }
    pages_.emplace_front(ib, page);
    index_.emplace(ib, pages_.begin());
  }

  // The page no longer belongs to a tree: its place may soon hold something else.
  void Forget(std::uint64_t ib) {
    const auto it = index_.find(ib);
    if (it == index_.end()) return;
    pages_.erase(it->second);
    index_.erase(it);
  }

 private:
  using Pages = std::list<std::pair<std::uint64_t, PageBytes>>;
  std::size_t capacity_;
  Pages pages_;  // most recent first
  std::unordered_map<std::uint64_t, Pages::iterator> index_;
};

}  // namespace mailvane::pst::ndb
