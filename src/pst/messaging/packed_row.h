// A contents-table row as the store keeps it between commits: every cell packed into one
// buffer. A folder of a hundred thousand messages holds a hundred thousand rows; as lists
// of separately allocated values they were the largest part of a long run's memory.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "pst/ltp/property_value.h"

namespace mailvane::pst::messaging {

class PackedRow {
 public:
  PackedRow(std::uint32_t row_id, std::span<const ltp::TaggedValue> cells);

  std::uint32_t row_id() const { return row_id_; }
  // The cells, in the order they were given, appended to out after clearing it.
  void UnpackInto(std::vector<ltp::TaggedValue>& out) const;
  std::vector<ltp::TaggedValue> Unpack() const;

 private:
  std::uint32_t row_id_;
  std::vector<std::uint8_t> bytes_;  // per cell: tag (4), type (2), size (4), the value's bytes
};

}  // namespace mailvane::pst::messaging
