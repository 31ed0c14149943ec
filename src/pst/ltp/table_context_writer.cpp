#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "base/hex.h"
#include "pst/ltp/bth.h"
#include "base/little_endian.h"
#include "pst/ltp/table_context.h"
#include "pst/ltp/row_encoder.h"
#include "pst/ltp/value_placement.h"

namespace mailvane::pst::ltp {

void FillTcInfo(std::span<std::uint8_t> tc, const TcLayout& layout, ndb::Hid row_index,
                std::uint32_t hnid_rows) {
  tc[0] = kTcInfoType;
  tc[1] = static_cast<std::uint8_t>(layout.columns.size());
  for (int g = 0; g < 4; ++g) base::Put16(tc, 2 + 2 * g, layout.rgib[g]);
  base::Put32(tc, 10, row_index);
  base::Put32(tc, 14, hnid_rows);
  base::Put32(tc, 18, 0);
  for (std::size_t i = 0; i < layout.columns.size(); ++i) {
    const TcColumn& c = layout.columns[i];
    std::size_t at = kTcInfoFixedSize + 8 * i;
    base::Put32(tc, at, c.tag);
    base::Put16(tc, at + 4, c.ib_data);
    tc[at + 6] = c.cb_data;
    tc[at + 7] = c.i_bit;
  }
}

LtpNode WriteTableContext(ndb::NodeDatabase& db, std::span<const PropTag> columns,
                          std::size_t row_count,
                          const std::function<TcRowView(std::size_t)>& row_at, LtpSubnodeNids nids,
                          EmptyCells empty) {
  const TcLayout layout = LayoutTableColumns(columns);
  const std::size_t row_size = layout.row_size();
  HeapWriter heap(kClientSigTable);
  ValuePlacement place(db, heap, nids);
  std::vector<ndb::Bid> loose_blocks;  // matrix blocks not yet joined into a tree
  try {
    std::uint8_t blank[kBthHeaderSize] = {};
    ndb::Hid index_header = heap.Allocate(blank);
    std::vector<std::uint8_t> info(kTcInfoFixedSize + 8 * layout.columns.size());
    ndb::Hid info_hid = heap.Allocate(info);
    heap.SetUserRoot(info_hid);

    RowEncoder encoder(layout, place, empty);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> index;
    index.reserve(row_count);
    std::uint32_t hnid_rows = 0;
    const bool in_heap = row_count * row_size <= kMaxHeapAllocation;
    // Rows never span blocks: each block holds a whole number of rows and every block but
    // the last is padded to the full block size.
    const std::size_t per_block = in_heap ? std::max<std::size_t>(row_count, 1) : ndb::kMaxBlockData / row_size;
    std::vector<std::uint8_t> block;
    block.reserve(in_heap ? row_count * row_size : ndb::kMaxBlockData);
    std::uint64_t matrix_bytes = 0;
    for (std::size_t r = 0; r < row_count; ++r) {
      TcRowView row = row_at(r);
      if (row.id == 0) throw std::invalid_argument("table row id 0 is not allowed");
      index.emplace_back(row.id, static_cast<std::uint32_t>(r));
      std::size_t at = block.size();
      block.resize(at + row_size);
      encoder.Encode(row, std::span<std::uint8_t>(block).subspan(at, row_size));
      bool block_full = (r + 1) % per_block == 0;
      if (!in_heap && (block_full || r + 1 == row_count)) {
        if (r + 1 < row_count) block.resize(ndb::kMaxBlockData, 0);
        loose_blocks.push_back(db.WriteBlock(block));
        matrix_bytes += block.size();
        block.clear();
      }
    }
    if (row_count > 0 && in_heap) {
      hnid_rows = heap.Allocate(block);
    } else if (row_count > 0) {
      ndb::Bid tree = db.WriteDataTree(loose_blocks, matrix_bytes);
      loose_blocks.clear();
      hnid_rows = place.AddSubnode(tree);
    }

    std::sort(index.begin(), index.end());
    std::vector<std::uint8_t> records;
    records.reserve(index.size() * 8);
    for (std::size_t i = 0; i < index.size(); ++i) {
      if (i > 0 && index[i - 1].first == index[i].first) {
        throw std::invalid_argument("table row id " + std::to_string(index[i].first) + " given twice");
      }
      base::Append32(records, index[i].first);
      base::Append32(records, index[i].second);
    }
    WriteBthInto(heap, index_header, 4, 4, records);

    FillTcInfo(heap.At(info_hid), layout, index_header, hnid_rows);
    LtpNode node;
    node.data = heap.Write(db);
    node.subnodes = place.Finish();
    return node;
  } catch (...) {
    for (ndb::Bid bid : loose_blocks) db.Release(bid);
    place.Abort();
    throw;
  }
}

LtpNode WriteTableContext(ndb::NodeDatabase& db, std::span<const PropTag> columns,
                          std::span<const TcRow> rows, LtpSubnodeNids nids) {
  return WriteTableContext(
      db, columns, rows.size(),
      [&](std::size_t i) { return TcRowView{rows[i].id, rows[i].version, rows[i].values}; }, nids);
}

}  // namespace mailvane::pst::ltp
