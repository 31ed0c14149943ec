#include "pst/ltp/heap_on_node.h"

#include <iterator>
#include <stdexcept>
#include <string>

#include "base/hex.h"
#include "base/little_endian.h"
#include "pst/ndb/format_error.h"

namespace mailvane::pst::ltp {
namespace {

constexpr std::size_t kPageMapFixed = 4;  // cAlloc, cFree

bool IsBitmapPage(std::size_t page) { return page % 128 == 8; }

}  // namespace

std::size_t HeapPageHeaderSize(std::size_t page) {
  if (page == 0) return 12;
  return IsBitmapPage(page) ? 66 : 2;
}

std::uint8_t HeapFillLevel(std::size_t free_bytes) {
  static constexpr std::size_t kFloors[] = {3584, 2560, 2048, 1792, 1536, 1280, 1024, 768,
                                            512,  256,  128,  64,   32,   16,   8};
  for (std::size_t level = 0; level < std::size(kFloors); ++level) {
    if (free_bytes >= kFloors[level]) return static_cast<std::uint8_t>(level);
  }
  return 15;
}

void HeapWriter::NewPage() {
  if (pages_.size() >= kMaxHeapPages) {
    throw std::length_error("heap-on-node would need more than 65536 pages");
  }
  Page page;
  page.content = std::make_unique<PageContent>();
  page.content->bytes.resize(HeapPageHeaderSize(pages_.size()));
  pages_.push_back(std::move(page));
}

std::size_t HeapWriter::PageSize(const Page& page) const {
  if (page.flushed != 0) return page.flushed_size;
  const PageContent& c = *page.content;
  std::size_t end = c.bytes.size() + (c.bytes.size() & 1);  // map is WORD aligned
  return end + kPageMapFixed + 2 * (c.offsets.size() + 1);
}

ndb::Hid HeapWriter::Allocate(std::span<const std::uint8_t> data) {
  if (data.empty()) throw std::invalid_argument("heap allocation of zero bytes");
  if (data.size() > kMaxHeapAllocation) {
    throw std::length_error("heap allocation of " + std::to_string(data.size()) +
                            " bytes exceeds the 3580-byte limit");
  }
  PageContent* page = pages_.back().content.get();
  std::size_t end = page->bytes.size() + data.size();
  std::size_t need = end + (end & 1) + kPageMapFixed + 2 * (page->offsets.size() + 2);
  if (need > ndb::kMaxBlockData || page->offsets.size() >= kMaxAllocationsPerPage) {
    NewPage();
    page = pages_.back().content.get();
  }
  page->offsets.push_back(static_cast<std::uint16_t>(page->bytes.size()));
  page->bytes.insert(page->bytes.end(), data.begin(), data.end());
  return MakeHid(static_cast<std::uint32_t>(pages_.size() - 1),
                 static_cast<std::uint32_t>(page->offsets.size()));
}

std::span<std::uint8_t> HeapWriter::At(ndb::Hid hid) {
  std::uint32_t p = HidPageOf(hid);
  std::uint32_t i = HidIndexOf(hid);
  if (!IsHid(hid) || p >= pages_.size() || pages_[p].flushed != 0 || i == 0 ||
      i > pages_[p].content->offsets.size()) {
    throw std::out_of_range("no heap allocation " + base::Hex(hid));
  }
  PageContent& page = *pages_[p].content;
  std::size_t start = page.offsets[i - 1];
  std::size_t end = i < page.offsets.size() ? page.offsets[i] : page.bytes.size();
  return std::span<std::uint8_t>(page.bytes).subspan(start, end - start);
}

std::vector<std::uint8_t> HeapWriter::PageBytes(std::size_t index) const {
  if (pages_.at(index).flushed != 0) {
    throw std::logic_error("heap page " + std::to_string(index) + " is already written");
  }
  const PageContent& page = *pages_[index].content;
  std::vector<std::uint8_t> out;
  out.reserve(PageSize(pages_[index]));
  out.assign(page.bytes.begin(), page.bytes.end());
  if (out.size() & 1) out.push_back(0);
  std::uint16_t map_at = static_cast<std::uint16_t>(out.size());
  base::Append16(out, static_cast<std::uint16_t>(page.offsets.size()));
  base::Append16(out, 0);  // cFree: this writer never frees
  for (std::uint16_t offset : page.offsets) base::Append16(out, offset);
  base::Append16(out, static_cast<std::uint16_t>(page.bytes.size()));

  base::Put16(out, 0, map_at);
  if (index == 0) {
    out[2] = kHeapSignature;
    out[3] = client_sig_;
    base::Put32(out, 4, user_root_);
    PutFillLevels(out, 8, 0, 8);
  } else if (IsBitmapPage(index)) {
    PutFillLevels(out, 2, index, 128);
  }
  return out;
}

ndb::Bid HeapWriter::Write(ndb::NodeDatabase& db) const {
  std::vector<ndb::Bid> leaves;
  leaves.reserve(pages_.size());
  std::uint64_t total = 0;
  try {
    for (std::size_t i = 0; i < pages_.size(); ++i) {
      std::vector<std::uint8_t> bytes = PageBytes(i);
      total += bytes.size();
      leaves.push_back(db.WriteBlock(bytes));
    }
    return db.WriteDataTree(leaves, total);
  } catch (...) {
    // Give back the pages already written before passing the failure on.
    for (ndb::Bid bid : leaves) db.Release(bid);
    throw;
  }
}

void HeapWriter::Flush(ndb::NodeDatabase& db, std::size_t index) {
  Page& page = pages_[index];
  const std::vector<std::uint8_t> bytes = PageBytes(index);
  page.flushed = db.WriteBlock(bytes);
  page.flushed_size = static_cast<std::uint16_t>(bytes.size());
  page.content.reset();
}

void HeapWriter::PutFillLevels(std::span<std::uint8_t> out, std::size_t at, std::size_t first,
                               std::size_t count) const {
  // Two per byte, low nibble first.
  std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(at), (count + 1) / 2, std::uint8_t{0});
  for (std::size_t k = 0; k < count && first + k < pages_.size(); ++k) {
    std::uint8_t level = HeapFillLevel(ndb::kMaxBlockData - PageSize(pages_[first + k]));
    out[at + k / 2] |= static_cast<std::uint8_t>(k % 2 == 0 ? level : level << 4);
  }
}

void HeapWriter::FlushFullPages(ndb::NodeDatabase& db) {
  const std::size_t last = pages_.size() - 1;
  for (; next_flush_ < last; ++next_flush_) {
    // A bitmap page's header holds the fill levels of the next 127 pages. It goes to the
    // file like the others (else every table of more than eight pages would keep one in
    // memory) and is written again with their final levels.
    if (IsBitmapPage(next_flush_)) {
      RefreshOpenBitmap(db);
      open_bitmap_ = next_flush_;
    }
    Flush(db, next_flush_);
  }
  if (open_bitmap_ != 0 && last > open_bitmap_ + 127) {
    RefreshOpenBitmap(db);
    open_bitmap_ = 0;
  }
}

void HeapWriter::RefreshOpenBitmap(ndb::NodeDatabase& db) {
  if (open_bitmap_ == 0) return;
  Page& page = pages_[open_bitmap_];
  std::vector<std::uint8_t> bytes = db.ReadBlock(page.flushed);
  PutFillLevels(bytes, 2, open_bitmap_, 128);
  const ndb::Bid written = db.WriteBlock(bytes);
  // The block a committed tree holds goes when the node's new trees replace the old.
  if (!page.shared) db.Release(page.flushed);
  page.flushed = written;
  page.shared = false;
}

ndb::Bid HeapWriter::WriteSharingFlushed(ndb::NodeDatabase& db) const {
  std::vector<ndb::Bid> leaves;
  std::vector<ndb::Bid> taken;  // references of this call's own
  leaves.reserve(pages_.size());
  std::uint64_t total = 0;
  try {
    for (std::size_t i = 0; i < pages_.size(); ++i) {
      const Page& page = pages_[i];
      if (page.flushed != 0) {
        if (page.shared) {
          db.AddRef(page.flushed);
          taken.push_back(page.flushed);
        }
        leaves.push_back(page.flushed);
        total += page.flushed_size;
        continue;
      }
      std::vector<std::uint8_t> bytes = PageBytes(i);
      total += bytes.size();
      leaves.push_back(db.WriteBlock(bytes));
      taken.push_back(leaves.back());
    }
    return db.WriteDataTree(leaves, total);
  } catch (...) {
    for (ndb::Bid bid : taken) db.Release(bid);
    throw;
  }
}

void HeapWriter::MarkFlushedShared() {
  for (Page& page : pages_) page.shared = page.flushed != 0;
}

void HeapWriter::ReleaseFlushed(ndb::NodeDatabase& db) {
  for (Page& page : pages_) {
    if (page.flushed != 0 && !page.shared) db.Release(page.flushed);
    page.shared = page.flushed != 0;
  }
}

void HeapWriter::RollBack(const Mark& mark) {
  if (mark.pages == 0 || mark.pages > pages_.size() || pages_[mark.pages - 1].flushed != 0 ||
      (mark.pages == pages_.size() && mark.bytes > pages_.back().content->bytes.size())) {
    throw std::logic_error("heap roll-back past a flushed page");
  }
  pages_.resize(mark.pages);
  pages_.back().content->bytes.resize(mark.bytes);
  pages_.back().content->offsets.resize(mark.allocations);
}

std::size_t HeapWriter::MemoryBytes() const {
  // Only page 0 and the pages from next_flush_ on still hold bytes:
  // a big table asks this for every item, so the flushed pages are not visited.
  std::size_t n = pages_.size() * sizeof(Page);
  const auto add = [&n](const Page& page) {
    n += sizeof(PageContent) + page.content->bytes.capacity() + 2 * page.content->offsets.capacity();
  };
  add(pages_[0]);
  for (std::size_t i = std::max<std::size_t>(next_flush_, 1); i < pages_.size(); ++i) add(pages_[i]);
  return n;
}

HeapReader::HeapReader(std::vector<std::vector<std::uint8_t>> pages) : pages_(std::move(pages)) {
  if (pages_.empty()) throw ndb::FormatError("heap-on-node has no data blocks");
  if (pages_.size() > kMaxHeapPages) throw ndb::FormatError("heap-on-node has more than 65536 pages");
  if (pages_[0].size() < 12 || pages_[0][2] != kHeapSignature) {
    throw ndb::FormatError("heap-on-node page 0 lacks the 0xEC signature");
  }
  maps_.resize(pages_.size());
  for (std::size_t p = 0; p < pages_.size(); ++p) {
    std::span<const std::uint8_t> b = pages_[p];
    std::string where = "heap page " + std::to_string(p);
    std::size_t header = HeapPageHeaderSize(p);
    if (b.size() < header) throw ndb::FormatError(where + " is shorter than its header");
    std::size_t ib = base::Get16(b, 0);
    if (ib < header || ib + kPageMapFixed > b.size()) {
      throw ndb::FormatError(where + ": page map offset " + std::to_string(ib) + " is outside the block");
    }
    std::size_t count = base::Get16(b, ib);
    if (ib + kPageMapFixed + 2 * (count + 1) > b.size()) {
      throw ndb::FormatError(where + ": page map of " + std::to_string(count) +
                        " allocations runs past the block");
    }
    if (count > kMaxAllocationsPerPage) {
      throw ndb::FormatError(where + " holds more allocations than an HID can name");
    }
    std::vector<std::uint16_t>& map = maps_[p];
    map.resize(count + 1);
    for (std::size_t i = 0; i <= count; ++i) {
      map[i] = base::Get16(b, ib + kPageMapFixed + 2 * i);
    }
    if (map[0] < header) {
      throw ndb::FormatError(where + ": allocation 1 starts inside the page header");
    }
    for (std::size_t i = 0; i < count; ++i) {
      if (map[i + 1] < map[i]) {
        throw ndb::FormatError(where + ": allocations " + std::to_string(i + 1) + " and " +
                          std::to_string(i + 2) + " are out of order or overlap");
      }
    }
    if (map[count] > ib) {
      throw ndb::FormatError(where + ": allocations run into the page map");
    }
  }
}

HeapReader HeapReader::Load(ndb::NodeDatabase& db, ndb::Bid data) {
  if (data == 0) throw ndb::FormatError("node has no data for its heap-on-node");
  std::vector<std::vector<std::uint8_t>> pages;
  for (ndb::Bid leaf : db.DataLeaves(data)) pages.push_back(db.ReadBlock(leaf));
  return HeapReader(std::move(pages));
}

ndb::Hid HeapReader::user_root() const { return base::Get32(pages_[0], 4); }

std::span<const std::uint8_t> HeapReader::Get(ndb::Hid hid) const {
  std::uint32_t p = HidPageOf(hid);
  std::uint32_t i = HidIndexOf(hid);
  if (!IsHid(hid) || p >= pages_.size() || i == 0 || i >= maps_[p].size()) {
    throw ndb::FormatError("heap has no allocation " + base::Hex(hid));
  }
  const auto& map = maps_[p];
  return std::span<const std::uint8_t>(pages_[p]).subspan(map[i - 1], map[i] - map[i - 1]);
}

}  // namespace mailvane::pst::ltp
