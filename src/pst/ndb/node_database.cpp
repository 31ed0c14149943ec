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
  nbt_.Committed();
  bbt_.Committed();
  crypt_ = static_cast<CryptMethod>(header_.crypt);
  if (header_.file_eof > size) {
    throw FormatError("the PST file is truncated: the header says " +
                      std::to_string(header_.file_eof) + " bytes, the file has " +
                      std::to_string(size));
  }
  LoadTrees();
}

PagedBtree::Io PstNodeDatabase::TreeIo() {
  PagedBtree::Io io;
  io.read = [this](std::uint64_t ib, std::span<std::uint8_t> page) {
    FlushBeforeRead(ib, page.size());  // the page may still sit in the write buffer
    file_->ReadAt(ib, page);
  };
  io.new_page = [this]() -> std::pair<std::uint64_t, Bid> {
    return {amap_->Allocate(kPageSize, kPageSize), header_.bid_next_p++};
  };
  io.free_page = [this](std::uint64_t ib) { freed_.emplace_back(ib, kPageSize); };
  io.write = [this](std::uint64_t ib, std::span<const std::uint8_t> page) { writer_.Write(ib, page); };
  return io;
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

void PstNodeDatabase::FlushBeforeRead(std::uint64_t ib, std::size_t size) {
  if (!writer_.Overlaps(ib, size)) return;
  try {
    writer_.Flush();
  } catch (...) {
    MarkBroken();
    throw;
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

// Every page of both trees is checked. A writable file also gets its allocation state
// rebuilt: what the header reaches is all that is in use; AMap bits an interrupted commit
// left behind are dropped here.
void PstNodeDatabase::LoadTrees() {
  std::function<void(std::uint64_t)> on_page = [](std::uint64_t) {};
  if (writable_) {
    const std::uint64_t eof = std::max(header_.file_eof, AMapOffset(1));
    amap_ = std::make_unique<AllocationMap>((eof - kFirstAMapOffset + kAMapInterval - 1) / kAMapInterval);
    on_page = [this](std::uint64_t ib) {
      if (!amap_->Mark(ib, kPageSize)) {
        throw FormatError("B-tree page at " + base::Hex(ib) + " overlaps other data");
      }
    };
  }
  nbt_.Load(header_.nbt, header_.file_eof, on_page, [](std::span<const std::uint8_t>) {});
  bbt_.Load(header_.bbt, header_.file_eof, on_page, [](std::span<const std::uint8_t>) {});
  if (!writable_) return;
  // Blocks after pages, so that a block over a page is named as the block.
  bbt_.ForEach([&](const BtRecord& e) {
    const std::uint64_t ib = base::Get64(e.data() + 8);
    if (!amap_->Mark(ib, BlockSizeOnDisk(base::Get16(e.data() + 16)))) {
      throw FormatError("block " + base::Hex(base::Get64(e.data())) + " at " + base::Hex(ib) +
                        " overlaps other data or lies outside the file");
    }
  });
  intervals_on_disk_ = (header_.file_eof - kFirstAMapOffset) / kAMapInterval;
}

// --- nodes ---

namespace {

BtRecord NodeRecord(const NodeEntry& n) {
  BtRecord r{};
  base::Put64(r.data(), n.nid);
  base::Put64(r.data() + 8, n.data);
  base::Put64(r.data() + 16, n.subnodes);
  base::Put32(r.data() + 24, n.parent);
  return r;
}

NodeEntry NodeOf(const BtRecord& r) {
  return {static_cast<Nid>(base::Get64(r.data())), base::Get64(r.data() + 8), base::Get64(r.data() + 16),
          base::Get32(r.data() + 24)};
}

}  // namespace

std::optional<NodeEntry> PstNodeDatabase::FindNode(Nid nid) {
  RequireOpen();
  BtRecord r;
  if (!nbt_.Find(nid, r)) return std::nullopt;
  return NodeOf(r);
}

void PstNodeDatabase::PutNode(const NodeEntry& entry) {
  RequireWritable();
  if (NidTypeOf(entry.nid) == NidType::kHid) {
    throw FormatError("NID " + base::Hex(entry.nid) + " is a heap id, not a node");
  }
  for (Bid b : {entry.data, entry.subnodes}) {
    if (b != 0 && !FindBlock(b)) {
      throw FormatError("node " + base::Hex(entry.nid) + " refers to block " + base::Hex(b) +
                        " that does not exist");
    }
  }
  // A NID chosen by the caller must never be handed out again by AllocateNid.
  std::uint32_t& counter = header_.rgnid[static_cast<std::size_t>(NidTypeOf(entry.nid))];
  counter = std::max(counter, NidIndexOf(entry.nid));
  const std::optional<NodeEntry> old = FindNode(entry.nid);
  ChangeTree([&] { nbt_.Put(NodeRecord(entry)); });
  if (!old) return;
  if (old->data != 0 && old->data != entry.data) Release(old->data);
  if (old->subnodes != 0 && old->subnodes != entry.subnodes) Release(old->subnodes);
}

void PstNodeDatabase::DeleteNode(Nid nid) {
  RequireWritable();
  const std::optional<NodeEntry> old = FindNode(nid);
  if (!old) throw FormatError("node " + base::Hex(nid) + " does not exist");
  ChangeTree([&] { nbt_.Erase(nid); });
  if (old->data != 0) Release(old->data);
  if (old->subnodes != 0) Release(old->subnodes);
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
  nbt_.ForEach([&](const BtRecord& r) { visit(NodeOf(r)); });
}

// --- commit ---

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
  ApplyRefChanges();
  writer_.Flush();
  if (nbt_.dirty()) header_.nbt = nbt_.Commit();
  if (bbt_.dirty()) header_.bbt = bbt_.Commit();
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
  nbt_.Committed();
  bbt_.Committed();
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
