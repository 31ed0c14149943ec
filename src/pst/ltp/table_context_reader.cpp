#include <algorithm>
#include <cstdio>
#include <string>

#include "base/hex.h"
#include "pst/ltp/bth.h"
#include "base/little_endian.h"
#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/ndb/format_error.h"

namespace mailvane::pst::ltp {
namespace {

TcLayout ParseTcInfo(std::span<const std::uint8_t> info) {
  if (info.size() < kTcInfoFixedSize || info[0] != kTcInfoType) {
    throw ndb::FormatError("table context header is not a TCINFO");
  }
  std::size_t count = info[1];
  if (info.size() < kTcInfoFixedSize + 8 * count) {
    throw ndb::FormatError("TCINFO of " + std::to_string(info.size()) + " bytes cannot hold " +
                      std::to_string(count) + " column descriptors");
  }
  TcLayout layout;
  for (int g = 0; g < 4; ++g) layout.rgib[g] = base::Get16(info, 2 + 2 * g);
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t at = kTcInfoFixedSize + 8 * i;
    layout.columns.push_back({base::Get32(info, at), base::Get16(info, at + 4), info[at + 6], info[at + 7]});
  }
  return layout;
}

}  // namespace

TableContext::TableContext(ndb::NodeDatabase& db, ndb::Bid data, std::span<const ndb::SubnodeEntry> subnodes)
    : db_(db), heap_(HeapReader::Load(db, data)), subnodes_(subnodes.begin(), subnodes.end()) {
  if (heap_.client_sig() != kClientSigTable) {
    throw ndb::FormatError("heap client signature " + base::Hex(heap_.client_sig()) +
                      " is not a table context's");
  }
  std::span<const std::uint8_t> info = heap_.Get(heap_.user_root());
  layout_ = ParseTcInfo(info);
  std::vector<std::string> problems = TableLayoutProblems(layout_);
  if (!problems.empty()) throw ndb::FormatError("table columns: " + problems.front());

  BthReader index(heap_, base::Get32(info, 10));
  if (index.header().cb_key != 4 || index.header().cb_ent != 4) {
    throw ndb::FormatError("row index BTH has key size " + std::to_string(index.header().cb_key) +
                      " and entry size " + std::to_string(index.header().cb_ent));
  }
  index.ForEach([&](std::span<const std::uint8_t> key, std::span<const std::uint8_t> ent) {
    index_.emplace_back(base::Get32(key, 0), base::Get32(ent, 0));
  });

  const std::size_t row_size = layout_.row_size();
  std::uint32_t hnid_rows = base::Get32(info, 14);
  if (hnid_rows == 0) {
    rows_per_block_ = 1;
  } else if (IsHid(hnid_rows)) {
    std::span<const std::uint8_t> a = heap_.Get(hnid_rows);
    matrix_blocks_.emplace_back(a.begin(), a.end());
    matrix_rows_ = a.size() / row_size;
    rows_per_block_ = std::max<std::size_t>(matrix_rows_, 1);
  } else {
    auto it = std::find_if(subnodes_.begin(), subnodes_.end(),
                           [&](const ndb::SubnodeEntry& e) { return e.nid == hnid_rows; });
    if (it == subnodes_.end() || it->data == 0) {
      throw ndb::FormatError("row matrix subnode " + base::Hex(hnid_rows) + " is missing");
    }
    rows_per_block_ = ndb::kMaxBlockData / row_size;
    std::vector<ndb::Bid> leaves = db_.DataLeaves(it->data);
    for (std::size_t b = 0; b < leaves.size(); ++b) {
      matrix_blocks_.push_back(db_.ReadBlock(leaves[b]));
      std::size_t rows = matrix_blocks_.back().size() / row_size;
      if (b + 1 < leaves.size() && rows < rows_per_block_) {
        throw ndb::FormatError("row matrix block " + std::to_string(b) + " holds " +
                          std::to_string(rows) + " rows, not " + std::to_string(rows_per_block_));
      }
      matrix_rows_ += std::min(rows, rows_per_block_);
    }
  }

  std::vector<bool> used(matrix_rows_, false);
  for (const auto& [id, position] : index_) {
    if (position >= matrix_rows_) {
      throw ndb::FormatError("row index sends row id " + base::Hex(id) + " to position " +
                        std::to_string(position) + " of a matrix of " +
                        std::to_string(matrix_rows_) + " rows");
    }
    if (used[position]) {
      throw ndb::FormatError("row index sends two row ids to position " + std::to_string(position));
    }
    used[position] = true;
    if (base::Get32(RowBytes(position), 0) != id) {
      throw ndb::FormatError("row at position " + std::to_string(position) + " holds row id " +
                        base::Hex(base::Get32(RowBytes(position), 0)) + ", the index says " + base::Hex(id));
    }
  }
}

std::span<const std::uint8_t> TableContext::RowBytes(std::size_t position) const {
  std::size_t block = position / rows_per_block_;
  std::size_t row = position % rows_per_block_;
  std::size_t size = layout_.row_size();
  return std::span<const std::uint8_t>(matrix_blocks_[block]).subspan(row * size, size);
}

TcRow TableContext::DecodeRow(std::uint32_t id, std::size_t position) const {
  std::span<const std::uint8_t> bytes = RowBytes(position);
  TcRow row;
  row.id = id;
  row.version = base::Get32(bytes, 4);
  for (const TcColumn& c : layout_.columns) {
    if (c.tag == kPrLtpRowId || c.tag == kPrLtpRowVer) continue;
    if ((bytes[layout_.rgib[2] + c.i_bit / 8] & (0x80 >> (c.i_bit % 8))) == 0) continue;
    PropType type = PropTypeOf(c.tag);
    std::size_t fixed = FixedSizeOf(type);
    std::vector<std::uint8_t> value;
    if (fixed != 0 && fixed == c.cb_data) {
      value.assign(bytes.begin() + c.ib_data, bytes.begin() + c.ib_data + fixed);
    } else {
      value = ReadHnid(db_, heap_, subnodes_, base::Get32(bytes, c.ib_data));
      if (fixed != 0 && value.size() != fixed) {
        throw ndb::FormatError("cell " + base::Hex(c.tag) + " of row " + base::Hex(id) + " holds " +
                          std::to_string(value.size()) + " bytes");
      }
    }
    row.values.push_back({c.tag, PropValue(type, std::move(value))});
  }
  return row;
}

std::vector<TcRow> TableContext::ReadRows() const {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> by_position;
  by_position.reserve(index_.size());
  for (const auto& [id, position] : index_) by_position.emplace_back(position, id);
  std::sort(by_position.begin(), by_position.end());
  std::vector<TcRow> rows;
  rows.reserve(by_position.size());
  for (const auto& [position, id] : by_position) rows.push_back(DecodeRow(id, position));
  return rows;
}

std::vector<std::string> TableContext::CellsWithoutValue() const {
  std::vector<std::string> out;
  for (const auto& [id, position] : index_) {
    std::span<const std::uint8_t> bytes = RowBytes(position);
    for (const TcColumn& c : layout_.columns) {
      const bool present = (bytes[layout_.rgib[2] + c.i_bit / 8] & (0x80 >> (c.i_bit % 8))) != 0;
      const std::size_t fixed = FixedSizeOf(PropTypeOf(c.tag));
      if (present && !(fixed != 0 && fixed == c.cb_data) && base::Get32(bytes, c.ib_data) == 0) {
        out.push_back("row " + base::Hex(id) + ": cell " + base::Hex(c.tag) +
                      " is marked present with value reference 0");
      }
    }
  }
  return out;
}

std::optional<TcRow> TableContext::FindRow(std::uint32_t id) const {
  auto it = std::lower_bound(index_.begin(), index_.end(), std::make_pair(id, std::uint32_t{0}));
  if (it == index_.end() || it->first != id) return std::nullopt;
  return DecodeRow(id, it->second);
}

}  // namespace mailvane::pst::ltp
