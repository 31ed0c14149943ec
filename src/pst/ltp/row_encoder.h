// Fills the bytes of one row of a table context from its values, placing variable-size
// values in the heap or in subnodes.
#pragma once

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "base/hex.h"
#include "base/little_endian.h"
#include "pst/ltp/table_context.h"
#include "pst/ltp/value_placement.h"

namespace mailvane::pst::ltp {

class RowEncoder {
 public:
  RowEncoder(const TcLayout& layout, ValuePlacement& place, EmptyCells empty)
      : layout_(layout), place_(place), empty_(empty) {
    lookup_.reserve(layout.columns.size());
    for (const TcColumn& c : layout.columns) lookup_.push_back(&c);  // already in tag order
  }

  void Encode(const TcRowView& row, std::span<std::uint8_t> out) {
    std::fill(out.begin(), out.end(), 0);
    base::Put32(out, 0, row.id);
    base::Put32(out, 4, row.version);
    SetBit(out, 0);
    SetBit(out, 1);
    for (const TaggedValue& v : row.values) {
      const TcColumn* c = Find(v.tag);
      if (c == nullptr || v.tag == kPrLtpRowId || v.tag == kPrLtpRowVer) {
        throw std::invalid_argument("row " + std::to_string(row.id) + " has a value for " +
                                    base::Hex(v.tag, 8) + ", which is not a column of the table");
      }
      if (v.value.type() != PropTypeOf(v.tag)) {
        throw std::invalid_argument("row " + std::to_string(row.id) + ": value of " +
                                    base::Hex(v.tag, 8) + " has another type");
      }
      if (HasBit(out, c->i_bit)) {
        throw std::invalid_argument("row " + std::to_string(row.id) + " has two values for " +
                                    base::Hex(v.tag, 8));
      }
      const std::vector<std::uint8_t>& bytes = v.value.bytes();
      std::size_t fixed = FixedSizeOf(v.value.type());
      // An empty variable-size value has no heap item: like Outlook, leave the cell absent
      // rather than present with a reference of 0, which strict readers cannot read.
      if (fixed == 0 && bytes.empty() && empty_ == EmptyCells::kAbsent) continue;
      SetBit(out, c->i_bit);
      if (fixed != 0 && fixed == c->cb_data) {
        if (bytes.size() != fixed) {
          throw std::invalid_argument("row " + std::to_string(row.id) + ": value of " +
                                      base::Hex(v.tag, 8) + " holds " + std::to_string(bytes.size()) +
                                      " bytes, its type " + std::to_string(fixed));
        }
        std::memcpy(out.data() + c->ib_data, bytes.data(), fixed);
      } else {
        if (fixed != 0 && bytes.size() != fixed) {
          throw std::invalid_argument("row " + std::to_string(row.id) + ": value of " +
                                      base::Hex(v.tag, 8) + " has the wrong size");
        }
        base::Put32(out, c->ib_data, place_.Place(bytes));
      }
    }
  }

 private:
  const TcColumn* Find(PropTag tag) const {
    auto it = std::lower_bound(lookup_.begin(), lookup_.end(), tag,
                               [](const TcColumn* c, PropTag t) { return c->tag < t; });
    return it != lookup_.end() && (*it)->tag == tag ? *it : nullptr;
  }
  // Bit b of the bitmap is the MSB-first bit b of the bytes after rgib[TCI_1b].
  void SetBit(std::span<std::uint8_t> row, std::size_t bit) const {
    row[layout_.rgib[2] + bit / 8] |= static_cast<std::uint8_t>(0x80 >> (bit % 8));
  }
  bool HasBit(std::span<const std::uint8_t> row, std::size_t bit) const {
    return (row[layout_.rgib[2] + bit / 8] & (0x80 >> (bit % 8))) != 0;
  }

  const TcLayout& layout_;
  ValuePlacement& place_;
  EmptyCells empty_;
  std::vector<const TcColumn*> lookup_;
};

}  // namespace mailvane::pst::ltp
