// The NodeDatabase over a Unicode PST file. Data blocks go to disk as they are written;
// the B-trees stay in the file, with what changed since the last commit in memory; the
// allocation state lives in memory. Commit writes the changed B-tree pages, the maps and,
// last, the header.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "pst/ndb/allocation_map.h"
#include "pst/ndb/buffered_writer.h"
#include "pst/ndb/header.h"
#include "pst/ndb/node_database.h"
#include "pst/ndb/page_cache.h"
#include "pst/ndb/paged_btree.h"

namespace mailvane::pst::ndb {

struct BlockInfo {
  std::uint64_t ib = 0;
  std::uint16_t cb = 0;
  std::uint16_t cref = 0;  // as on disk: the BBT's own reference plus one per user
};

// One thread at a time: even a read changes the page cache.
class PstNodeDatabase : public NodeDatabase {
 public:
  // A new file: everything empty, committed before it returns.
  PstNodeDatabase(std::unique_ptr<FileIo> file, CryptMethod crypt);
  // An existing file: header, NBT and BBT loaded (and the allocation state rebuilt when
  // writable).
  PstNodeDatabase(std::unique_ptr<FileIo> file, bool writable);

  Bid WriteBlock(std::span<const std::uint8_t> data) override;
  Bid WriteData(std::span<const std::uint8_t> data) override;
  Bid WriteDataTree(std::span<const Bid> leaves, std::uint64_t total_size) override;
  Bid WriteSubnodeTree(std::vector<SubnodeEntry> entries) override;
  void AddRef(Bid bid) override;
  void Release(Bid bid) override;

  std::vector<std::uint8_t> ReadBlock(Bid bid) override;
  std::vector<Bid> DataLeaves(Bid bid) override;
  std::vector<std::uint8_t> ReadData(Bid bid) override;
  std::uint64_t DataSize(Bid bid) override;
  std::vector<SubnodeEntry> ReadSubnodes(Bid bid) override;

  std::optional<NodeEntry> FindNode(Nid nid) override;
  void PutNode(const NodeEntry& entry) override;
  void DeleteNode(Nid nid) override;
  Nid AllocateNid(NidType type) override;
  void ForEachNode(const std::function<void(const NodeEntry&)>& visit) override;

  void Commit() override;
  void Close() override;
  std::uint64_t SizeWith(std::uint64_t more) const override;
  std::string WriteFailure() const override { return broken_ ? broken_reason_ : std::string(); }

  // The BBT entry of a block, if there is one.
  std::optional<BlockInfo> FindBlock(Bid bid);
  std::size_t block_count() const { return bbt_.size(); }
  // For tests and benchmarks: new blocks and pages go to AMap interval k and beyond.
  void PlaceNewSpaceFrom(std::uint64_t k) { amap_->StartAt(k); }

 private:
  void CommitOnce();
  void ApplyRefChanges();
  // A block's references with those changed since the last commit; raises when it is gone.
  int RefsOf(Bid key);
  void ChangeRefs(Bid key, int by);
  void RequireOpen() const;
  // Called inside a catch block: marks the file broken and keeps the first failure's text.
  void MarkBroken();
  void RequireWritable() const;
  // A change of a B-tree that fails part way (a page that cannot be read back) leaves
  // the file at its last commit and refuses further changes.
  template <typename Change>
  void ChangeTree(Change&& change) {
    try {
      change();
    } catch (...) {
      MarkBroken();
      throw;
    }
  }
  // Writes out the write buffer before a read of bytes it holds (reads elsewhere leave it
  // gathering). A write that fails there is a failed write like any other: the file keeps
  // its last commit.
  void FlushBeforeRead(std::uint64_t ib, std::size_t size);
  Bid NewBid(bool internal);
  void PutBlock(Bid bid, const BlockInfo& info);
  PagedBtree::Io TreeIo();
  // Stores `data` (already encoded) as a block; the caller holds the one reference.
  Bid StoreBlock(std::span<const std::uint8_t> data, bool internal);
  std::vector<std::uint8_t> ReadRawBlock(Bid bid, BlockInfo& info);
  std::vector<std::uint8_t> ReadInternal(Bid bid, std::uint8_t type);
  Bid WriteXBlock(std::span<const Bid> children, std::uint64_t total, std::uint8_t level);
  void FreeBlock(Bid bid);
  void AppendLeaves(Bid bid, std::vector<Bid>& out, int depth);

  void LoadTrees();
  void WriteMaps();
  void WriteDList();

  std::unique_ptr<FileIo> file_;
  BufferedWriter writer_;
  bool writable_ = true;
  bool closed_ = false;
  // A write or flush failed: what is in memory may no longer match the file, so the only
  // safe state is the last commit on disk; every further change is refused.
  bool broken_ = false;
  std::string broken_reason_;  // the first failure's message, repeated by every refusal
  Header header_;
  // The header as last written by a commit (or read by Open): what a crash leaves.
  Header committed_header_;
  bool committed_ = false;
  CryptMethod crypt_ = CryptMethod::kPermute;
  // The root of the last data tree written and its size: a value streamed into the file
  // is placed right after, and its size is then known without reading the block back.
  std::pair<Bid, std::uint64_t> last_tree_{0, 0};
  // B-tree pages read back: the top levels and the growing end stay here. 512 pages.
  PageCache page_cache_{512};
  PagedBtree nbt_{kPageNbt, page_cache_, TreeIo()};
  PagedBtree bbt_{kPageBbt, page_cache_, TreeIo()};
  std::unique_ptr<AllocationMap> amap_;
  std::uint64_t intervals_on_disk_ = 0;
  // Space freed since the last commit: still reachable from the committed header.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> freed_;
  // References taken (+) and given back (-) since the last commit, by block. A growing
  // table's new tree takes a reference on every leaf and its old tree gives it back in the
  // same commit; kept here, the pair never touches the BBT's pages, which for a big folder
  // would be thousands of scattered pages rewritten at every commit.
  std::unordered_map<Bid, int> ref_changes_;
};

}  // namespace mailvane::pst::ndb
