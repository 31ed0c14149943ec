#include "pst/messaging/packed_row.h"

#include <cstring>

namespace mailvane::pst::messaging {
namespace {

constexpr std::size_t kCellHeader = 10;

void Put(std::uint8_t* p, std::uint64_t v, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint64_t Get(const std::uint8_t* p, std::size_t n) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
  return v;
}

}  // namespace

PackedRow::PackedRow(std::uint32_t row_id, std::span<const ltp::TaggedValue> cells) : row_id_(row_id) {
  std::size_t size = 0;
  for (const ltp::TaggedValue& c : cells) size += kCellHeader + c.value.bytes().size();
  bytes_.resize(size);
  std::uint8_t* p = bytes_.data();
  for (const ltp::TaggedValue& c : cells) {
    const auto& b = c.value.bytes();
    Put(p, c.tag, 4);
    Put(p + 4, static_cast<std::uint16_t>(c.value.type()), 2);
    Put(p + 6, b.size(), 4);
    if (!b.empty()) std::memcpy(p + kCellHeader, b.data(), b.size());
    p += kCellHeader + b.size();
  }
}

void PackedRow::UnpackInto(std::vector<ltp::TaggedValue>& out) const {
  // The values already in out keep their buffers: a table write unpacks every row of a
  // folder into the same list, without an allocation per cell.
  std::size_t n = 0;
  const std::uint8_t* p = bytes_.data();
  const std::uint8_t* end = p + bytes_.size();
  while (p < end) {
    const auto tag = static_cast<ltp::PropTag>(Get(p, 4));
    const auto type = static_cast<ltp::PropType>(Get(p + 4, 2));
    const auto size = static_cast<std::size_t>(Get(p + 6, 4));
    p += kCellHeader;
    if (n == out.size()) out.emplace_back();
    out[n].tag = tag;
    out[n].value.Assign(type, p, size);
    ++n;
    p += size;
  }
  out.resize(n);
}

std::vector<ltp::TaggedValue> PackedRow::Unpack() const {
  std::vector<ltp::TaggedValue> out;
  UnpackInto(out);
  return out;
}

}  // namespace mailvane::pst::messaging
