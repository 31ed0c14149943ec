#include <algorithm>
#include <stdexcept>
#include <string>

#include "base/hex.h"
#include "pst/ltp/table_context.h"

namespace mailvane::pst::ltp {
namespace {


}  // namespace

std::uint8_t TcCellSize(PropType type) {
  switch (FixedSizeOf(type)) {
    case 8: return 8;
    case 2: return 2;
    case 1: return 1;
    default: return 4;  // 4-byte values, and the HNID of everything larger or variable
  }
}

TcLayout LayoutTableColumns(std::span<const PropTag> tags) {
  std::vector<PropTag> others;
  others.reserve(tags.size());
  for (PropTag tag : tags) {
    if (tag != kPrLtpRowId && tag != kPrLtpRowVer) others.push_back(tag);
  }
  std::sort(others.begin(), others.end());
  if (std::adjacent_find(others.begin(), others.end()) != others.end()) {
    throw std::invalid_argument("table column " +
                                base::Hex(*std::adjacent_find(others.begin(), others.end()), 8) +
                                " given twice");
  }
  if (others.size() + 2 > 255) {
    throw std::invalid_argument("a table holds at most 255 columns, not " +
                                std::to_string(others.size() + 2));
  }

  TcLayout layout;
  std::vector<TcColumn> by_bit;
  by_bit.push_back({kPrLtpRowId, 0, 4, 0});
  by_bit.push_back({kPrLtpRowVer, 4, 4, 1});
  for (PropTag tag : others) {
    by_bit.push_back({tag, 0, TcCellSize(PropTypeOf(tag)), static_cast<std::uint8_t>(by_bit.size())});
  }
  // Cells by width, widest first; within a width in bit order.
  std::size_t ib = 8;
  auto place = [&](std::uint8_t width) {
    for (std::size_t i = 2; i < by_bit.size(); ++i) {
      if (by_bit[i].cb_data != width) continue;
      by_bit[i].ib_data = static_cast<std::uint16_t>(ib);
      ib += width;
    }
  };
  place(8);
  place(4);
  layout.rgib[0] = static_cast<std::uint16_t>(ib);
  place(2);
  layout.rgib[1] = static_cast<std::uint16_t>(ib);
  place(1);
  layout.rgib[2] = static_cast<std::uint16_t>(ib);
  layout.rgib[3] = static_cast<std::uint16_t>(ib + (by_bit.size() + 7) / 8);
  std::sort(by_bit.begin(), by_bit.end(),
            [](const TcColumn& a, const TcColumn& b) { return a.tag < b.tag; });
  layout.columns = std::move(by_bit);
  return layout;
}

std::vector<std::string> TableLayoutProblems(const TcLayout& layout) {
  std::vector<std::string> out;
  const auto& cols = layout.columns;
  const auto& rgib = layout.rgib;
  if (!(rgib[0] <= rgib[1] && rgib[1] <= rgib[2] && rgib[2] <= rgib[3])) {
    out.push_back("column group ends are out of order");
  }
  std::size_t ceb = (cols.size() + 7) / 8;
  if (rgib[2] + ceb > rgib[3]) {
    out.push_back("cell existence bitmap of " + std::to_string(rgib[3] - std::min(rgib[2], rgib[3])) +
                  " bytes cannot hold " + std::to_string(cols.size()) + " columns");
  }
  if (rgib[3] == 0 || rgib[3] > ndb::kMaxBlockData) {
    out.push_back("row size " + std::to_string(rgib[3]) + " does not fit a block");
  }
  std::vector<bool> bit_used(256, false);
  bool has_row_id = false;
  bool has_row_ver = false;
  for (std::size_t i = 0; i < cols.size(); ++i) {
    const TcColumn& c = cols[i];
    std::string name = "column " + base::Hex(c.tag, 8);
    if (i > 0 && cols[i - 1].tag >= c.tag) out.push_back(name + " is out of tag order");
    if (c.tag == kPrLtpRowId) {
      has_row_id = true;
      if (c.ib_data != 0 || c.i_bit != 0) out.push_back("row id column is not at offset 0, bit 0");
    }
    if (c.tag == kPrLtpRowVer) {
      has_row_ver = true;
      if (c.ib_data != 4 || c.i_bit != 1) out.push_back("row version column is not at offset 4, bit 1");
    }
    if (c.cb_data != TcCellSize(PropTypeOf(c.tag))) {
      out.push_back(name + " is " + std::to_string(c.cb_data) + " bytes wide, its type needs " +
                    std::to_string(TcCellSize(PropTypeOf(c.tag))));
    }
    std::size_t lo = c.cb_data >= 4 ? 0 : c.cb_data == 2 ? rgib[0] : rgib[1];
    std::size_t hi = c.cb_data >= 4 ? rgib[0] : c.cb_data == 2 ? rgib[1] : rgib[2];
    if (c.ib_data < lo || c.ib_data + c.cb_data > hi) {
      out.push_back(name + " at offset " + std::to_string(c.ib_data) + " lies outside its " +
                    std::to_string(c.cb_data) + "-byte group");
    }
    if (c.i_bit >= cols.size() || bit_used[c.i_bit]) {
      out.push_back(name + " has cell existence bit " + std::to_string(c.i_bit) +
                    ", out of range or shared");
    } else {
      bit_used[c.i_bit] = true;
    }
  }
  if (!has_row_id || !has_row_ver) out.push_back("table lacks the row id or row version column");
  std::vector<const TcColumn*> by_offset;
  for (const TcColumn& c : cols) by_offset.push_back(&c);
  std::sort(by_offset.begin(), by_offset.end(),
            [](const TcColumn* a, const TcColumn* b) { return a->ib_data < b->ib_data; });
  for (std::size_t i = 1; i < by_offset.size(); ++i) {
    if (by_offset[i - 1]->ib_data + by_offset[i - 1]->cb_data > by_offset[i]->ib_data) {
      out.push_back("columns " + base::Hex(by_offset[i - 1]->tag, 8) + " and " +
                    base::Hex(by_offset[i]->tag, 8) + " overlap in the row");
    }
  }
  return out;
}

}  // namespace mailvane::pst::ltp
