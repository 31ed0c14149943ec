// An in-memory NodeDatabase for unit tests: blocks and trees held in maps, nothing
// encoded. It keeps the rules callers must follow (block size limit, references) so that
// tests catch a caller that breaks them.
#pragma once

#include <map>
#include <vector>

#include "pst/ndb/node_database.h"

namespace mailvane::pst::testing {

class MemoryNodeDatabase : public ndb::NodeDatabase {
 public:
  ndb::Bid WriteBlock(std::span<const std::uint8_t> data) override;
  ndb::Bid WriteData(std::span<const std::uint8_t> data) override;
  ndb::Bid WriteDataTree(std::span<const ndb::Bid> leaves, std::uint64_t total_size) override;
  ndb::Bid WriteSubnodeTree(std::vector<ndb::SubnodeEntry> entries) override;
  void AddRef(ndb::Bid bid) override;
  void Release(ndb::Bid bid) override;

  std::vector<std::uint8_t> ReadBlock(ndb::Bid bid) override;
  std::vector<ndb::Bid> DataLeaves(ndb::Bid bid) override;
  std::vector<std::uint8_t> ReadData(ndb::Bid bid) override;
  std::uint64_t DataSize(ndb::Bid bid) override;
  std::vector<ndb::SubnodeEntry> ReadSubnodes(ndb::Bid bid) override;

  std::optional<ndb::NodeEntry> FindNode(ndb::Nid nid) override;
  void PutNode(const ndb::NodeEntry& entry) override;
  void DeleteNode(ndb::Nid nid) override;
  ndb::Nid AllocateNid(ndb::NidType type) override;
  void ForEachNode(const std::function<void(const ndb::NodeEntry&)>& visit) override;

  void Commit() override {}
  void Close() override {}
  std::string WriteFailure() const override { return {}; }

  // Blocks (leaves and trees) still referenced: a test's measure of leaks.
  std::size_t live_blocks() const { return blocks_.size(); }
  // Lets a test damage a stored block in place.
  std::vector<std::uint8_t>& MutableBlock(ndb::Bid bid);

 private:
  struct Block {
    std::vector<std::uint8_t> data;       // a leaf's bytes
    std::vector<ndb::Bid> children;            // a data tree's leaves
    std::vector<ndb::SubnodeEntry> subnodes;   // a subnode tree's entries
    std::uint64_t total = 0;
    bool internal = false;
    bool subnode_tree = false;
    int refs = 1;
  };
  ndb::Bid NextBid(bool internal);
  Block& Get(ndb::Bid bid);

  std::map<ndb::Bid, Block> blocks_;
  std::map<ndb::Nid, ndb::NodeEntry> nodes_;
  ndb::Bid next_bid_ = 4;
  std::uint32_t next_nid_index_ = 0x400;
};

}  // namespace mailvane::pst::testing
