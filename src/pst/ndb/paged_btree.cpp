#include "pst/ndb/paged_btree.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/hex.h"
#include "base/little_endian.h"
#include "pst/ndb/btree_page.h"
#include "pst/ndb/format_error.h"
#include "pst/ndb/page.h"

namespace mailvane::pst::ndb {

namespace {

constexpr int kMaxTreeDepth = 8;

std::uint64_t KeyAt(const std::uint8_t* entries, std::size_t entry_size, std::size_t i) {
  return base::Get64(entries + i * entry_size);
}

}  // namespace

struct PagedBtree::Node {
  std::uint8_t level = 0;
  std::size_t count = 0;
  // Room for one entry more than a page holds: a page splits after the insert that fills it.
  std::array<std::uint8_t, kBtEntriesSize + kNbtEntrySize> entries{};
  // Level > 0: the children in memory (changed since the last commit), else null.
  std::vector<std::unique_ptr<Node>> children;
  std::uint64_t disk_ib = 0;  // the committed page this node replaces; 0 for none
};

PagedBtree::PagedBtree(PageType type, PageCache& cache, Io io)
    : type_(type), cache_(cache), io_(std::move(io)), root_(std::make_unique<Node>()) {}

PagedBtree::~PagedBtree() = default;

std::size_t PagedBtree::EntrySize(std::uint8_t level) const { return BtEntrySize(type_, level); }
std::size_t PagedBtree::Capacity(std::uint8_t level) const { return BtCapacity(type_, level); }

namespace {

// The first entry whose key is not below key.
std::size_t LowerBound(const std::uint8_t* entries, std::size_t count, std::size_t size,
                       std::uint64_t key) {
  std::size_t lo = 0, hi = count;
  while (lo < hi) {
    const std::size_t mid = (lo + hi) / 2;
    if (KeyAt(entries, size, mid) < key) lo = mid + 1; else hi = mid;
  }
  return lo;
}

// The child whose range holds key: the last one whose key is not above it, else the first.
std::size_t ChildIndex(const std::uint8_t* entries, std::size_t count, std::uint64_t key) {
  const std::size_t i = LowerBound(entries, count, kBtEntrySize, key);
  if (i < count && KeyAt(entries, kBtEntrySize, i) == key) return i;
  return i == 0 ? 0 : i - 1;
}

}  // namespace

// --- reading ---

PagedBtree::View PagedBtree::Read(std::uint64_t ib, Bid bid, int expected_level, PageBytes& buffer) {
  if (const PageBytes* cached = cache_.Find(ib)) {
    buffer = *cached;
  } else {
    io_.read(ib, buffer);
    if (std::string p = PageProblem(buffer, type_, ib, bid); !p.empty()) throw FormatError(p);
    if (std::string p = BtPageInfoProblem(GetBtPageInfo(buffer), type_, ib); !p.empty()) {
      throw FormatError(p);
    }
    cache_.Put(ib, buffer);
  }
  const BtPageInfo info = GetBtPageInfo(buffer);
  if (info.level >= kMaxTreeDepth || (expected_level >= 0 && info.level != expected_level)) {
    throw FormatError("B-tree page at " + base::Hex(ib) + " has the wrong level " +
                      std::to_string(info.level));
  }
  return {buffer.data(), info.count, info.level, nullptr};
}

PagedBtree::View PagedBtree::ViewOf(Node& node) const {
  return {node.entries.data(), node.count, node.level, &node};
}

PagedBtree::View PagedBtree::Child(const View& parent, std::size_t i, PageBytes& buffer) {
  if (parent.node != nullptr && parent.node->children[i]) return ViewOf(*parent.node->children[i]);
  const std::uint8_t* e = parent.entries + i * kBtEntrySize;
  const Bid bid = base::Get64(e + 8);
  const std::uint64_t ib = base::Get64(e + 16);
  return Read(ib, bid, parent.level - 1, buffer);
}

bool PagedBtree::Find(std::uint64_t key, BtRecord& out) {
  PageBytes buffer;
  View v = root_ ? ViewOf(*root_) : Read(root_ref_.ib, root_ref_.bid, -1, buffer);
  while (v.level > 0) {
    if (v.count == 0) return false;
    v = Child(v, ChildIndex(v.entries, v.count, key), buffer);
  }
  const std::size_t size = EntrySize(0);
  const std::size_t i = LowerBound(v.entries, v.count, size, key);
  if (i == v.count || KeyAt(v.entries, size, i) != key) return false;
  out = {};
  std::memcpy(out.data(), v.entries + i * size, size);
  return true;
}

bool PagedBtree::CollectFrom(const View& view, std::uint64_t key, std::vector<BtRecord>& out) {
  if (view.level == 0) {
    const std::size_t size = EntrySize(0);
    for (std::size_t i = LowerBound(view.entries, view.count, size, key); i < view.count; ++i) {
      BtRecord r{};
      std::memcpy(r.data(), view.entries + i * size, size);
      out.push_back(r);
    }
    return !out.empty();
  }
  for (std::size_t i = ChildIndex(view.entries, view.count, key); i < view.count; ++i) {
    PageBytes buffer;
    if (CollectFrom(Child(view, i, buffer), key, out)) return true;
  }
  return false;
}

void PagedBtree::ForEach(const std::function<void(const BtRecord& entry)>& visit) {
  std::vector<BtRecord> batch;
  std::uint64_t from = 0;
  while (true) {
    batch.clear();
    PageBytes buffer;
    const View root = root_ ? ViewOf(*root_) : Read(root_ref_.ib, root_ref_.bid, -1, buffer);
    if (!CollectFrom(root, from, batch)) return;
    for (const BtRecord& r : batch) visit(r);
    const std::uint64_t last = base::Get64(batch.back().data());
    if (last == UINT64_MAX) return;
    from = last + 1;
  }
}

// --- changing ---

std::unique_ptr<PagedBtree::Node> PagedBtree::LoadNode(std::uint64_t ib, Bid bid, int expected_level) {
  PageBytes buffer;
  const View v = Read(ib, bid, expected_level, buffer);
  auto node = std::make_unique<Node>();
  node->level = v.level;
  node->count = v.count;
  std::memcpy(node->entries.data(), v.entries, v.count * EntrySize(v.level));
  if (v.level > 0) node->children.resize(v.count);
  node->disk_ib = ib;
  cache_.Forget(ib);  // the node in memory stands for it until the commit frees it
  return node;
}

PagedBtree::Node& PagedBtree::Root() {
  if (!root_) root_ = LoadNode(root_ref_.ib, root_ref_.bid, -1);
  return *root_;
}

PagedBtree::Node& PagedBtree::LoadedChild(Node& parent, std::size_t i) {
  if (!parent.children[i]) {
    const std::uint8_t* e = parent.entries.data() + i * kBtEntrySize;
    parent.children[i] = LoadNode(base::Get64(e + 16), base::Get64(e + 8), parent.level - 1);
  }
  return *parent.children[i];
}

void PagedBtree::Put(const BtRecord& entry) {
  Node& root = Root();
  bool added = false;
  std::unique_ptr<Node> right = InsertInto(root, entry, true, added);
  if (added) ++size_;
  if (!right) return;
  auto top = std::make_unique<Node>();
  top->level = static_cast<std::uint8_t>(root.level + 1);
  top->count = 2;
  base::Put64(top->entries.data(), KeyAt(root.entries.data(), EntrySize(root.level), 0));
  base::Put64(top->entries.data() + kBtEntrySize, KeyAt(right->entries.data(), EntrySize(right->level), 0));
  top->children.push_back(std::move(root_));
  top->children.push_back(std::move(right));
  root_ = std::move(top);
}

// Adds or replaces the entry below node; gives the new right sibling when node split.
std::unique_ptr<PagedBtree::Node> PagedBtree::InsertInto(Node& node, const BtRecord& entry, bool last,
                                                         bool& added) {
  const std::uint64_t key = base::Get64(entry.data());
  const std::size_t size = EntrySize(node.level);
  std::uint8_t* e = node.entries.data();
  if (node.level == 0) {
    const std::size_t i = LowerBound(e, node.count, size, key);
    if (i < node.count && KeyAt(e, size, i) == key) {
      std::memcpy(e + i * size, entry.data(), size);
      return nullptr;
    }
    std::memmove(e + (i + 1) * size, e + i * size, (node.count - i) * size);
    std::memcpy(e + i * size, entry.data(), size);
    ++node.count;
    added = true;
  } else {
    const std::size_t i = ChildIndex(e, node.count, key);
    Node& child = LoadedChild(node, i);
    std::unique_ptr<Node> right = InsertInto(child, entry, last && i + 1 == node.count, added);
    base::Put64(e + i * size, KeyAt(child.entries.data(), EntrySize(child.level), 0));
    if (!right) return nullptr;
    std::memmove(e + (i + 2) * size, e + (i + 1) * size, (node.count - i - 1) * size);
    std::memset(e + (i + 1) * size, 0, size);  // BID and place are known at the commit
    base::Put64(e + (i + 1) * size, KeyAt(right->entries.data(), EntrySize(right->level), 0));
    node.children.insert(node.children.begin() + static_cast<std::ptrdiff_t>(i) + 1, std::move(right));
    ++node.count;
  }
  if (node.count <= Capacity(node.level)) return nullptr;
  // Keys mostly arrive in ascending order (new BIDs and NIDs): the last page of a level
  // splits so that the old one stays full; any other page splits in half.
  const std::size_t keep = last ? Capacity(node.level) : node.count / 2;
  auto right = std::make_unique<Node>();
  right->level = node.level;
  right->count = node.count - keep;
  std::memcpy(right->entries.data(), e + keep * size, right->count * size);
  if (node.level > 0) {
    right->children.assign(std::make_move_iterator(node.children.begin() + static_cast<std::ptrdiff_t>(keep)),
                           std::make_move_iterator(node.children.end()));
    node.children.resize(keep);
  }
  node.count = keep;
  return right;
}

bool PagedBtree::Erase(std::uint64_t key) {
  BtRecord found;
  if (!Find(key, found)) return false;
  EraseFrom(Root(), key);
  --size_;
  // A root with one child is not needed; one left with none becomes an empty leaf.
  while (root_->level > 0 && root_->count <= 1) {
    std::unique_ptr<Node> next = std::make_unique<Node>();
    if (root_->count == 1) {
      LoadedChild(*root_, 0);
      next = std::move(root_->children[0]);
    }
    Drop(*root_);
    root_ = std::move(next);
  }
  return true;
}

// Takes key out of the tree below node; true when node is left empty.
bool PagedBtree::EraseFrom(Node& node, std::uint64_t key) {
  const std::size_t size = EntrySize(node.level);
  std::uint8_t* e = node.entries.data();
  if (node.level == 0) {
    const std::size_t i = LowerBound(e, node.count, size, key);
    if (i == node.count || KeyAt(e, size, i) != key) throw FormatError("B-tree bookkeeping lost an entry");
    std::memmove(e + i * size, e + (i + 1) * size, (node.count - i - 1) * size);
    --node.count;
    return node.count == 0;
  }
  const std::size_t i = ChildIndex(e, node.count, key);
  Node& child = LoadedChild(node, i);
  if (EraseFrom(child, key)) {
    Drop(child);
    std::memmove(e + i * size, e + (i + 1) * size, (node.count - i - 1) * size);
    node.children.erase(node.children.begin() + static_cast<std::ptrdiff_t>(i));
    --node.count;
  } else {
    base::Put64(e + i * size, KeyAt(child.entries.data(), EntrySize(child.level), 0));
  }
  return node.count == 0;
}

void PagedBtree::Drop(const Node& node) {
  if (node.disk_ib != 0) dropped_.push_back(node.disk_ib);
}

// --- committing ---

Bref PagedBtree::Write(Node& node) {
  const std::size_t size = EntrySize(node.level);
  for (std::size_t i = 0; i < node.children.size(); ++i) {
    if (!node.children[i]) continue;
    Node& child = *node.children[i];
    if (child.count == 0) throw FormatError("B-tree bookkeeping kept an empty page");
    const Bref ref = Write(child);
    std::uint8_t* e = node.entries.data() + i * size;
    base::Put64(e, KeyAt(child.entries.data(), EntrySize(child.level), 0));
    base::Put64(e + 8, ref.bid);
    base::Put64(e + 16, ref.ib);
  }
  PageBytes page{};
  std::memcpy(page.data(), node.entries.data(), node.count * size);
  SetBtPageInfo(page, type_, node.level, node.count);
  if (node.disk_ib != 0) io_.free_page(node.disk_ib);
  const auto [ib, bid] = io_.new_page();
  SealPage(page, type_, ib, bid);
  io_.write(ib, page);
  cache_.Put(ib, page);
  node.disk_ib = ib;
  return {bid, ib};
}

Bref PagedBtree::Commit() {
  written_root_ = root_ ? Write(*root_) : root_ref_;
  for (std::uint64_t ib : dropped_) io_.free_page(ib);
  dropped_.clear();
  return written_root_;
}

void PagedBtree::Committed() {
  if (!root_) return;
  root_ref_ = written_root_;
  root_.reset();
}

// --- loading ---

void PagedBtree::Load(const Bref& root, std::uint64_t file_eof,
                      const std::function<void(std::uint64_t ib)>& on_page,
                      const std::function<void(std::span<const std::uint8_t> entry)>& on_entry) {
  root_.reset();
  dropped_.clear();
  size_ = 0;
  root_ref_ = root;
  WalkPage(root, -1, 0, file_eof, on_page, on_entry);
}

void PagedBtree::WalkPage(const Bref& ref, int expected_level, std::uint64_t low_key, std::uint64_t file_eof,
                          const std::function<void(std::uint64_t ib)>& on_page,
                          const std::function<void(std::span<const std::uint8_t> entry)>& on_entry) {
  if (ref.ib % kPageSize != 0 || ref.ib < kFirstAMapOffset || ref.ib + kPageSize > file_eof) {
    throw FormatError("B-tree page " + base::Hex(ref.bid) + " lies outside the file at " + base::Hex(ref.ib));
  }
  PageBytes page{};
  io_.read(ref.ib, page);
  if (std::string p = PageProblem(page, type_, ref.ib, ref.bid); !p.empty()) throw FormatError(p);
  const BtPageInfo info = GetBtPageInfo(page);
  if (std::string p = BtPageInfoProblem(info, type_, ref.ib); !p.empty()) throw FormatError(p);
  if (info.level >= kMaxTreeDepth || (expected_level >= 0 && info.level != expected_level)) {
    throw FormatError("B-tree page at " + base::Hex(ref.ib) + " has the wrong level " +
                      std::to_string(info.level));
  }
  on_page(ref.ib);
  std::uint64_t previous = low_key;
  for (std::size_t i = 0; i < info.count; ++i) {
    const std::uint8_t* e = page.data() + i * info.entry_size;
    const std::uint64_t key = base::Get64(e);
    if ((i > 0 && key <= previous) || key < low_key) {
      throw FormatError("B-tree keys out of order in the page at " + base::Hex(ref.ib));
    }
    previous = key;
    if (info.level > 0) {
      WalkPage({base::Get64(e + 8), base::Get64(e + 16)}, info.level - 1, key, file_eof, on_page, on_entry);
    } else {
      on_entry({e, info.entry_size});
      ++size_;
    }
  }
}

}  // namespace mailvane::pst::ndb
