// An in-memory NodeDatabase for unit tests: blocks and trees held in maps, nothing
// encoded. It keeps the rules callers must follow (block size limit, references) so that
// tests catch a caller that breaks them.
#pragma once

#include <map>
#include <vector>

#include "pst/ndb/node_database.h"

namespace mailvane::pst::testing {

class MemoryNodeDatabase : public NodeDatabase {
 public:
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

  void Commit() override {}
  void Close() override {}
  std::string WriteFailure() const override { return {}; }

  // Blocks (leaves and trees) still referenced: a test's measure of leaks.
  std::size_t live_blocks() const { return blocks_.size(); }
  // Lets a test damage a stored block in place.
  std::vector<std::uint8_t>& MutableBlock(Bid bid);

 private:
  struct Block {
    std::vector<std::uint8_t> data;       // a leaf's bytes
    std::vector<Bid> children;            // a data tree's leaves
    std::vector<SubnodeEntry> subnodes;   // a subnode tree's entries
    std::uint64_t total = 0;
    bool internal = false;
    bool subnode_tree = false;
    int refs = 1;
  };
  Bid NextBid(bool internal);
  Block& Get(Bid bid);

  std::map<Bid, Block> blocks_;
  std::map<Nid, NodeEntry> nodes_;
  Bid next_bid_ = 4;
  std::uint32_t next_nid_index_ = 0x400;
};

}  // namespace mailvane::pst::testing
