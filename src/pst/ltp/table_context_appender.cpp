#include "pst/ltp/table_context_appender.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "base/little_endian.h"
#include "pst/ltp/row_encoder.h"
#include "pst/ltp/value_placement.h"

namespace mailvane::pst::ltp {

namespace {

constexpr ndb::Nid kMatrixNid = ndb::MakeNid(ndb::NidType::kLtp, 1);
constexpr std::size_t kMaxTreeLeaves = 1021;  // leaves under one XBLOCK
// Rows appended between two flushes of the full blocks and pages: what waits in memory for
// the next commit stays near 100 KB a table, however far apart the commits are (they grow
// apart as a big file makes each commit longer). Only full pages and blocks go, each once.
constexpr std::size_t kRowsBetweenFlushes = 256;

}  // namespace

TableContextAppender::TableContextAppender(std::span<const PropTag> columns, EmptyCells empty)
    : layout_(LayoutTableColumns(columns)), empty_(empty), rows_per_block_(ndb::kMaxBlockData / layout_.row_size()) {
  std::uint8_t blank[kBthHeaderSize] = {};
  index_header_ = heap_.Allocate(blank);
  std::vector<std::uint8_t> info(kTcInfoFixedSize + 8 * layout_.columns.size());
  info_ = heap_.Allocate(info);
  heap_.SetUserRoot(info_);
  FillTcInfo(heap_.At(info_), layout_, index_header_, 0);
  // Page 0 is written again at every commit: values start on the next page.
  heap_.StartNewPage();
}

std::optional<std::size_t> TableContextAppender::PositionOf(ndb::NodeDatabase& db, std::uint32_t id) {
  if (rows_ == 0 || id == 0 || id > last_id_) return std::nullopt;
  if (small_) {
    const auto it = std::find_if(small_->begin(), small_->end(), [&](const TcRow& row) { return row.id == id; });
    if (it == small_->end()) return std::nullopt;
    return static_cast<std::size_t>(it - small_->begin());
  }
  if (unordered_.empty()) return FindInMatrix(db, id);
  const auto it = std::lower_bound(unordered_.begin(), unordered_.end(), std::make_pair(id, std::uint32_t{0}));
  if (it == unordered_.end() || it->first != id) return std::nullopt;
  return it->second;
}

std::optional<std::size_t> TableContextAppender::FindInMatrix(ndb::NodeDatabase& db, std::uint32_t id) {
  // The rows are in id order: the block is the last one starting at or below the id.
  const std::size_t row = layout_.row_size();
  std::size_t first = blocks_.size() * rows_per_block_;
  std::vector<std::uint8_t> read;
  std::span<const std::uint8_t> rows = tail_;
  if (tail_.empty() || id < base::Get32(tail_, 0)) {
    const auto after = std::upper_bound(blocks_.begin(), blocks_.end(), id,
                                        [](std::uint32_t v, const Block& b) { return v < b.first_id; });
    if (after == blocks_.begin()) return std::nullopt;
    const auto block = static_cast<std::size_t>(after - blocks_.begin()) - 1;
    first = block * rows_per_block_;
    if (const auto it = replaced_.find(block); it != replaced_.end()) {
      rows = it->second;
    } else {
      read = db.ReadBlock(blocks_[block].bid);
      rows = read;
    }
    rows = rows.first(std::min(rows.size(), rows_per_block_ * row));
  }
  std::size_t lo = 0;
  std::size_t hi = rows.size() / row;
  while (lo < hi) {
    const std::size_t mid = (lo + hi) / 2;
    const std::uint32_t at = base::Get32(rows, mid * row);
    if (at == id) return first + mid;
    if (at < id) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return std::nullopt;
}

void TableContextAppender::FlushFull(ndb::NodeDatabase& db) {
  rows_since_flush_ = 0;
  heap_.FlushFullPages(db);
  for (auto it = replaced_.begin(); it != replaced_.end(); it = replaced_.erase(it)) {
    const ndb::Bid written = db.WriteBlock(it->second);
    // A block the last Write() shared goes when the node's new trees replace the old.
    Block& block = blocks_[it->first];
    if (!block.shared) db.Release(block.bid);
    block.bid = written;
    block.shared = false;
  }
  // Every block but the last is padded to the full size.
  const std::size_t full = rows_per_block_ * layout_.row_size();
  std::vector<std::uint8_t> block;
  while (tail_.size() >= full) {
    block.assign(tail_.begin(), tail_.begin() + static_cast<std::ptrdiff_t>(full));
    block.resize(ndb::kMaxBlockData, 0);
    blocks_.push_back(Block{db.WriteBlock(block), base::Get32(block, 0)});
    tail_.erase(tail_.begin(), tail_.begin() + static_cast<std::ptrdiff_t>(full));
  }
  // The rows a folder gained between two commits need not stay reserved: many folders
  // each keeping its largest batch would add up.
  tail_.shrink_to_fit();
}

std::span<std::uint8_t> TableContextAppender::RowAt(ndb::NodeDatabase& db, std::size_t position) {
  const std::size_t block = position / rows_per_block_;
  if (block >= blocks_.size()) {
    const std::size_t at = (position - blocks_.size() * rows_per_block_) * layout_.row_size();
    return std::span<std::uint8_t>(tail_).subspan(at, layout_.row_size());
  }
  auto it = replaced_.find(block);
  if (it == replaced_.end()) it = replaced_.emplace(block, db.ReadBlock(blocks_[block].bid)).first;
  return std::span<std::uint8_t>(it->second).subspan((position % rows_per_block_) * layout_.row_size(),
                                                      layout_.row_size());
}

void TableContextAppender::Encode(ndb::NodeDatabase& db, std::uint32_t id, std::size_t position,
                                  std::span<const TaggedValue> values, std::span<std::uint8_t> out) {
  const HeapWriter::Mark mark = heap_.mark();
  ValuePlacement place(db, heap_, nids_);
  try {
    RowEncoder(layout_, place, empty_).Encode(TcRowView{id, static_cast<std::uint32_t>(position + 1), values}, out);
  } catch (...) {
    place.Abort();
    heap_.RollBack(mark);
    throw;
  }
  for (const ndb::SubnodeEntry& e : place.Finish()) large_.push_back(LargeValue{e.nid, Block{e.data}});
}

void TableContextAppender::AddToMatrix(ndb::NodeDatabase& db, std::uint32_t id,
                                       std::span<const TaggedValue> values) {
  const std::size_t at = tail_.size();
  tail_.resize(at + layout_.row_size());
  try {
    Encode(db, id, blocks_.size() * rows_per_block_ + at / layout_.row_size(), values,
           std::span<std::uint8_t>(tail_).subspan(at));
  } catch (...) {
    tail_.resize(at);
    throw;
  }
}

void TableContextAppender::IndexRow(std::uint32_t id, std::uint32_t position) {
  std::uint8_t record[8];
  base::Put32(record, id);
  base::Put32(record + 4, position);
  index_.Append(heap_, record);
}

void TableContextAppender::Append(ndb::NodeDatabase& db, std::uint32_t id, std::span<const TaggedValue> values) {
  if (id == 0) throw std::invalid_argument("table row id 0 is not allowed");
  if (rows_ > 0 && id <= last_id_) {
    throw std::invalid_argument("table row id " + std::to_string(id) + " is not above the last one, " +
                                std::to_string(last_id_));
  }
  const std::size_t position = rows_;
  if (small_) {
    small_->push_back(TcRow{id, 0, std::vector<TaggedValue>(values.begin(), values.end())});
  } else {
    if (++rows_since_flush_ >= kRowsBetweenFlushes) FlushFull(db);
    AddToMatrix(db, id, values);
    IndexRow(id, static_cast<std::uint32_t>(position));
  }
  ++rows_;
  last_id_ = id;
  if (!unordered_.empty()) unordered_.emplace_back(id, static_cast<std::uint32_t>(position));
  if (small_ && !FitsSmall(small_->size())) LeaveSmall(db);
}

void TableContextAppender::LeaveSmall(ndb::NodeDatabase& db) {
  std::vector<TcRow> rows = std::move(*small_);
  small_.reset();
  const HeapWriter::Mark mark = heap_.mark();
  try {
    for (const TcRow& row : rows) AddToMatrix(db, row.id, row.values);
  } catch (...) {
    for (const LargeValue& v : large_) db.Release(v.data.bid);
    large_.clear();
    tail_.clear();
    heap_.RollBack(mark);
    small_ = std::move(rows);
    throw;
  }
  // The row index goes in id order: the rows' own, unless they were loaded out of it.
  if (unordered_.empty()) {
    for (std::size_t i = 0; i < rows.size(); ++i) IndexRow(rows[i].id, static_cast<std::uint32_t>(i));
  } else {
    for (const auto& [id, position] : unordered_) IndexRow(id, position);
  }
}

void TableContextAppender::Load(ndb::NodeDatabase& db, std::span<const TcRow> rows) {
  if (rows_ != 0) throw std::logic_error("rows are loaded into an empty table only");
  std::vector<std::pair<std::uint32_t, std::uint32_t>> index;
  index.reserve(rows.size());
  for (const TcRow& row : rows) index.emplace_back(row.id, static_cast<std::uint32_t>(index.size()));
  const bool in_order = std::is_sorted(index.begin(), index.end());
  std::sort(index.begin(), index.end());
  for (std::size_t i = 0; i < index.size(); ++i) {
    if (index[i].first == 0 || (i > 0 && index[i - 1].first == index[i].first)) {
      throw std::invalid_argument("table row id " + std::to_string(index[i].first) + " is 0 or given twice");
    }
  }
  rows_ = rows.size();
  last_id_ = index.empty() ? 0 : index.back().first;
  if (!in_order) unordered_ = std::move(index);
  small_->assign(rows.begin(), rows.end());
  if (!FitsSmall(rows.size())) LeaveSmall(db);
}

void TableContextAppender::Replace(ndb::NodeDatabase& db, std::uint32_t id, std::span<const TaggedValue> values) {
  const auto position = PositionOf(db, id);
  if (!position) throw std::invalid_argument("the table has no row " + std::to_string(id) + " to replace");
  if (small_) {
    (*small_)[*position].values.assign(values.begin(), values.end());
    return;
  }
  const std::span<std::uint8_t> row = RowAt(db, *position);
  const std::vector<std::uint8_t> old(row.begin(), row.end());
  std::vector<std::uint8_t> encoded(row.size());
  Encode(db, id, *position, values, encoded);
  std::copy(encoded.begin(), encoded.end(), row.begin());
  DropLargeValues(db, old);  // the old values' heap bytes stay, unreferenced
}

void TableContextAppender::DropLargeValues(ndb::NodeDatabase& db, std::span<const std::uint8_t> row) {
  for (const TcColumn& c : layout_.columns) {
    if (c.cb_data != 4 || FixedSizeOf(PropTypeOf(c.tag)) == 4) continue;
    if ((row[layout_.rgib[2] + c.i_bit / 8] & (0x80 >> (c.i_bit % 8))) == 0) continue;
    const std::uint32_t hnid = base::Get32(row, c.ib_data);
    if (hnid == 0 || IsHid(hnid)) continue;
    const auto it = std::find_if(large_.begin(), large_.end(), [&](const LargeValue& v) { return v.nid == hnid; });
    if (it == large_.end()) continue;
    if (!it->data.shared) db.Release(it->data.bid);
    large_.erase(it);
  }
}

std::optional<std::uint32_t> TableContextAppender::Cell32(ndb::NodeDatabase& db, std::uint32_t id, PropTag tag) {
  const auto position = PositionOf(db, id);
  const auto column = std::find_if(layout_.columns.begin(), layout_.columns.end(),
                                   [&](const TcColumn& c) { return c.tag == tag; });
  if (!position || column == layout_.columns.end() || column->cb_data != 4 || FixedSizeOf(PropTypeOf(tag)) != 4) {
    return std::nullopt;
  }
  if (small_) {
    for (const TaggedValue& v : (*small_)[*position].values) {
      if (v.tag == tag) return static_cast<std::uint32_t>(v.value.AsInt32());
    }
    return std::nullopt;
  }
  const std::span<const std::uint8_t> row = RowAt(db, *position);
  if ((row[layout_.rgib[2] + column->i_bit / 8] & (0x80 >> (column->i_bit % 8))) == 0) return std::nullopt;
  return base::Get32(row, column->ib_data);
}

TableContextAppender::Trees TableContextAppender::WriteSmall(ndb::NodeDatabase& db) const {
  const std::vector<TcRow>& rows = *small_;
  std::vector<PropTag> columns;
  for (const TcColumn& c : layout_.columns) columns.push_back(c.tag);
  const LtpNode node = WriteTableContext(
      db, columns, rows.size(),
      [&](std::size_t i) { return TcRowView{rows[i].id, static_cast<std::uint32_t>(i + 1), rows[i].values}; },
      LtpSubnodeNids(), empty_);
  Trees out{node.data, 0};
  try {
    if (!node.subnodes.empty()) out.subnodes = db.WriteSubnodeTree(node.subnodes);
  } catch (...) {
    db.Release(node.data);
    for (const ndb::SubnodeEntry& e : node.subnodes) db.Release(e.data);
    throw;
  }
  return out;
}

TableContextAppender::Trees TableContextAppender::Write(ndb::NodeDatabase& db) {
  if (small_) return WriteSmall(db);
  FlushFull(db);
  const HeapWriter::Mark mark = heap_.mark();
  std::vector<ndb::Bid> taken;  // references this call made for trees not built yet
  ndb::Bid tree = 0;            // the newest tree built: it holds the ones before
  bool subnode_tree = false;
  Trees out;
  try {
    index_.Finish(heap_, index_header_);
    const bool rows = rows_ != 0;
    FillTcInfo(heap_.At(info_), layout_, index_header_, rows ? kMatrixNid : 0);
    std::vector<ndb::SubnodeEntry> subnodes;
    if (rows) {
      std::vector<ndb::Bid> leaves;
      leaves.reserve(blocks_.size() + 1);
      std::uint64_t total = 0;
      for (const Block& b : blocks_) {
        if (b.shared) {
          db.AddRef(b.bid);
          taken.push_back(b.bid);
        }
        leaves.push_back(b.bid);
        total += ndb::kMaxBlockData;
      }
      if (!tail_.empty()) {
        leaves.push_back(db.WriteBlock(tail_));
        taken.push_back(leaves.back());
        total += tail_.size();
      }
      tree = db.WriteDataTree(leaves, total);
      taken.clear();
      subnodes.push_back({kMatrixNid, tree, 0});
    }
    for (const LargeValue& v : large_) {
      if (v.data.shared) {
        db.AddRef(v.data.bid);
        taken.push_back(v.data.bid);
      }
      subnodes.push_back({v.nid, v.data.bid, 0});
    }
    out.subnodes = db.WriteSubnodeTree(subnodes);
    if (out.subnodes != 0) tree = out.subnodes;
    subnode_tree = true;
    taken.clear();
    heap_.RefreshOpenBitmap(db);  // after the row index's last nodes went into the heap
    out.data = heap_.WriteSharingFlushed(db);
  } catch (...) {
    for (ndb::Bid bid : taken) db.Release(bid);
    UndoWrite(db, tree, subnode_tree);
    heap_.RollBack(mark);
    throw;
  }
  heap_.RollBack(mark);
  heap_.MarkFlushedShared();
  for (Block& b : blocks_) b.shared = true;
  for (LargeValue& v : large_) v.data.shared = true;
  return out;
}

void TableContextAppender::UndoWrite(ndb::NodeDatabase& db, ndb::Bid tree, bool with_large) {
  if (tree == 0) return;
  // The tree took over the references that were still the appender's: take them back
  // before the tree goes.
  for (const Block& b : blocks_) {
    if (!b.shared) db.AddRef(b.bid);
  }
  for (const LargeValue& v : large_) {
    if (with_large && !v.data.shared) db.AddRef(v.data.bid);
  }
  db.Release(tree);
}

std::uint64_t TableContextAppender::WriteSizeEstimate() const {
  if (small_) return 2 * ndb::kMaxBlockData + small_->size() * 512;  // a row's strings: under 512 bytes
  // The partial block and pages, the pages holding the row index's partial nodes, page 0,
  // and the XBLOCKs over the matrix and the heap.
  const std::uint64_t leaves = blocks_.size() + heap_.page_count();
  return tail_.size() + replaced_.size() * ndb::kMaxBlockData + heap_.MemoryBytes() +
         (leaves / kMaxTreeLeaves + 4) * ndb::kMaxBlockData;
}

void TableContextAppender::Release(ndb::NodeDatabase& db) {
  heap_.ReleaseFlushed(db);
  for (const Block& b : blocks_) {
    if (!b.shared) db.Release(b.bid);
  }
  for (const LargeValue& v : large_) {
    if (!v.data.shared) db.Release(v.data.bid);
  }
  blocks_.clear();
  large_.clear();
}

}  // namespace mailvane::pst::ltp
