// Heap-on-node (MS-PST 2.3.1): a heap of small allocations over the data blocks of one node.
// Each block of the node's data tree is one heap page: a header (HNHDR on page 0,
// HNBITMAPHDR on pages 8, 136, 264, ..., HNPAGEHDR elsewhere), the allocations back to back,
// and the page map (HNPAGEMAP) after them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <vector>

#include "pst/ndb/ids.h"
#include "pst/ndb/node_database.h"

namespace mailvane::pst::ltp {

inline constexpr std::uint8_t kHeapSignature = 0xEC;
inline constexpr std::uint8_t kClientSigTable = 0x7C;
inline constexpr std::uint8_t kClientSigBth = 0xB5;
inline constexpr std::uint8_t kClientSigProperties = 0xBC;

// Largest single allocation a heap may hold.
inline constexpr std::size_t kMaxHeapAllocation = 3580;
// hidBlockIndex is 16 bits wide; hidIndex 11 bits.
inline constexpr std::size_t kMaxHeapPages = 65536;
inline constexpr std::size_t kMaxAllocationsPerPage = 2047;

constexpr ndb::Hid MakeHid(std::uint32_t page, std::uint32_t index) { return (page << 16) | (index << 5); }
constexpr std::uint32_t HidPageOf(ndb::Hid hid) { return hid >> 16; }
constexpr std::uint32_t HidIndexOf(ndb::Hid hid) { return (hid >> 5) & 0x7FF; }
// An HNID names a heap allocation when its low five bits are zero, else a subnode.
constexpr bool IsHid(std::uint32_t hnid) { return (hnid & 0x1F) == 0; }

// Size of the header at the start of heap page `page`.
std::size_t HeapPageHeaderSize(std::size_t page);
// The 4-bit fill level MS-PST gives for a page with `free_bytes` unused.
std::uint8_t HeapFillLevel(std::size_t free_bytes);

class HeapWriter {
 public:
  explicit HeapWriter(std::uint8_t client_sig) : client_sig_(client_sig) { NewPage(); }

  // Appends an allocation of 1 to kMaxHeapAllocation bytes; raises std::length_error
  // beyond the heap's limits and std::invalid_argument for an empty one.
  ndb::Hid Allocate(std::span<const std::uint8_t> data);
  // The bytes of an earlier allocation, to fill in once the HIDs it refers to are known.
  std::span<std::uint8_t> At(ndb::Hid hid);
  void SetUserRoot(ndb::Hid hid) { user_root_ = hid; }

  std::size_t page_count() const { return pages_.size(); }
  std::vector<std::uint8_t> PageBytes(std::size_t page) const;
  // Writes every page as one data block and joins them in a data tree: the node's data BID.
  ndb::Bid Write(ndb::NodeDatabase& db) const;

  // --- a heap that grows across many writes (a large table filled row by row) ---
  // Later allocations go to a fresh page.
  void StartNewPage() { NewPage(); }
  // Writes the pages no allocation can reach any more to the file and drops their bytes:
  // every page but page 0 (its header changes) and the last one. The heap holds the one
  // reference to each until a data tree takes it over.
  void FlushFullPages(ndb::NodeDatabase& db);
  // Writes again the fill-level bitmap page whose 128 pages are not all final yet, with the
  // levels they have now: before a data tree takes the flushed pages.
  void RefreshOpenBitmap(ndb::NodeDatabase& db);
  // Write() for such a heap: the flushed pages go into the new tree, those an earlier tree
  // has with a reference of their own. On failure the heap's references stay its own.
  ndb::Bid WriteSharingFlushed(ndb::NodeDatabase& db) const;
  // After the tree of WriteSharingFlushed() went into a node: the flushed pages belong to
  // the node's trees from now on.
  void MarkFlushedShared();
  // Gives back the references the heap still holds.
  void ReleaseFlushed(ndb::NodeDatabase& db);
  // A point to roll back to: allocations made after it (and never flushed) are dropped.
  struct Mark {
    std::size_t pages = 0;
    std::size_t bytes = 0;
    std::size_t allocations = 0;
  };
  Mark mark() const { return {pages_.size(), pages_.back().content->bytes.size(), pages_.back().content->offsets.size()}; }
  void RollBack(const Mark& mark);
  // Bytes held in memory (pages not flushed).
  std::size_t MemoryBytes() const;

 private:
  struct PageContent {
    std::vector<std::uint8_t> bytes;     // header space then allocations
    std::vector<std::uint16_t> offsets;  // start of each allocation
  };
  // A big table has tens of thousands of pages, nearly all flushed: those keep 24 bytes.
  struct Page {
    std::unique_ptr<PageContent> content;  // none once flushed
    ndb::Bid flushed = 0;                  // once written by FlushFullPages
    std::uint16_t flushed_size = 0;
    bool shared = false;                   // a committed tree holds its reference
  };
  void NewPage();
  std::size_t PageSize(const Page& page) const;
  void Flush(ndb::NodeDatabase& db, std::size_t index);

  std::uint8_t client_sig_;
  ndb::Hid user_root_ = 0;
  std::deque<Page> pages_;  // no doubling copy: a big table has thousands
  void PutFillLevels(std::span<std::uint8_t> out, std::size_t at, std::size_t first, std::size_t count) const;

  std::size_t next_flush_ = 1;   // pages below are flushed
  std::size_t open_bitmap_ = 0;  // a flushed bitmap page whose range is not final, or 0
};

class HeapReader {
 public:
  // Parses and checks the page maps; a damaged heap raises FormatError.
  explicit HeapReader(std::vector<std::vector<std::uint8_t>> pages);
  static HeapReader Load(ndb::NodeDatabase& db, ndb::Bid data);

  std::uint8_t client_sig() const { return pages_[0][3]; }
  ndb::Hid user_root() const;
  std::size_t page_count() const { return pages_.size(); }
  std::size_t allocation_count(std::size_t page) const { return maps_[page].size() - 1; }
  // An allocation's bytes; raises FormatError for an HID that names none.
  std::span<const std::uint8_t> Get(ndb::Hid hid) const;

 private:
  std::vector<std::vector<std::uint8_t>> pages_;
  std::vector<std::vector<std::uint16_t>> maps_;  // rgibAlloc of each page
};

}  // namespace mailvane::pst::ltp
