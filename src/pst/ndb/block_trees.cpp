// Blocks, data trees (XBLOCK / XXBLOCK) and subnode trees (SLBLOCK / SIBLOCK).
#include <algorithm>
#include <iterator>

#include "base/hex.h"
#include "base/little_endian.h"
#include "pst/ndb/crypt.h"
#include "pst/ndb/format_error.h"
#include "pst/ndb/page.h"
#include "pst/ndb/pst_node_database.h"

namespace mailvane::pst::ndb {

namespace {

constexpr int kMaxDataDepth = 2;  // XXBLOCK over XBLOCKs over data blocks
constexpr std::uint16_t kMaxRefs = 0xFFFF;

}  // namespace

std::optional<BlockInfo> PstNodeDatabase::FindBlock(Bid bid) {
  BtRecord r;
  if (!bbt_.Find(BidKey(bid), r)) return std::nullopt;
  return BlockInfo{base::Get64(r.data() + 8), base::Get16(r.data() + 16), base::Get16(r.data() + 18)};
}

void PstNodeDatabase::PutBlock(Bid bid, const BlockInfo& info) {
  BtRecord r{};
  base::Put64(r.data(), BidKey(bid));
  base::Put64(r.data() + 8, info.ib);
  base::Put16(r.data() + 16, info.cb);
  base::Put16(r.data() + 18, info.cref);
  ChangeTree([&] { bbt_.Put(r); });
}

Bid PstNodeDatabase::NewBid(bool internal) {
  Bid bid = header_.bid_next_b;
  header_.bid_next_b += 4;
  return internal ? bid | kBidInternal : bid;
}

Bid PstNodeDatabase::StoreBlock(std::span<const std::uint8_t> data, bool internal) {
  RequireWritable();
  if (data.size() > kMaxBlockData) {
    throw FormatError("a block holds at most 8176 bytes, not " + std::to_string(data.size()));
  }
  Bid bid = NewBid(internal);
  std::uint64_t size = BlockSizeOnDisk(data.size());
  std::uint64_t ib = amap_->Allocate(size, kSlotSize);
  try {
    writer_.WriteBlock(ib, data, bid, internal ? CryptMethod::kNone : crypt_);
  } catch (...) {
    MarkBroken();
    throw;
  }
  PutBlock(bid, BlockInfo{ib, static_cast<std::uint16_t>(data.size()), 2});
  return bid;
}

Bid PstNodeDatabase::WriteBlock(std::span<const std::uint8_t> data) {
  return StoreBlock(data, false);
}

Bid PstNodeDatabase::WriteData(std::span<const std::uint8_t> data) {
  RequireWritable();
  if (data.empty()) return 0;
  std::vector<Bid> leaves;
  leaves.reserve((data.size() + kMaxBlockData - 1) / kMaxBlockData);
  for (std::size_t at = 0; at < data.size(); at += kMaxBlockData) {
    leaves.push_back(WriteBlock(data.subspan(at, std::min(kMaxBlockData, data.size() - at))));
  }
  return WriteDataTree(leaves, data.size());
}

Bid PstNodeDatabase::WriteXBlock(std::span<const Bid> children, std::uint64_t total,
                                 std::uint8_t level) {
  std::vector<std::uint8_t> b(kInternalHeaderSize + 8 * children.size());
  b[0] = kBlockTypeData;
  b[1] = level;
  base::Put16(b.data() + 2, static_cast<std::uint16_t>(children.size()));
  base::Put32(b.data() + 4, static_cast<std::uint32_t>(total));
  for (std::size_t i = 0; i < children.size(); ++i) base::Put64(b.data() + 8 + 8 * i, children[i]);
  const Bid bid = StoreBlock(b, true);
  last_tree_ = {bid, total};
  return bid;
}

Bid PstNodeDatabase::WriteDataTree(std::span<const Bid> leaves, std::uint64_t total_size) {
  RequireWritable();
  if (leaves.empty()) return 0;
  std::uint64_t sum = 0;
  std::vector<std::uint64_t> sizes;
  sizes.reserve(leaves.size());
  for (Bid leaf : leaves) {
    const std::optional<BlockInfo> info = FindBlock(leaf);
    if (!info || IsInternal(leaf)) {
      throw FormatError("data tree leaf " + base::Hex(leaf) + " is not a data block of this file");
    }
    sizes.push_back(info->cb);
    sum += info->cb;
  }
  if (sum != total_size) {
    throw FormatError("data tree leaves hold " + std::to_string(sum) + " bytes, not the " +
                      std::to_string(total_size) + " announced");
  }
  if (leaves.size() == 1) return leaves[0];
  if (total_size > 0xFFFFFFFFu) {
    throw FormatError("a PST stream holds less than 4 GB, not " + std::to_string(total_size) +
                      " bytes");
  }
  if (leaves.size() <= kXBlockMaxEntries) return WriteXBlock(leaves, total_size, 1);
  if (leaves.size() > kXBlockMaxEntries * kXBlockMaxEntries) {
    throw FormatError("a stream of " + std::to_string(leaves.size()) +
                      " blocks is too large for an XXBLOCK");
  }
  std::vector<Bid> xblocks;
  for (std::size_t at = 0; at < leaves.size(); at += kXBlockMaxEntries) {
    std::size_t n = std::min(kXBlockMaxEntries, leaves.size() - at);
    std::uint64_t part = 0;
    for (std::size_t i = at; i < at + n; ++i) part += sizes[i];
    xblocks.push_back(WriteXBlock(leaves.subspan(at, n), part, 1));
  }
  return WriteXBlock(xblocks, total_size, 2);
}

Bid PstNodeDatabase::WriteSubnodeTree(std::vector<SubnodeEntry> entries) {
  RequireWritable();
  if (entries.empty()) return 0;
  std::sort(entries.begin(), entries.end(),
            [](const SubnodeEntry& a, const SubnodeEntry& b) { return a.nid < b.nid; });
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i > 0 && entries[i].nid == entries[i - 1].nid) {
      throw FormatError("subnode NID " + base::Hex(entries[i].nid) + " appears twice");
    }
    for (Bid b : {entries[i].data, entries[i].subnodes}) {
      if (b != 0 && !FindBlock(b)) {
        throw FormatError("subnode " + base::Hex(entries[i].nid) + " refers to block " + base::Hex(b) +
                          " that does not exist");
      }
    }
  }
  if (entries.size() > kSlBlockMaxEntries * kSiBlockMaxEntries) {
    throw FormatError("a node holds at most " +
                      std::to_string(kSlBlockMaxEntries * kSiBlockMaxEntries) +
                      " subnodes, not " + std::to_string(entries.size()));
  }
  std::vector<std::pair<Nid, Bid>> leaves;
  for (std::size_t at = 0; at < entries.size(); at += kSlBlockMaxEntries) {
    std::size_t n = std::min(kSlBlockMaxEntries, entries.size() - at);
    std::vector<std::uint8_t> b(kInternalHeaderSize + 24 * n);
    b[0] = kBlockTypeSubnode;
    b[1] = 0;
    base::Put16(b.data() + 2, static_cast<std::uint16_t>(n));
    for (std::size_t i = 0; i < n; ++i) {
      std::uint8_t* e = b.data() + 8 + 24 * i;
      base::Put64(e, entries[at + i].nid);
      base::Put64(e + 8, entries[at + i].data);
      base::Put64(e + 16, entries[at + i].subnodes);
    }
    leaves.emplace_back(entries[at].nid, StoreBlock(b, true));
  }
  if (leaves.size() == 1) return leaves[0].second;
  std::vector<std::uint8_t> b(kInternalHeaderSize + 16 * leaves.size());
  b[0] = kBlockTypeSubnode;
  b[1] = 1;
  base::Put16(b.data() + 2, static_cast<std::uint16_t>(leaves.size()));
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    base::Put64(b.data() + 8 + 16 * i, leaves[i].first);
    base::Put64(b.data() + 16 + 16 * i, leaves[i].second);
  }
  return StoreBlock(b, true);
}

int PstNodeDatabase::RefsOf(Bid key) {
  const std::optional<BlockInfo> info = FindBlock(key);
  if (!info) throw FormatError("block " + base::Hex(key) + " does not exist");
  const auto it = ref_changes_.find(key);
  return info->cref + (it != ref_changes_.end() ? it->second : 0);
}

void PstNodeDatabase::ChangeRefs(Bid key, int by) {
  if ((ref_changes_[key] += by) == 0) ref_changes_.erase(key);
}

void PstNodeDatabase::AddRef(Bid bid) {
  RequireWritable();
  if (RefsOf(BidKey(bid)) >= kMaxRefs) {
    throw FormatError("block " + base::Hex(bid) + " has too many references");
  }
  ChangeRefs(BidKey(bid), +1);
}

void PstNodeDatabase::Release(Bid bid) {
  RequireWritable();
  if (RefsOf(BidKey(bid)) - 1 > 1) {
    ChangeRefs(BidKey(bid), -1);
    return;
  }
  ref_changes_.erase(BidKey(bid));
  FreeBlock(BidKey(bid));
}

void PstNodeDatabase::ApplyRefChanges() {
  for (const auto& [key, change] : ref_changes_) {
    std::optional<BlockInfo> info = FindBlock(key);
    if (!info) throw FormatError("block " + base::Hex(key) + " does not exist");
    info->cref = static_cast<std::uint16_t>(info->cref + change);
    PutBlock(key, *info);
  }
  ref_changes_.clear();
}

void PstNodeDatabase::FreeBlock(Bid bid) {
  std::vector<Bid> children;
  if (IsInternal(bid)) {
    std::vector<std::uint8_t> b = ReadBlock(bid);
    std::size_t n = base::Get16(b.data() + 2);
    if (b[0] == kBlockTypeData) {
      for (std::size_t i = 0; i < n; ++i) children.push_back(base::Get64(b.data() + 8 + 8 * i));
    } else if (b[1] == 0) {
      for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t* e = b.data() + 8 + 24 * i;
        if (base::Get64(e + 8) != 0) children.push_back(base::Get64(e + 8));
        if (base::Get64(e + 16) != 0) children.push_back(base::Get64(e + 16));
      }
    } else {
      for (std::size_t i = 0; i < n; ++i) children.push_back(base::Get64(b.data() + 16 + 16 * i));
    }
  }
  const std::optional<BlockInfo> info = FindBlock(bid);
  freed_.emplace_back(info->ib, BlockSizeOnDisk(info->cb));
  ChangeTree([&] { bbt_.Erase(bid); });
  for (Bid child : children) Release(child);
}

std::vector<std::uint8_t> PstNodeDatabase::ReadRawBlock(Bid bid, BlockInfo& info) {
  RequireOpen();
  const std::optional<BlockInfo> found = FindBlock(bid);
  if (!found) throw FormatError("block " + base::Hex(bid) + " is not in the BBT");
  info = *found;
  std::vector<std::uint8_t> raw(BlockSizeOnDisk(info.cb));
  FlushBeforeRead(info.ib, raw.size());  // the block may still sit in the write buffer
  file_->ReadAt(info.ib, raw);
  if (std::string p = BlockProblem(raw, info.cb, info.ib, BidKey(bid)); !p.empty()) {
    throw FormatError(p);
  }
  raw.resize(info.cb);
  return raw;
}

std::vector<std::uint8_t> PstNodeDatabase::ReadBlock(Bid bid) {
  BlockInfo info;
  std::vector<std::uint8_t> data = ReadRawBlock(bid, info);
  if (!IsInternal(bid)) DecodeBlockData(crypt_, BidKey(bid), data);
  return data;
}

std::vector<std::uint8_t> PstNodeDatabase::ReadInternal(Bid bid, std::uint8_t type) {
  std::vector<std::uint8_t> b = ReadBlock(bid);
  if (b.size() < kInternalHeaderSize || b[0] != type) {
    throw FormatError("block " + base::Hex(bid) + " is not the internal block expected");
  }
  std::size_t entry = type == kBlockTypeData ? 8 : (b[1] == 0 ? 24 : 16);
  if (kInternalHeaderSize + entry * base::Get16(b.data() + 2) > b.size()) {
    throw FormatError("internal block " + base::Hex(bid) + " announces more entries than it holds");
  }
  return b;
}

void PstNodeDatabase::AppendLeaves(Bid bid, std::vector<Bid>& out, int depth) {
  if (!IsInternal(bid)) {
    out.push_back(bid);
    return;
  }
  if (depth >= kMaxDataDepth) throw FormatError("data tree " + base::Hex(bid) + " is too deep");
  std::vector<std::uint8_t> b = ReadInternal(bid, kBlockTypeData);
  std::size_t n = base::Get16(b.data() + 2);
  for (std::size_t i = 0; i < n; ++i) AppendLeaves(base::Get64(b.data() + 8 + 8 * i), out, depth + 1);
}

std::vector<Bid> PstNodeDatabase::DataLeaves(Bid bid) {
  std::vector<Bid> out;
  if (bid != 0) AppendLeaves(bid, out, 0);
  return out;
}

std::vector<std::uint8_t> PstNodeDatabase::ReadData(Bid bid) {
  std::vector<std::uint8_t> out;
  if (bid == 0) return out;
  out.reserve(DataSize(bid));
  for (Bid leaf : DataLeaves(bid)) {
    std::vector<std::uint8_t> b = ReadBlock(leaf);
    out.insert(out.end(), b.begin(), b.end());
  }
  if (out.size() != DataSize(bid)) {
    throw FormatError("data tree " + base::Hex(bid) + " holds " + std::to_string(out.size()) +
                      " bytes, its header says " + std::to_string(DataSize(bid)));
  }
  return out;
}

std::uint64_t PstNodeDatabase::DataSize(Bid bid) {
  if (bid == 0) return 0;
  if (!IsInternal(bid)) {
    const std::optional<BlockInfo> info = FindBlock(bid);
    if (!info) throw FormatError("block " + base::Hex(bid) + " is not in the BBT");
    return info->cb;
  }
  if (bid == last_tree_.first) return last_tree_.second;
  return base::Get32(ReadInternal(bid, kBlockTypeData).data() + 4);
}

std::vector<SubnodeEntry> PstNodeDatabase::ReadSubnodes(Bid bid) {
  std::vector<SubnodeEntry> out;
  if (bid == 0) return out;
  std::vector<std::uint8_t> b = ReadInternal(bid, kBlockTypeSubnode);
  std::size_t n = base::Get16(b.data() + 2);
  if (b[1] == 0) {
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint8_t* e = b.data() + 8 + 24 * i;
      out.push_back({static_cast<Nid>(base::Get64(e)), base::Get64(e + 8), base::Get64(e + 16)});
    }
  } else if (b[1] == 1) {
    for (std::size_t i = 0; i < n; ++i) {
      Bid child = base::Get64(b.data() + 16 + 16 * i);
      if (!IsInternal(child)) throw FormatError("SIBLOCK " + base::Hex(bid) + " has a data child");
      std::vector<SubnodeEntry> part = ReadSubnodes(child);
      out.insert(out.end(), part.begin(), part.end());
    }
  } else {
    throw FormatError("subnode block " + base::Hex(bid) + " has level " + std::to_string(b[1]));
  }
  // Outlook itself sometimes leaves subnode NIDs out of order; callers get them sorted.
  std::sort(out.begin(), out.end(),
            [](const SubnodeEntry& a, const SubnodeEntry& c) { return a.nid < c.nid; });
  return out;
}

}  // namespace mailvane::pst::ndb
