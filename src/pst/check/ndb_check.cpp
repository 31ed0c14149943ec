#include "pst/check/ndb_check.h"

#include <algorithm>
#include <array>
#include <system_error>

#include "base/hex.h"
#include "base/little_endian.h"
#include "pst/ndb/format_error.h"
#include "pst/ndb/layout.h"
#include "pst/ndb/page.h"

namespace mailvane::pst::check {

std::vector<Finding> CheckNodeDatabase(const std::filesystem::path& path) {
  return check::NdbChecker(path).Run();
}

}  // namespace mailvane::pst::check

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
    file_ = ndb::OpenPosixFile(path_, false);
    size_ = file_->Size();
    if (CheckHeader()) {
      CheckMapPages();
      CheckDList();
      WalkTree(ndb::kPageNbt, header_.nbt, -1, 0, UINT64_MAX, 0);
      WalkTree(ndb::kPageBbt, header_.bbt, -1, 0, UINT64_MAX, 0);
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
  if (size_ < ndb::kHeaderSize) {
    Add(Severity::kError, "header", "the file is truncated: " + std::to_string(size_) +
                                        " bytes, shorter than a PST header");
    return false;
  }
  std::vector<std::uint8_t> bytes = Read(0, ndb::kHeaderSize);
  if (std::string p = ndb::HeaderProblem(bytes); !p.empty()) {
    Add(Severity::kError, "header", p);
    return false;
  }
  header_ = ndb::ParseHeader(bytes);
  if (header_.file_eof > size_) {
    Add(Severity::kError, "header",
        "the file is truncated: ibFileEof is " + std::to_string(header_.file_eof) +
            " but the file has " + std::to_string(size_) + " bytes");
  } else if (header_.file_eof < size_) {
    Add(Severity::kNote, "header",
        std::to_string(size_ - header_.file_eof) + " bytes lie beyond ibFileEof " +
            std::to_string(header_.file_eof));
  }
  if (header_.file_eof < ndb::AMapOffset(1)) {
    Add(Severity::kError, "header",
        "ibFileEof " + base::Hex(header_.file_eof) + " leaves no room for the first AMap interval");
    return false;
  }
  if ((header_.file_eof - ndb::kFirstAMapOffset) % ndb::kAMapInterval != 0) {
    Add(Severity::kNote, "header",
        "ibFileEof " + base::Hex(header_.file_eof) + " does not end an AMap interval");
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
  intervals_ = (readable_end - ndb::kFirstAMapOffset + ndb::kAMapInterval - 1) / ndb::kAMapInterval;
  used_.assign(intervals_ * ndb::kSlotsPerInterval, false);
  return true;
}

void NdbChecker::Use(std::uint64_t ib, std::uint64_t size, const std::string& what) {
  if (ib < ndb::kFirstAMapOffset || ib % ndb::kSlotSize != 0 ||
      ib + size > std::min(header_.file_eof, size_)) {
    Add(Severity::kError, "allocation", what + " at " + base::Hex(ib) + " lies outside the data area");
    return;
  }
  std::uint64_t first = (ib - ndb::kFirstAMapOffset) / ndb::kSlotSize;
  std::uint64_t count = (size + ndb::kSlotSize - 1) / ndb::kSlotSize;
  if (first / ndb::kSlotsPerInterval != (first + count - 1) / ndb::kSlotsPerInterval) {
    Add(Severity::kError, "allocation", what + " at " + base::Hex(ib) + " crosses an AMap interval");
  }
  bool overlap = false;
  for (std::uint64_t s = first; s < first + count; ++s) {
    overlap = overlap || used_[s];
    used_[s] = true;
  }
  if (overlap) {
    Add(Severity::kError, "allocation", what + " at " + base::Hex(ib) + " overlaps another page or block");
  }
}

void NdbChecker::CheckMapPages() {
  amap_bits_.assign(intervals_ * ndb::kPageDataSize, 0);
  for (std::uint64_t k = 0; k < intervals_; ++k) {
    std::uint64_t ib = ndb::AMapOffset(k);
    auto check_page = [&](std::uint64_t at, ndb::PageType type, const char* name) {
      std::vector<std::uint8_t> page = Read(at, ndb::kPageSize);
      if (std::string p = ndb::PageProblem(page, type, at, at); !p.empty()) {
        // Maps declared invalid may have been cut short while being rewritten.
        Add(MapsTrusted() ? Severity::kError : Severity::kNote, "amap", std::string(name) + ": " + p);
      }
      Use(at, ndb::kPageSize, name);
      return page;
    };
    std::vector<std::uint8_t> amap = check_page(ib, ndb::kPageAMap, "AMap");
    std::copy(amap.begin(), amap.begin() + ndb::kPageDataSize, amap_bits_.begin() + k * ndb::kPageDataSize);
    if (ndb::HasPMap(k)) check_page(ndb::PMapOffset(k), ndb::kPagePMap, "PMap");
    if (ndb::HasFMap(k)) check_page(ndb::FMapOffset(k), ndb::kPageFMap, "FMap");
    if (ndb::HasFPMap(k)) check_page(ndb::FPMapOffset(k), ndb::kPageFPMap, "FPMap");
  }
  if (intervals_ > 0 && header_.amap_last != ndb::AMapOffset(intervals_ - 1)) {
    Add(Severity::kError, "header",
        "ibAMapLast is " + base::Hex(header_.amap_last) + ", the last AMap is at " +
            base::Hex(ndb::AMapOffset(intervals_ - 1)));
  }
}

void NdbChecker::CheckDList() {
  std::vector<std::uint8_t> page = Read(ndb::kDListOffset, ndb::kPageSize);
  if (std::all_of(page.begin(), page.end(), [](std::uint8_t b) { return b == 0; })) {
    Add(Severity::kNote, "dlist", "the file has no density list page (as in some of Outlook's own files)");
    return;
  }
  // Outlook signs the density list with a page BID (its bidNextP, not counted as used).
  ndb::Bid bid = base::Get64(page.data() + ndb::kPageDataSize + 8);
  if (std::string p = ndb::PageProblem(page, ndb::kPageDList, ndb::kDListOffset, bid); !p.empty()) {
    Add(Severity::kError, "dlist", "density list: " + p);
    return;
  }
  std::size_t n = page[1];
  for (std::size_t i = 0; i < n && 8 + 4 * i + 4 <= ndb::kPageDataSize; ++i) {
    std::uint32_t e = base::Get32(page.data() + 8 + 4 * i);
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
    const std::uint8_t* bits = amap_bits_.data() + k * ndb::kPageDataSize;
    std::uint64_t leaked_here = 0;
    for (std::uint32_t s = 0; s < ndb::kSlotsPerInterval; ++s) {
      bool marked = (bits[s / 8] & (0x80u >> (s % 8))) != 0;
      // The empty FMap slot before an FPMap may be kept marked, or hold data.
      bool map_gap = ndb::HasFPMap(k) && s >= 2 * ndb::kPageSize / ndb::kSlotSize && s < 3 * ndb::kPageSize / ndb::kSlotSize;
      bool used = used_[k * ndb::kSlotsPerInterval + s] || (map_gap && marked);
      if (!marked) ++zero_bits;
      if (used && !marked) {
        Add(Severity::kError, "amap",
            "the 64 bytes at " + base::Hex(ndb::AMapOffset(k) + std::uint64_t{s} * ndb::kSlotSize) +
                " are in use but free in AMap " + std::to_string(k));
      } else if (marked && !used) {
        ++leaked_here;
      }
    }
    if (leaked_here > 0) {
      Add(Severity::kNote, "amap",
          "AMap " + std::to_string(k) + " marks " + std::to_string(leaked_here * ndb::kSlotSize) +
              " bytes that nothing references (leaked space)");
    }
  }
  std::uint64_t free_bytes = zero_bits * ndb::kSlotSize;
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
        "bidNextB " + base::Hex(header_.bid_next_b) + " is not above the largest block BID " +
            base::Hex(max_block));
  }
  if (header_.bid_next_p <= max_page_bid_) {
    Add(Severity::kError, "header",
        "bidNextP " + base::Hex(header_.bid_next_p) + " is not above the largest page BID " +
            base::Hex(max_page_bid_));
  }
  for (const auto& [nid, n] : nodes_) {
    std::uint32_t type = nid & 0x1F;
    if (type == 0) {
      Add(Severity::kError, "nbt", "the NBT holds heap id " + base::Hex(nid) + " as a node");
    } else if ((nid >> 5) > header_.rgnid[type]) {
      Add(Severity::kError, "header",
          "node " + base::Hex(nid) + " has an index above rgnid[" + std::to_string(type) + "] " +
              base::Hex(header_.rgnid[type]));
    }
  }
}

}  // namespace mailvane::pst::check
