// The B-tree, block and reference checks of NdbChecker.
#include <algorithm>

#include "base/hex.h"
#include "base/little_endian.h"
#include "pst/check/ndb_check.h"
#include "pst/ndb/btree_page.h"
#include "pst/ndb/layout.h"
#include "pst/ndb/page.h"

namespace mailvane::pst::check {

using namespace ndb;

namespace {

constexpr int kMaxDepth = 8;

}  // namespace

void NdbChecker::WalkTree(ndb::PageType type, const ndb::Bref& ref, int level, std::uint64_t low,
                          std::uint64_t high, int depth) {
  const std::string area = type == ndb::kPageNbt ? "nbt" : "bbt";
  const std::string name = (type == ndb::kPageNbt ? "NBT page " : "BBT page ") + base::Hex(ref.bid);
  if (depth > kMaxDepth || !visited_pages_.insert(ref.ib).second) {
    Add(Severity::kError, area, name + " at " + base::Hex(ref.ib) + " is reached twice or too deep");
    return;
  }
  if (ref.ib % ndb::kPageSize != 0 || ref.ib < ndb::kFirstAMapOffset ||
      ref.ib + ndb::kPageSize > std::min(header_.file_eof, size_)) {
    Add(Severity::kError, area, name + " at " + base::Hex(ref.ib) + " lies outside the file");
    return;
  }
  Use(ref.ib, ndb::kPageSize, name);
  max_page_bid_ = std::max(max_page_bid_, ref.bid);
  std::vector<std::uint8_t> page = Read(ref.ib, ndb::kPageSize);
  if (std::string p = ndb::PageProblem(page, type, ref.ib, ref.bid); !p.empty()) {
    Add(Severity::kError, area, p);
    if (page[ndb::kPageDataSize] != type) return;  // not a page of this tree at all
  }
  ndb::BtPageInfo info = ndb::GetBtPageInfo(page);
  if (std::string p = ndb::BtPageInfoProblem(info, type, ref.ib); !p.empty()) {
    Add(Severity::kError, area, p);
    return;
  }
  if (level >= 0 && info.level != level) {
    Add(Severity::kError, area,
        name + " has level " + std::to_string(info.level) + ", expected " + std::to_string(level));
    return;
  }
  if (info.count == 0 && depth > 0) {
    Add(Severity::kError, area, name + " is an empty page below the root");
  }
  std::uint64_t previous = 0;
  for (std::size_t i = 0; i < info.count; ++i) {
    const std::uint8_t* e = page.data() + i * info.entry_size;
    std::uint64_t key = base::Get64(e);
    if (i > 0 && key <= previous) {
      Add(Severity::kError, area,
          name + ": key " + base::Hex(key) + " does not follow " + base::Hex(previous));
    }
    if (key < low || key >= high) {
      Add(Severity::kError, area,
          name + ": key " + base::Hex(key) + " lies outside the range of its parent entry");
    }
    previous = key;
    if (info.level > 0) {
      std::uint64_t next =
          i + 1 < info.count ? base::Get64(page.data() + (i + 1) * info.entry_size) : high;
      WalkTree(type, {base::Get64(e + 8), base::Get64(e + 16)}, info.level - 1, key, next, depth + 1);
    } else if (type == ndb::kPageNbt) {
      auto nid = static_cast<std::uint32_t>(key);
      if (key > 0xFFFFFFFFu) Add(Severity::kError, area, name + ": NID " + base::Hex(key) + " too big");
      if (!nodes_.emplace(nid, Node{base::Get64(e + 8), base::Get64(e + 16), base::Get32(e + 24)}).second) {
        Add(Severity::kError, area, "node " + base::Hex(nid) + " appears twice in the NBT");
      }
    } else {
      Block b;
      b.ib = base::Get64(e + 8);
      b.cb = base::Get16(e + 16);
      b.cref = base::Get16(e + 18);
      if (!blocks_.emplace(ndb::BidKey(key), b).second) {
        Add(Severity::kError, area, "block " + base::Hex(key) + " appears twice in the BBT");
      }
    }
  }
}

void NdbChecker::CheckBlocks() {
  for (auto& [bid, b] : blocks_) {
    const std::string name = "block " + base::Hex(bid);
    if (b.cb > ndb::kMaxBlockData) {
      Add(Severity::kError, "bbt", name + " has cb " + std::to_string(b.cb) + " above 8176");
      continue;
    }
    std::uint64_t size = ndb::BlockSizeOnDisk(b.cb);
    if (b.ib < ndb::kFirstAMapOffset || b.ib + size > std::min(header_.file_eof, size_)) {
      Add(Severity::kError, "block", name + " at " + base::Hex(b.ib) + " lies outside the file");
      continue;
    }
    Use(b.ib, size, name);
    std::vector<std::uint8_t> raw = Read(b.ib, size);
    if (std::string p = ndb::BlockProblem(raw, b.cb, b.ib, bid); !p.empty()) {
      Add(Severity::kError, "block", p);
      continue;
    }
    b.readable = true;
    if (ndb::IsInternal(bid)) {
      raw.resize(b.cb);
      CheckInternalBlock(bid, b, raw);
    }
  }
}

void NdbChecker::CheckInternalBlock(std::uint64_t bid, Block& b,
                                    const std::vector<std::uint8_t>& d) {
  const std::string name = "internal block " + base::Hex(bid);
  if (d.size() < ndb::kInternalHeaderSize) {
    Add(Severity::kError, "block", name + " is shorter than its header");
    b.readable = false;
    return;
  }
  b.btype = d[0];
  b.level = d[1];
  std::size_t n = base::Get16(d.data() + 2);
  std::size_t entry = b.btype == ndb::kBlockTypeData ? 8 : (b.level == 0 ? 24 : 16);
  if ((b.btype != ndb::kBlockTypeData && b.btype != ndb::kBlockTypeSubnode) ||
      (b.btype == ndb::kBlockTypeData && (b.level < 1 || b.level > 2)) ||
      (b.btype == ndb::kBlockTypeSubnode && b.level > 1)) {
    Add(Severity::kError, "block",
        name + " has btype " + std::to_string(b.btype) + " level " + std::to_string(b.level));
    b.readable = false;
    return;
  }
  if (n == 0 || ndb::kInternalHeaderSize + n * entry != d.size()) {
    Add(Severity::kError, "block",
        name + " has cEnt " + std::to_string(n) + " that does not fit its " +
            std::to_string(d.size()) + " bytes");
    b.readable = false;
    return;
  }
  if (b.btype == ndb::kBlockTypeData) {
    b.total = base::Get32(d.data() + 4);
    for (std::size_t i = 0; i < n; ++i) Reference(base::Get64(d.data() + 8 + 8 * i), name);
    return;
  }
  std::uint64_t previous = 0;
  bool ordered = true;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t* e = d.data() + 8 + entry * i;
    if (i > 0 && base::Get64(e) <= previous) ordered = false;
    previous = base::Get64(e);
    if (b.level == 0) {
      if (base::Get64(e + 8) != 0) Reference(base::Get64(e + 8), name);
      if (base::Get64(e + 16) != 0) Reference(base::Get64(e + 16), name);
    } else {
      Reference(base::Get64(e + 8), name);
    }
  }
  if (!ordered) {
    // Outlook's own sample1.pst has such a list; readers search it linearly.
    Add(Severity::kNote, "subnode", name + " lists its NIDs out of ascending order");
  }
}

void NdbChecker::Reference(std::uint64_t bid, const std::string& from) {
  auto it = blocks_.find(ndb::BidKey(bid));
  if (it == blocks_.end()) {
    Add(Severity::kError, "refcount", from + " refers to block " + base::Hex(bid) + " not in the BBT");
    return;
  }
  ++it->second.refs;
}

void NdbChecker::CheckReferences() {
  for (const auto& [nid, n] : nodes_) {
    const std::string name = "node " + base::Hex(nid);
    if (n.data != 0) {
      Reference(n.data, name);
      auto it = blocks_.find(ndb::BidKey(n.data));
      if (it != blocks_.end() && it->second.readable && ndb::IsInternal(n.data) &&
          it->second.btype != ndb::kBlockTypeData) {
        Add(Severity::kError, "nbt", name + " has a subnode block " + base::Hex(n.data) + " as data");
      }
    }
    if (n.subnodes != 0) {
      Reference(n.subnodes, name);
      auto it = blocks_.find(ndb::BidKey(n.subnodes));
      if (it != blocks_.end() && (!ndb::IsInternal(n.subnodes) ||
                                  (it->second.readable && it->second.btype != ndb::kBlockTypeSubnode))) {
        Add(Severity::kError, "nbt", name + " has " + base::Hex(n.subnodes) + " as subnode tree");
      }
    }
  }
  for (const auto& [bid, b] : blocks_) {
    if (b.refs == 0) {
      Add(Severity::kError, "refcount", "block " + base::Hex(bid) + " is referenced by nothing");
    } else if (b.cref != b.refs + 1) {
      Add(Severity::kError, "refcount",
          "block " + base::Hex(bid) + " has cRef " + std::to_string(b.cref) + ", expected " +
              std::to_string(b.refs + 1) + " (the BBT's own and " + std::to_string(b.refs) +
              " references)");
    }
    if (!ndb::IsInternal(bid) || !b.readable) continue;
    // Children must be of the right kind, and data tree totals must add up.
    std::vector<std::uint8_t> d = Read(b.ib, b.cb);
    std::size_t n = base::Get16(d.data() + 2);
    std::uint64_t sum = 0;
    bool complete = true;  // a missing child is reported already; no total then
    for (std::size_t i = 0; b.btype == ndb::kBlockTypeData && i < n; ++i) {
      std::uint64_t child = base::Get64(d.data() + 8 + 8 * i);
      auto it = blocks_.find(ndb::BidKey(child));
      if (it == blocks_.end() || !it->second.readable) {
        complete = false;
        continue;
      }
      bool want_internal = b.level == 2;
      if (ndb::IsInternal(child) != want_internal ||
          (want_internal && (it->second.btype != ndb::kBlockTypeData || it->second.level != 1))) {
        Add(Severity::kError, "block",
            "data tree " + base::Hex(bid) + " level " + std::to_string(b.level) +
                " has the wrong kind of child " + base::Hex(child));
      }
      sum += want_internal ? it->second.total : it->second.cb;
    }
    for (std::size_t i = 0; b.btype == ndb::kBlockTypeSubnode && b.level == 1 && i < n; ++i) {
      std::uint64_t child = base::Get64(d.data() + 16 + 16 * i);
      auto it = blocks_.find(ndb::BidKey(child));
      if (it != blocks_.end() && it->second.readable &&
          (it->second.btype != ndb::kBlockTypeSubnode || it->second.level != 0)) {
        Add(Severity::kError, "block",
            "SIBLOCK " + base::Hex(bid) + " has child " + base::Hex(child) + " that is not an SLBLOCK");
      }
    }
    if (b.btype == ndb::kBlockTypeData && complete && sum != b.total) {
      Add(Severity::kError, "block",
          "data tree " + base::Hex(bid) + " says lcbTotal " + std::to_string(b.total) +
              " but its children hold " + std::to_string(sum) + " bytes");
    }
  }
}

}  // namespace mailvane::pst::check
