#include "support/memory_node_database.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace mailvane::pst::testing {

ndb::Bid MemoryNodeDatabase::NextBid(bool internal) {
  ndb::Bid bid = next_bid_ | (internal ? 2 : 0);
  next_bid_ += 4;
  return bid;
}

MemoryNodeDatabase::Block& MemoryNodeDatabase::Get(ndb::Bid bid) {
  auto it = blocks_.find(bid);
  if (it == blocks_.end()) throw std::out_of_range("no block " + std::to_string(bid));
  return it->second;
}

std::vector<std::uint8_t>& MemoryNodeDatabase::MutableBlock(ndb::Bid bid) { return Get(bid).data; }

ndb::Bid MemoryNodeDatabase::WriteBlock(std::span<const std::uint8_t> data) {
  if (data.size() > ndb::kMaxBlockData) {
    throw std::length_error("block of " + std::to_string(data.size()) + " bytes");
  }
  ndb::Bid bid = NextBid(false);
  Block& b = blocks_[bid];
  b.data.assign(data.begin(), data.end());
  b.total = data.size();
  return bid;
}

ndb::Bid MemoryNodeDatabase::WriteData(std::span<const std::uint8_t> data) {
  if (data.empty()) return 0;
  std::vector<ndb::Bid> leaves;
  for (std::size_t at = 0; at < data.size(); at += ndb::kMaxBlockData) {
    leaves.push_back(WriteBlock(data.subspan(at, std::min(ndb::kMaxBlockData, data.size() - at))));
  }
  return WriteDataTree(leaves, data.size());
}

ndb::Bid MemoryNodeDatabase::WriteDataTree(std::span<const ndb::Bid> leaves, std::uint64_t total_size) {
  if (leaves.empty()) return 0;
  std::uint64_t sum = 0;
  for (ndb::Bid leaf : leaves) {
    const Block& b = Get(leaf);
    if (b.internal) throw std::invalid_argument("data tree over a tree block");
    sum += b.data.size();
  }
  if (sum != total_size) throw std::invalid_argument("data tree size does not match its leaves");
  if (leaves.size() == 1) return leaves[0];
  ndb::Bid bid = NextBid(true);
  Block& b = blocks_[bid];
  b.children.assign(leaves.begin(), leaves.end());
  b.total = total_size;
  b.internal = true;
  return bid;
}

ndb::Bid MemoryNodeDatabase::WriteSubnodeTree(std::vector<ndb::SubnodeEntry> entries) {
  if (entries.empty()) return 0;
  std::sort(entries.begin(), entries.end(),
            [](const ndb::SubnodeEntry& a, const ndb::SubnodeEntry& b) { return a.nid < b.nid; });
  for (std::size_t i = 1; i < entries.size(); ++i) {
    if (entries[i - 1].nid == entries[i].nid) throw std::invalid_argument("duplicate subnode NID");
  }
  ndb::Bid bid = NextBid(true);
  Block& b = blocks_[bid];
  b.subnodes = std::move(entries);
  b.internal = true;
  b.subnode_tree = true;
  return bid;
}

void MemoryNodeDatabase::AddRef(ndb::Bid bid) { ++Get(bid).refs; }

void MemoryNodeDatabase::Release(ndb::Bid bid) {
  Block& b = Get(bid);
  if (--b.refs > 0) return;
  Block gone = std::move(b);
  blocks_.erase(bid);
  for (ndb::Bid child : gone.children) Release(child);
  for (const ndb::SubnodeEntry& e : gone.subnodes) {
    if (e.data != 0) Release(e.data);
    if (e.subnodes != 0) Release(e.subnodes);
  }
}

std::vector<std::uint8_t> MemoryNodeDatabase::ReadBlock(ndb::Bid bid) {
  const Block& b = Get(bid);
  if (b.internal) throw std::invalid_argument("ReadBlock on a tree block");
  return b.data;
}

std::vector<ndb::Bid> MemoryNodeDatabase::DataLeaves(ndb::Bid bid) {
  const Block& b = Get(bid);
  if (b.subnode_tree) throw std::invalid_argument("DataLeaves on a subnode tree");
  return b.internal ? b.children : std::vector<ndb::Bid>{bid};
}

std::vector<std::uint8_t> MemoryNodeDatabase::ReadData(ndb::Bid bid) {
  std::vector<std::uint8_t> out;
  for (ndb::Bid leaf : DataLeaves(bid)) {
    const Block& b = Get(leaf);
    out.insert(out.end(), b.data.begin(), b.data.end());
  }
  return out;
}

std::uint64_t MemoryNodeDatabase::DataSize(ndb::Bid bid) { return Get(bid).total; }

std::vector<ndb::SubnodeEntry> MemoryNodeDatabase::ReadSubnodes(ndb::Bid bid) {
  if (bid == 0) return {};
  const Block& b = Get(bid);
  if (!b.subnode_tree) throw std::invalid_argument("ReadSubnodes on a data block");
  return b.subnodes;
}

std::optional<ndb::NodeEntry> MemoryNodeDatabase::FindNode(ndb::Nid nid) {
  auto it = nodes_.find(nid);
  if (it == nodes_.end()) return std::nullopt;
  return it->second;
}

void MemoryNodeDatabase::PutNode(const ndb::NodeEntry& entry) {
  auto it = nodes_.find(entry.nid);
  if (it != nodes_.end()) {
    ndb::NodeEntry old = it->second;
    it->second = entry;
    if (old.data != 0 && old.data != entry.data) Release(old.data);
    if (old.subnodes != 0 && old.subnodes != entry.subnodes) Release(old.subnodes);
    return;
  }
  nodes_[entry.nid] = entry;
}

void MemoryNodeDatabase::DeleteNode(ndb::Nid nid) {
  auto it = nodes_.find(nid);
  if (it == nodes_.end()) throw std::out_of_range("no node " + std::to_string(nid));
  ndb::NodeEntry old = it->second;
  nodes_.erase(it);
  if (old.data != 0) Release(old.data);
  if (old.subnodes != 0) Release(old.subnodes);
}

ndb::Nid MemoryNodeDatabase::AllocateNid(ndb::NidType type) { return ndb::MakeNid(type, next_nid_index_++); }

void MemoryNodeDatabase::ForEachNode(const std::function<void(const ndb::NodeEntry&)>& visit) {
  for (const auto& [nid, entry] : nodes_) visit(entry);
}

}  // namespace mailvane::pst::testing
