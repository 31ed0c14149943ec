// One B-tree of the file (NBT or BBT), copy-on-write. The committed pages stay on disk and
// are read through the page cache when needed; a page that changes is read into memory
// together with its ancestors and stays there until the next commit writes them all to new
// places. After a commit nothing but the root's place is held, so memory does not grow
// with the number of entries.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "pst/ndb/header.h"
#include "pst/ndb/layout.h"
#include "pst/ndb/page_cache.h"

namespace mailvane::pst::ndb {

// A leaf entry as on disk (NBTENTRY or BBTENTRY, the latter in the first 24 bytes); its key
// is the first 8 bytes.
using BtRecord = std::array<std::uint8_t, kNbtEntrySize>;

class PagedBtree {
 public:
  struct Io {
    std::function<void(std::uint64_t ib, std::span<std::uint8_t> page)> read;
    std::function<std::pair<std::uint64_t, Bid>()> new_page;
    std::function<void(std::uint64_t ib)> free_page;  // reusable once the header is written
    std::function<void(std::uint64_t ib, std::span<const std::uint8_t> page)> write;
  };

  PagedBtree(PageType type, PageCache& cache, Io io);
  ~PagedBtree();

  void Clear();  // one empty leaf, to be written by the next commit
  // Adopts the tree of a file after checking every page of it; on_page gets each page's
  // offset, on_entry each leaf entry.
  void Load(const Bref& root, std::uint64_t file_eof,
            const std::function<void(std::uint64_t ib)>& on_page,
            const std::function<void(std::span<const std::uint8_t> entry)>& on_entry);

  bool Find(std::uint64_t key, BtRecord& out);
  void Put(const BtRecord& entry);  // adds, or replaces the entry of that key
  bool Erase(std::uint64_t key);
  // Every entry in key order. The visitor may change the tree: the walk goes on after the
  // last key it saw.
  void ForEach(const std::function<void(const BtRecord& entry)>& visit);
  std::size_t size() const { return size_; }

  bool dirty() const { return root_ != nullptr || !dropped_.empty(); }
  // Writes the changed pages bottom-up to new places and gives the new root. The old pages
  // go to free_page; the changed ones stay in memory until Committed.
  Bref Commit();
  // The header naming the new root is written: the changed pages are on disk now.
  void Committed();

 private:
  struct Node;
  struct View {
    const std::uint8_t* entries = nullptr;
    std::size_t count = 0;
    std::uint8_t level = 0;
    Node* node = nullptr;  // in memory, or nullptr for a page from the file
  };

  std::size_t EntrySize(std::uint8_t level) const;
  std::size_t Capacity(std::uint8_t level) const;
  View Read(std::uint64_t ib, Bid bid, int expected_level, PageBytes& buffer);
  View ViewOf(Node& node) const;
  View Child(const View& parent, std::size_t i, PageBytes& buffer);
  std::unique_ptr<Node> LoadNode(std::uint64_t ib, Bid bid, int expected_level);
  Node& Root();
  Node& LoadedChild(Node& parent, std::size_t i);
  std::unique_ptr<Node> InsertInto(Node& node, const BtRecord& entry, bool last, bool& added);
  bool EraseFrom(Node& node, std::uint64_t key);
  void Drop(const Node& node);
  bool CollectFrom(const View& view, std::uint64_t key, std::vector<BtRecord>& out);
  Bref Write(Node& node);
  void WalkPage(const Bref& ref, int expected_level, std::uint64_t low_key, std::uint64_t file_eof,
                const std::function<void(std::uint64_t ib)>& on_page,
                const std::function<void(std::span<const std::uint8_t> entry)>& on_entry);

  PageType type_;
  PageCache& cache_;
  Io io_;
  Bref root_ref_;               // the root as last committed
  std::unique_ptr<Node> root_;  // the changed part of the tree, or nullptr
  Bref written_root_;           // written by Commit, not yet named by a header
  std::vector<std::uint64_t> dropped_;  // committed pages no longer used
  std::size_t size_ = 0;
};

}  // namespace mailvane::pst::ndb
