#include "pst/ndb/node_database.h"

#include <algorithm>
#include <array>

#include "pst/ndb/btree_page.h"
#include "pst/ndb/format_error.h"
#include "pst/ndb/page.h"
#include "pst/ndb/pst_node_database.h"

namespace mailvane::pst {

std::unique_ptr<NodeDatabase> NodeDatabase::Create(const std::filesystem::path& path,
                                                   CryptMethod crypt) {
  return Create(CreatePosixFile(path), crypt);
}

std::unique_ptr<NodeDatabase> NodeDatabase::Create(std::unique_ptr<FileIo> file,
                                                   CryptMethod crypt) {
  return std::make_unique<ndb::PstNodeDatabase>(std::move(file), crypt);
}

std::unique_ptr<NodeDatabase> NodeDatabase::Open(const std::filesystem::path& path,
                                                 bool writable) {
  return Open(OpenPosixFile(path, writable), writable);
}

std::unique_ptr<NodeDatabase> NodeDatabase::Open(std::unique_ptr<FileIo> file, bool writable) {
  return std::make_unique<ndb::PstNodeDatabase>(std::move(file), writable);
}

}  // namespace mailvane::pst

namespace mailvane::pst::ndb {

namespace {

constexpr int kTreeNbt = 0;
constexpr int kTreeBbt = 1;
constexpr int kMaxTreeDepth = 8;

int TreeIndex(PageType type) { return type == kPageNbt ? kTreeNbt : kTreeBbt; }

}  // namespace

PstNodeDatabase::PstNodeDatabase(std::unique_ptr<FileIo> file, CryptMethod crypt)
    : file_(std::move(file)), writer_(*file_), crypt_(crypt) {
  header_.rgnid = InitialNidCounters();
  header_.crypt = static_cast<std::uint8_t>(crypt);
  header_.bid_next_b = 4;  // the first block is BID 4, as in Outlook's files
  header_.bid_next_p = 1;
  amap_ = std::make_unique<AllocationMap>(1);
  Commit();
}

PstNodeDatabase::PstNodeDatabase(std::unique_ptr<FileIo> file, bool writable)
    : file_(std::move(file)), writer_(*file_), writable_(writable) {
  std::array<std::uint8_t, kHeaderSize> bytes{};
  std::uint64_t size = file_->Size();
  if (size < kHeaderSize) throw FormatError("the file is too short to be a PST file");
  file_->ReadAt(0, bytes);
  header_ = ParseHeader(bytes);
  crypt_ = static_cast<CryptMethod>(header_.crypt);
  if (header_.file_eof > size) {
    throw FormatError("the PST file is truncated: the header says " +
                      std::to_string(header_.file_eof) + " bytes, the file has " +
                      std::to_string(size));
  }
  LoadTree(header_.nbt, kPageNbt);
  LoadTree(header_.bbt, kPageBbt);
  nbt_dirty_ = bbt_dirty_ = false;
  if (writable_) RebuildAllocation();
}

void PstNodeDatabase::RequireOpen() const {
  if (closed_) throw FormatError("the PST file is already closed");
}

void PstNodeDatabase::RequireWritable() const {
  RequireOpen();
  if (!writable_) throw FormatError("the PST file was opened read-only");
}

// --- loading ---

void PstNodeDatabase::LoadTree(const Bref& root, PageType type) {
  tree_pages_[TreeIndex(type)].clear();
  WalkPage(root, type, -1, 0);
}

void PstNodeDatabase::WalkPage(const Bref& ref, PageType type, int expected_level,
                               std::uint64_t low_key) {
  std::array<std::uint8_t, kPageSize> page{};
  if (ref.ib % kPageSize != 0 || ref.ib < kFirstAMapOffset ||
      ref.ib + kPageSize > header_.file_eof) {
    throw FormatError("B-tree page " + HexId(ref.bid) + " lies outside the file at " +
                      HexId(ref.ib));
  }
  file_->ReadAt(ref.ib, page);
  if (std::string p = PageProblem(page, type, ref.ib, ref.bid); !p.empty()) {
    throw FormatError(p);
  }
  BtPageInfo info = GetBtPageInfo(page);
  if (std::string p = BtPageInfoProblem(info, type, ref.ib); !p.empty()) throw FormatError(p);
  if (info.level >= kMaxTreeDepth || (expected_level >= 0 && info.level != expected_level)) {
    throw FormatError("B-tree page at " + HexId(ref.ib) + " has the wrong level " +
                      std::to_string(info.level));
  }
  tree_pages_[TreeIndex(type)].push_back(ref.ib);
  std::uint64_t previous = low_key;
  for (std::size_t i = 0; i < info.count; ++i) {
    const std::uint8_t* e = page.data() + i * info.entry_size;
    std::uint64_t key = Get64(e);
    if ((i > 0 && key <= previous) || key < low_key) {
      throw FormatError("B-tree keys out of order in the page at " + HexId(ref.ib));
    }
    previous = key;
    if (info.level > 0) {
      WalkPage({Get64(e + 8), Get64(e + 16)}, type, info.level - 1, key);
    } else if (type == kPageNbt) {
      NodeEntry n{static_cast<Nid>(key), Get64(e + 8), Get64(e + 16), Get32(e + 24)};
      nodes_[n.nid] = n;
    } else {
      blocks_[BidKey(key)] = BlockInfo{Get64(e + 8), Get16(e + 16), Get16(e + 18)};
    }
  }
}

void PstNodeDatabase::RebuildAllocation() {
  // What the header reaches is all that is in use; AMap bits an interrupted commit left
  // behind are dropped here.
  std::uint64_t eof = std::max(header_.file_eof, AMapOffset(1));
  amap_ = std::make_unique<AllocationMap>((eof - kFirstAMapOffset + kAMapInterval - 1) /
                                          kAMapInterval);
  for (const auto& pages : tree_pages_) {
    for (std::uint64_t ib : pages) {
      if (!amap_->Mark(ib, kPageSize)) {
        throw FormatError("B-tree page at " + HexId(ib) + " overlaps other data");
      }
    }
  }
  for (const auto& [bid, info] : blocks_) {
    if (!amap_->Mark(info.ib, BlockSizeOnDisk(info.cb))) {
      throw FormatError("block " + HexId(bid) + " at " + HexId(info.ib) +
                        " overlaps other data or lies outside the file");
    }
  }
  intervals_on_disk_ = (header_.file_eof - kFirstAMapOffset) / kAMapInterval;
}

// --- nodes ---

std::optional<NodeEntry> PstNodeDatabase::FindNode(Nid nid) {
  RequireOpen();
  auto it = nodes_.find(nid);
  if (it == nodes_.end()) return std::nullopt;
  return it->second;
}

void PstNodeDatabase::PutNode(const NodeEntry& entry) {
  RequireWritable();
  if (NidTypeOf(entry.nid) == NidType::kHid) {
    throw FormatError("NID " + HexId(entry.nid) + " is a heap id, not a node");
  }
  for (Bid b : {entry.data, entry.subnodes}) {
    if (b != 0 && FindBlock(b) == nullptr) {
      throw FormatError("node " + HexId(entry.nid) + " refers to block " + HexId(b) +
                        " that does not exist");
    }
  }
  auto [it, inserted] = nodes_.try_emplace(entry.nid, entry);
  if (!inserted) {
    NodeEntry old = it->second;
    it->second = entry;
    if (old.data != 0 && old.data != entry.data) Release(old.data);
    if (old.subnodes != 0 && old.subnodes != entry.subnodes) Release(old.subnodes);
  }
  nbt_dirty_ = true;
}

void PstNodeDatabase::DeleteNode(Nid nid) {
  RequireWritable();
  auto it = nodes_.find(nid);
  if (it == nodes_.end()) throw FormatError("node " + HexId(nid) + " does not exist");
  NodeEntry old = it->second;
  nodes_.erase(it);
  nbt_dirty_ = true;
  if (old.data != 0) Release(old.data);
  if (old.subnodes != 0) Release(old.subnodes);
}

Nid PstNodeDatabase::AllocateNid(NidType type) {
  RequireWritable();
  auto t = static_cast<std::size_t>(type);
  if (header_.rgnid[t] >= (1u << 27) - 1) {
    throw FormatError("no NIDs of type " + HexId(t) + " are left in this file");
  }
  return MakeNid(type, ++header_.rgnid[t]);
}

void PstNodeDatabase::ForEachNode(const std::function<void(const NodeEntry&)>& visit) {
  RequireOpen();
  for (const auto& [nid, entry] : nodes_) visit(entry);
}

// --- commit ---

std::pair<std::uint64_t, Bid> PstNodeDatabase::NewPage() {
  std::uint64_t ib = amap_->Allocate(kPageSize, kPageSize);
  return {ib, header_.bid_next_p++};
}

Bref PstNodeDatabase::WriteTree(PageType type) {
  auto& pages = tree_pages_[TreeIndex(type)];
  for (std::uint64_t ib : pages) freed_.emplace_back(ib, kPageSize);
  pages.clear();

  std::vector<std::pair<std::uint64_t, Bref>> level_refs;  // (first key, page) of one level
  std::array<std::uint8_t, kPageSize> page{};
  std::size_t count = 0;
  std::uint64_t first_key = 0;
  std::uint8_t level = 0;
  auto emit = [&]() {
    SetBtPageInfo(page, type, level, count);
    auto [ib, bid] = NewPage();
    SealPage(page, type, ib, bid);
    writer_.Write(ib, page);
    pages.push_back(ib);
    level_refs.emplace_back(first_key, Bref{bid, ib});
    page.fill(0);
    count = 0;
  };
  auto add = [&](std::uint64_t key, const std::uint8_t* entry, std::size_t size) {
    if (count == 0) first_key = key;
    std::copy(entry, entry + size, page.data() + count * size);
    if (++count == BtCapacity(type, level)) emit();
  };

  std::uint8_t e[kNbtEntrySize] = {};
  if (type == kPageNbt) {
    for (const auto& [nid, n] : nodes_) {
      Put64(e, nid);
      Put64(e + 8, n.data);
      Put64(e + 16, n.subnodes);
      Put32(e + 24, n.parent);
      Put32(e + 28, 0);
      add(nid, e, kNbtEntrySize);
    }
  } else {
    for (const auto& [bid, b] : blocks_) {
      Put64(e, bid);
      Put64(e + 8, b.ib);
      Put16(e + 16, b.cb);
      Put16(e + 18, b.cref);
      Put32(e + 20, 0);
      add(bid, e, kBtEntrySize);
    }
  }
  if (count > 0 || level_refs.empty()) emit();

  while (level_refs.size() > 1) {
    std::vector<std::pair<std::uint64_t, Bref>> children;
    children.swap(level_refs);
    ++level;
    for (const auto& [key, ref] : children) {
      Put64(e, key);
      Put64(e + 8, ref.bid);
      Put64(e + 16, ref.ib);
      add(key, e, kBtEntrySize);
    }
    if (count > 0) emit();
  }
  return level_refs.front().second;
}

void PstNodeDatabase::Commit() {
  RequireWritable();
  writer_.Flush();
  if (nbt_dirty_) header_.nbt = WriteTree(kPageNbt);
  if (bbt_dirty_) header_.bbt = WriteTree(kPageBbt);
  WriteMaps();
  writer_.Flush();
  std::uint64_t end = amap_->FileEnd();
  if (file_->Size() != end) file_->Truncate(end);
  file_->Flush();

  header_.file_eof = end;
  header_.amap_last = AMapOffset(amap_->intervals() - 1);
  header_.amap_free = amap_->FreeBytes();
  header_.amap_valid = 2;
  ++header_.unique;
  auto bytes = SerializeHeader(header_);
  file_->WriteAt(0, bytes);
  file_->Flush();
  nbt_dirty_ = bbt_dirty_ = false;

  // The new header no longer reaches what was freed before it: that space is reusable now.
  for (const auto& [ib, size] : freed_) amap_->Free(ib, size);
  freed_.clear();
}

void PstNodeDatabase::Close() {
  RequireOpen();
  if (writable_) {
    Commit();
    // A second commit writes the AMaps with the space the first one released, so that a
    // closed file holds no unreferenced allocations.
    Commit();
  }
  closed_ = true;
}

}  // namespace mailvane::pst::ndb
