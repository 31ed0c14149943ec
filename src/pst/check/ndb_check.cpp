#include "pst/check/ndb_check.h"

#include <algorithm>
#include <array>
#include <system_error>

#include "pst/check/ndb_checker.h"
#include "pst/ndb/format_error.h"
#include "pst/ndb/layout.h"
#include "pst/ndb/page.h"

namespace mailvane::pst {

std::vector<Finding> CheckNodeDatabase(const std::filesystem::path& path) {
  return check::NdbChecker(path).Run();
}

}  // namespace mailvane::pst

namespace mailvane::pst::check {

using namespace ndb;

namespace {

constexpr int kMaxPerArea = 25;  // a damaged file must not flood the report

}  // namespace

void NdbChecker::Add(Severity severity, const std::string& area, const std::string& message) {
  int& n = per_area_[area];
  if (++n <= kMaxPerArea) {
    findings_.push_back({severity, area, message});
  } else if (severity == Severity::kError) {
    // Keep at least the fact that more errors were found.
    per_area_[area + "#errors"]++;
  }
}

std::vector<std::uint8_t> NdbChecker::Read(std::uint64_t ib, std::uint64_t size) {
  std::vector<std::uint8_t> data(size);
  file_->ReadAt(ib, data);
  return data;
}

std::vector<Finding> NdbChecker::Run() {
  try {
    file_ = OpenPosixFile(path_, false);
    size_ = file_->Size();
    if (CheckHeader()) {
      CheckMapPages();
      CheckDList();
      WalkTree(kPageNbt, header_.nbt, -1, 0, UINT64_MAX, 0);
      WalkTree(kPageBbt, header_.bbt, -1, 0, UINT64_MAX, 0);
      CheckBlocks();
      CheckReferences();
      CheckAllocation();
      CheckCounters();
    }
  } catch (const std::exception& e) {
    findings_.push_back({Severity::kError, "file", std::string("checking stopped: ") + e.what()});
  }
  for (const auto& [area, n] : per_area_) {
    if (area.find('#') != std::string::npos || n <= kMaxPerArea) continue;
    int errors = per_area_.count(area + "#errors") ? per_area_[area + "#errors"] : 0;
    findings_.push_back({errors > 0 ? Severity::kError : Severity::kNote, area,
                         std::to_string(n - kMaxPerArea) + " more findings of this kind (" +
                             std::to_string(errors) + " errors) not listed"});
  }
  return findings_;
}

bool NdbChecker::CheckHeader() {
  if (size_ < kHeaderSize) {
    Add(Severity::kError, "header", "the file is truncated: " + std::to_string(size_) +
                                        " bytes, shorter than a PST header");
    return false;
  }
  std::vector<std::uint8_t> bytes = Read(0, kHeaderSize);
  if (std::string p = HeaderProblem(bytes); !p.empty()) {
    Add(Severity::kError, "header", p);
    return false;
  }
  header_ = ParseHeader(bytes);
  if (header_.file_eof > size_) {
    Add(Severity::kError, "header",
        "the file is truncated: ibFileEof is " + std::to_string(header_.file_eof) +
            " but the file has " + std::to_string(size_) + " bytes");
  } else if (header_.file_eof < size_) {
    Add(Severity::kNote, "header",
        std::to_string(size_ - header_.file_eof) + " bytes lie beyond ibFileEof " +
            std::to_string(header_.file_eof));
  }
  if (header_.file_eof < AMapOffset(1)) {
    Add(Severity::kError, "header",
        "ibFileEof " + HexId(header_.file_eof) + " leaves no room for the first AMap interval");
    return false;
  }
  if ((header_.file_eof - kFirstAMapOffset) % kAMapInterval != 0) {
    Add(Severity::kNote, "header",
        "ibFileEof " + HexId(header_.file_eof) + " does not end an AMap interval");
  }
  if (header_.amap_valid == kAMapInvalid) {
    Add(Severity::kNote, "header",
        "fAMapValid is 0: the allocation maps are declared invalid (a commit was "
        "interrupted); a writer rebuilds them from the B-trees");
  } else if (header_.amap_valid != kAMapValid2) {
    Add(Severity::kError, "header",
        "fAMapValid is " + std::to_string(header_.amap_valid) + ", not VALID_AMAP2");
  }
  std::uint64_t readable_end = std::min(header_.file_eof, size_);
  intervals_ = (readable_end - kFirstAMapOffset + kAMapInterval - 1) / kAMapInterval;
  used_.assign(intervals_ * kSlotsPerInterval, false);
  return true;
}

void NdbChecker::Use(std::uint64_t ib, std::uint64_t size, const std::string& what) {
  if (ib < kFirstAMapOffset || ib % kSlotSize != 0 ||
      ib + size > std::min(header_.file_eof, size_)) {
    Add(Severity::kError, "allocation", what + " at " + HexId(ib) + " lies outside the data area");
    return;
  }
  std::uint64_t first = (ib - kFirstAMapOffset) / kSlotSize;
  std::uint64_t count = (size + kSlotSize - 1) / kSlotSize;
  if (first / kSlotsPerInterval != (first + count - 1) / kSlotsPerInterval) {
    Add(Severity::kError, "allocation", what + " at " + HexId(ib) + " crosses an AMap interval");
  }
  bool overlap = false;
  for (std::uint64_t s = first; s < first + count; ++s) {
    overlap = overlap || used_[s];
    used_[s] = true;
  }
  if (overlap) {
    Add(Severity::kError, "allocation", what + " at " + HexId(ib) + " overlaps another page or block");
  }
}

void NdbChecker::CheckMapPages() {
  amap_bits_.assign(intervals_ * kPageDataSize, 0);
  for (std::uint64_t k = 0; k < intervals_; ++k) {
    std::uint64_t ib = AMapOffset(k);
    auto check_page = [&](std::uint64_t at, PageType type, const char* name) {
      std::vector<std::uint8_t> page = Read(at, kPageSize);
      if (std::string p = PageProblem(page, type, at, at); !p.empty()) {
        // Maps declared invalid may have been cut short while being rewritten.
        Add(MapsTrusted() ? Severity::kError : Severity::kNote, "amap", std::string(name) + ": " + p);
      }
      Use(at, kPageSize, name);
      return page;
    };
    std::vector<std::uint8_t> amap = check_page(ib, kPageAMap, "AMap");
    std::copy(amap.begin(), amap.begin() + kPageDataSize, amap_bits_.begin() + k * kPageDataSize);
    if (HasPMap(k)) check_page(PMapOffset(k), kPagePMap, "PMap");
    if (HasFMap(k)) check_page(FMapOffset(k), kPageFMap, "FMap");
    if (HasFPMap(k)) check_page(FPMapOffset(k), kPageFPMap, "FPMap");
  }
  if (intervals_ > 0 && header_.amap_last != AMapOffset(intervals_ - 1)) {
    Add(Severity::kError, "header",
        "ibAMapLast is " + HexId(header_.amap_last) + ", the last AMap is at " +
            HexId(AMapOffset(intervals_ - 1)));
  }
}

void NdbChecker::CheckDList() {
  std::vector<std::uint8_t> page = Read(kDListOffset, kPageSize);
  if (std::all_of(page.begin(), page.end(), [](std::uint8_t b) { return b == 0; })) {
    Add(Severity::kNote, "dlist", "the file has no density list page (as in some of Outlook's own files)");
    return;
  }
  // Outlook signs the density list with a page BID (its bidNextP, not counted as used).
  Bid bid = Get64(page.data() + kPageDataSize + 8);
  if (std::string p = PageProblem(page, kPageDList, kDListOffset, bid); !p.empty()) {
    Add(Severity::kError, "dlist", "density list: " + p);
    return;
  }
  std::size_t n = page[1];
  for (std::size_t i = 0; i < n && 8 + 4 * i + 4 <= kPageDataSize; ++i) {
    std::uint32_t e = Get32(page.data() + 8 + 4 * i);
    if ((e & 0xFFFFF) >= intervals_) {
      Add(Severity::kError, "dlist",
          "density list entry " + std::to_string(i) + " names AMap " +
              std::to_string(e & 0xFFFFF) + " beyond the last one");
    }
  }
}

void NdbChecker::CheckAllocation() {
  if (!MapsTrusted()) return;  // declared invalid: nothing in them is to be compared
  std::uint64_t zero_bits = 0;
  for (std::uint64_t k = 0; k < intervals_; ++k) {
    const std::uint8_t* bits = amap_bits_.data() + k * kPageDataSize;
    std::uint64_t leaked_here = 0;
    for (std::uint32_t s = 0; s < kSlotsPerInterval; ++s) {
      bool marked = (bits[s / 8] & (0x80u >> (s % 8))) != 0;
      // The empty FMap slot before an FPMap may be kept marked, or hold data.
      bool map_gap = HasFPMap(k) && s >= 2 * kPageSize / kSlotSize && s < 3 * kPageSize / kSlotSize;
      bool used = used_[k * kSlotsPerInterval + s] || (map_gap && marked);
      if (!marked) ++zero_bits;
      if (used && !marked) {
        Add(Severity::kError, "amap",
            "the 64 bytes at " + HexId(AMapOffset(k) + std::uint64_t{s} * kSlotSize) +
                " are in use but free in AMap " + std::to_string(k));
      } else if (marked && !used) {
        ++leaked_here;
      }
    }
    if (leaked_here > 0) {
      Add(Severity::kNote, "amap",
          "AMap " + std::to_string(k) + " marks " + std::to_string(leaked_here * kSlotSize) +
              " bytes that nothing references (leaked space)");
    }
  }
  std::uint64_t free_bytes = zero_bits * kSlotSize;
  if (header_.amap_free != free_bytes) {
    Add(Severity::kError, "amap",
        "cbAMapFree is " + std::to_string(header_.amap_free) + ", the AMaps have " +
            std::to_string(free_bytes) + " bytes free");
  }
}

void NdbChecker::CheckCounters() {
  std::uint64_t max_block = 0;
  for (const auto& [bid, b] : blocks_) max_block = std::max(max_block, bid);
  if (!blocks_.empty() && header_.bid_next_b <= max_block) {
    Add(Severity::kError, "header",
        "bidNextB " + HexId(header_.bid_next_b) + " is not above the largest block BID " +
            HexId(max_block));
  }
  if (header_.bid_next_p <= max_page_bid_) {
    Add(Severity::kError, "header",
        "bidNextP " + HexId(header_.bid_next_p) + " is not above the largest page BID " +
            HexId(max_page_bid_));
  }
  for (const auto& [nid, n] : nodes_) {
    std::uint32_t type = nid & 0x1F;
    if (type == 0) {
      Add(Severity::kError, "nbt", "the NBT holds heap id " + HexId(nid) + " as a node");
    } else if ((nid >> 5) > header_.rgnid[type]) {
      Add(Severity::kError, "header",
          "node " + HexId(nid) + " has an index above rgnid[" + std::to_string(type) + "] " +
              HexId(header_.rgnid[type]));
    }
  }
}

}  // namespace mailvane::pst::check
