#include "pst/ndb/node_database.h"

#include <algorithm>
#include <array>

#include "base/hex.h"
#include "base/little_endian.h"
#include "pst/ndb/btree_page.h"
#include "pst/ndb/format_error.h"
#include "pst/ndb/page.h"
#include "pst/ndb/pst_node_database.h"

namespace mailvane::pst::ndb {

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

}  // namespace mailvane::pst::ndb

namespace mailvane::pst::ndb {

namespace {

constexpr int kMaxTreeDepth = 8;

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
  committed_header_ = header_;
  committed_ = true;
  crypt_ = static_cast<CryptMethod>(header_.crypt);
  if (header_.file_eof > size) {
    throw FormatError("the PST file is truncated: the header says " +
                      std::to_string(header_.file_eof) + " bytes, the file has " +
                      std::to_string(size));
  }
  WalkPage(header_.nbt, kPageNbt, -1, 0, 0);
  WalkPage(header_.bbt, kPageBbt, -1, 0, 0);
  if (writable_) RebuildAllocation();
}

void PstNodeDatabase::RequireOpen() const {
  if (closed_) throw FormatError("the PST file is already closed");
}

void PstNodeDatabase::RequireWritable() const {
  RequireOpen();
  if (!writable_) throw FormatError("the PST file was opened read-only");
  if (broken_) {
    throw FormatError("an earlier write to the PST file failed (" + broken_reason_ +
                      "); it holds its last commit only");
  }
}

void PstNodeDatabase::MarkBroken() {
  const bool first = !broken_;
  broken_ = true;
  if (!first) return;
  try {
    throw;
  } catch (const std::exception& e) {
    broken_reason_ = e.what();
  } catch (...) {
    broken_reason_ = "unknown error";
  }
}

// --- loading ---

// `lower` is where the page's range starts in the in-memory layout: 0 along the left edge.
void PstNodeDatabase::WalkPage(const Bref& ref, PageType type, int expected_level,
                               std::uint64_t low_key, std::uint64_t lower) {
  std::array<std::uint8_t, kPageSize> page{};
  if (ref.ib % kPageSize != 0 || ref.ib < kFirstAMapOffset ||
      ref.ib + kPageSize > header_.file_eof) {
    throw FormatError("B-tree page " + base::Hex(ref.bid) + " lies outside the file at " +
                      base::Hex(ref.ib));
  }
  file_->ReadAt(ref.ib, page);
  if (std::string p = PageProblem(page, type, ref.ib, ref.bid); !p.empty()) {
    throw FormatError(p);
  }
  BtPageInfo info = GetBtPageInfo(page);
  if (std::string p = BtPageInfoProblem(info, type, ref.ib); !p.empty()) throw FormatError(p);
  if (info.level >= kMaxTreeDepth || (expected_level >= 0 && info.level != expected_level)) {
    throw FormatError("B-tree page at " + base::Hex(ref.ib) + " has the wrong level " +
                      std::to_string(info.level));
  }
  PageSlot slot;
  slot.ib = ref.ib;
  slot.bid = ref.bid;
  slot.count = info.count;
  slot.first_key = info.count > 0 ? BtKey(page, info, 0) : 0;
  slot.on_disk = true;
  (type == kPageNbt ? nbt_layout_ : bbt_layout_).AddLoaded(info.level, lower, slot);
  std::uint64_t previous = low_key;
  for (std::size_t i = 0; i < info.count; ++i) {
    const std::uint8_t* e = page.data() + i * info.entry_size;
    std::uint64_t key = base::Get64(e);
    if ((i > 0 && key <= previous) || key < low_key) {
      throw FormatError("B-tree keys out of order in the page at " + base::Hex(ref.ib));
    }
    previous = key;
    if (info.level > 0) {
      WalkPage({base::Get64(e + 8), base::Get64(e + 16)}, type, info.level - 1, key, i == 0 ? lower : key);
    } else if (type == kPageNbt) {
      NodeEntry n{static_cast<Nid>(key), base::Get64(e + 8), base::Get64(e + 16), base::Get32(e + 24)};
      nodes_[n.nid] = n;
    } else {
      blocks_.Put(BidKey(key), BlockInfo{base::Get64(e + 8), base::Get16(e + 16), base::Get16(e + 18)});
    }
  }
}

void PstNodeDatabase::RebuildAllocation() {
  // What the header reaches is all that is in use; AMap bits an interrupted commit left
  // behind are dropped here.
  std::uint64_t eof = std::max(header_.file_eof, AMapOffset(1));
  amap_ = std::make_unique<AllocationMap>((eof - kFirstAMapOffset + kAMapInterval - 1) /
                                          kAMapInterval);
  for (const BtreeLayout* layout : {&nbt_layout_, &bbt_layout_}) {
    for (std::uint64_t ib : layout->PageOffsets()) {
      if (!amap_->Mark(ib, kPageSize)) {
        throw FormatError("B-tree page at " + base::Hex(ib) + " overlaps other data");
      }
    }
  }
  blocks_.ForEachFrom(0, [&](const BlockIndex::Entry& e) {
    if (!amap_->Mark(e.info.ib, BlockSizeOnDisk(e.info.cb))) {
      throw FormatError("block " + base::Hex(e.bid) + " at " + base::Hex(e.info.ib) +
                        " overlaps other data or lies outside the file");
    }
    return true;
  });
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
    throw FormatError("NID " + base::Hex(entry.nid) + " is a heap id, not a node");
  }
  for (Bid b : {entry.data, entry.subnodes}) {
    if (b != 0 && FindBlock(b) == nullptr) {
      throw FormatError("node " + base::Hex(entry.nid) + " refers to block " + base::Hex(b) +
                        " that does not exist");
    }
  }
  // A NID chosen by the caller must never be handed out again by AllocateNid.
  std::uint32_t& counter = header_.rgnid[static_cast<std::size_t>(NidTypeOf(entry.nid))];
  counter = std::max(counter, NidIndexOf(entry.nid));
  auto [it, inserted] = nodes_.try_emplace(entry.nid, entry);
  if (inserted) {
    nbt_layout_.Insert(entry.nid, [this](std::uint64_t lower, std::size_t n) -> std::uint64_t {
      return std::next(nodes_.lower_bound(static_cast<Nid>(lower)),
                       static_cast<std::ptrdiff_t>(n))->first;
    });
  } else {
    nbt_layout_.Touch(entry.nid);
    NodeEntry old = it->second;
    it->second = entry;
    if (old.data != 0 && old.data != entry.data) Release(old.data);
    if (old.subnodes != 0 && old.subnodes != entry.subnodes) Release(old.subnodes);
  }
}

void PstNodeDatabase::DeleteNode(Nid nid) {
  RequireWritable();
  auto it = nodes_.find(nid);
  if (it == nodes_.end()) throw FormatError("node " + base::Hex(nid) + " does not exist");
  NodeEntry old = it->second;
  nodes_.erase(it);
  nbt_layout_.Erase(nid);
  if (old.data != 0) Release(old.data);
  if (old.subnodes != 0) Release(old.subnodes);
}

Nid PstNodeDatabase::AllocateNid(NidType type) {
  RequireWritable();
  auto t = static_cast<std::size_t>(type);
  if (header_.rgnid[t] >= (1u << 27) - 1) {
    throw FormatError("no NIDs of type " + base::Hex(t) + " are left in this file");
  }
  return MakeNid(type, ++header_.rgnid[t]);
}

void PstNodeDatabase::ForEachNode(const std::function<void(const NodeEntry&)>& visit) {
  RequireOpen();
  for (const auto& [nid, entry] : nodes_) visit(entry);
}

// --- commit ---

Bref PstNodeDatabase::WriteTree(PageType type) {
  BtreeLayout::Io io;
  io.new_page = [this]() -> std::pair<std::uint64_t, Bid> {
    return {amap_->Allocate(kPageSize, kPageSize), header_.bid_next_p++};
  };
  io.free_page = [this](std::uint64_t ib) { freed_.emplace_back(ib, kPageSize); };
  io.write = [this](std::uint64_t ib, std::span<const std::uint8_t> page) {
    writer_.Write(ib, page);
  };
  if (type == kPageNbt) {
    io.fill_leaf = [this](std::uint64_t lower, std::uint64_t upper, std::span<std::uint8_t> out,
                          std::uint64_t& first) {
      std::size_t count = 0;
      for (auto it = nodes_.lower_bound(static_cast<Nid>(lower));
           it != nodes_.end() && it->first < upper && count < kNbtMaxEntries; ++it, ++count) {
        std::uint8_t* e = out.data() + count * kNbtEntrySize;
        base::Put64(e, it->first);
        base::Put64(e + 8, it->second.data);
        base::Put64(e + 16, it->second.subnodes);
        base::Put32(e + 24, it->second.parent);
        if (count == 0) first = it->first;
      }
      return count;
    };
    return nbt_layout_.Commit(io);
  }
  io.fill_leaf = [this](std::uint64_t lower, std::uint64_t upper, std::span<std::uint8_t> out,
                        std::uint64_t& first) {
    std::size_t count = 0;
    blocks_.ForEachFrom(lower, [&](const BlockIndex::Entry& b) {
      if (b.bid >= upper || count == kBtMaxEntries) return false;
      std::uint8_t* e = out.data() + count * kBtEntrySize;
      base::Put64(e, b.bid);
      base::Put64(e + 8, b.info.ib);
      base::Put16(e + 16, b.info.cb);
      base::Put16(e + 18, b.info.cref);
      if (count == 0) first = b.bid;
      ++count;
      return true;
    });
    return count;
  };
  return bbt_layout_.Commit(io);
}

void PstNodeDatabase::Commit() {
  RequireWritable();
  try {
    CommitOnce();
  } catch (...) {
    MarkBroken();
    throw;
  }
}

void PstNodeDatabase::CommitOnce() {
  writer_.Flush();
  if (nbt_layout_.dirty()) header_.nbt = WriteTree(kPageNbt);
  if (bbt_layout_.dirty()) header_.bbt = WriteTree(kPageBbt);
  // The AMap pages are rewritten in place: until the new header is down, the one on disk
  // declares them invalid, so a crash in between leaves maps a reader knows to rebuild.
  if (committed_ && amap_->HasDirty()) {
    writer_.Flush();
    Header invalid = committed_header_;
    invalid.amap_valid = kAMapInvalid;
    file_->WriteAt(0, SerializeHeader(invalid));
    file_->Flush();
  }
  WriteMaps();
  writer_.Flush();
  std::uint64_t end = amap_->FileEnd();
  if (file_->Size() != end) file_->Truncate(end);
  file_->Flush();

  header_.file_eof = end;
  header_.amap_last = AMapOffset(amap_->intervals() - 1);
  header_.amap_free = amap_->FreeBytes();
  header_.amap_valid = kAMapValid2;
  ++header_.unique;
  auto bytes = SerializeHeader(header_);
  file_->WriteAt(0, bytes);
  file_->Flush();
  committed_header_ = header_;
  committed_ = true;
  // The density list is only advice for allocation; written after the header it never
  // names an AMap that the committed header does not have. The next commit flushes it.
  // The commit is durable already: a failure here refuses further writes, not this commit.
  try {
    WriteDList();
    writer_.Flush();
  } catch (...) {
    MarkBroken();
    return;
  }

  // The new header no longer reaches what was freed before it: that space is reusable now.
  for (const auto& [ib, size] : freed_) amap_->Free(ib, size);
  freed_.clear();
}

std::uint64_t PstNodeDatabase::SizeWith(std::uint64_t more) const {
  const std::uint64_t free = amap_->FreeBytes();
  if (more <= free) return amap_->FileEnd();
  // New intervals, less their AMap and PMap pages.
  constexpr std::uint64_t kUsable = kAMapInterval - 2 * kPageSize;
  return amap_->FileEnd() + (more - free + kUsable - 1) / kUsable * kAMapInterval;
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
  if (broken_) {
    throw FormatError("the PST file refused a write after its last commit (" + broken_reason_ +
                      "); it holds everything committed");
  }
}

}  // namespace mailvane::pst::ndb
