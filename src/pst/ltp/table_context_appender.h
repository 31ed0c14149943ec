// A table context that grows row by row over many commits, such as a folder's contents
// table. Rows are added in memory only (a message and its row are saved together, so the
// row must not fail on the file); each Write() puts the full row-matrix blocks and heap
// pages in the file and drops them from memory, which keeps only what finishing the table
// needs (the partial block and page, the IDs of the blocks written with their first row
// ids). A commit thus writes what changed since the last one plus the trees over it. A
// table whose rows fit one heap allocation is kept as values and written whole, in the
// compact form small tables always had (one heap page, no subnodes).
//
// Each row is written once, at its place in the matrix. Row ids grow as rows are
// appended, so a row is found by its id in the matrix itself: memory does not grow with
// the rows. A table read from the file may hold its ids in any order; only such a table
// keeps an index of them.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "pst/ltp/bth.h"
#include "pst/ltp/heap_on_node.h"
#include "pst/ltp/ltp_node.h"
#include "pst/ltp/table_context.h"

namespace mailvane::pst::ltp {

class TableContextAppender {
 public:
  explicit TableContextAppender(std::span<const PropTag> columns, EmptyCells empty = EmptyCells::kAbsent);

  std::size_t row_count() const { return rows_; }
  // May read a matrix block back from the file.
  bool Contains(ndb::NodeDatabase& db, std::uint32_t id) { return PositionOf(db, id).has_value(); }

  // A new row after the others; its id must be above every id so far. Bad input raises
  // std::invalid_argument and adds nothing. The row's version is its position + 1.
  void Append(ndb::NodeDatabase& db, std::uint32_t id, std::span<const TaggedValue> values);
  // The rows of an existing table, in matrix order, into an empty appender.
  void Load(ndb::NodeDatabase& db, std::span<const TcRow> rows);
  // Replaces the row with that id in its place; only its matrix block is written again
  // (a block already in the file is read back).
  void Replace(ndb::NodeDatabase& db, std::uint32_t id, std::span<const TaggedValue> values);
  // A 4-byte cell of the row with that id, when the row and the cell exist.
  std::optional<std::uint32_t> Cell32(ndb::NodeDatabase& db, std::uint32_t id, PropTag tag);

  // The table as it stands, for the node's entry: its data tree and its subnode tree (the
  // row matrix and large values). The blocks written before are shared with the trees of
  // the last Write(), which the node entry is expected to replace.
  struct Trees {
    ndb::Bid data = 0;
    ndb::Bid subnodes = 0;
  };
  Trees Write(ndb::NodeDatabase& db);
  // Bytes the next Write() may put in the file.
  std::uint64_t WriteSizeEstimate() const;
  // Gives back the references no tree holds yet (a table that is dropped).
  void Release(ndb::NodeDatabase& db);

 private:
  std::optional<std::size_t> PositionOf(ndb::NodeDatabase& db, std::uint32_t id);
  std::optional<std::size_t> FindInMatrix(ndb::NodeDatabase& db, std::uint32_t id);
  void FlushFull(ndb::NodeDatabase& db);
  // A row's bytes where they are kept until the next Write().
  std::span<std::uint8_t> RowAt(ndb::NodeDatabase& db, std::size_t position);
  // Encodes into out; on failure nothing of the row stays in the heap or the file.
  void Encode(ndb::NodeDatabase& db, std::uint32_t id, std::size_t position,
              std::span<const TaggedValue> values, std::span<std::uint8_t> out);
  void AddToMatrix(ndb::NodeDatabase& db, std::uint32_t id, std::span<const TaggedValue> values);
  void IndexRow(std::uint32_t id, std::uint32_t position);
  void DropLargeValues(ndb::NodeDatabase& db, std::span<const std::uint8_t> row);
  bool FitsSmall(std::size_t rows) const { return rows * layout_.row_size() <= kMaxHeapAllocation; }
  void LeaveSmall(ndb::NodeDatabase& db);
  Trees WriteSmall(ndb::NodeDatabase& db) const;

  std::optional<std::vector<TcRow>> small_{std::in_place};  // the rows of a small table
  TcLayout layout_;
  EmptyCells empty_;
  std::size_t rows_per_block_;
  HeapWriter heap_{kClientSigTable};
  ndb::Hid index_header_ = 0;
  ndb::Hid info_ = 0;
  BthAppender index_{4, 4};
  LtpSubnodeNids nids_{2};               // 1 is the row matrix's
  // What went to the file: until a Write() hands it over, the reference is the appender's.
  struct Block {
    ndb::Bid bid = 0;
    std::uint32_t first_id = 0;  // of its first row, for finding rows by id
    bool shared = false;         // in the last Write()'s trees
  };
  struct LargeValue {
    ndb::Nid nid = 0;
    Block data;
  };
  void UndoWrite(ndb::NodeDatabase& db, ndb::Bid tree, bool with_large);

  std::vector<LargeValue> large_;  // values above a heap allocation
  std::deque<Block> blocks_;       // full matrix blocks
  std::vector<std::uint8_t> tail_;       // rows after the full blocks
  std::map<std::size_t, std::vector<std::uint8_t>> replaced_;  // full blocks with replaced rows
  std::size_t rows_since_flush_ = 0;
  std::size_t rows_ = 0;
  std::uint32_t last_id_ = 0;  // the highest row id
  // (id, matrix position) by id, for a table loaded with its ids out of matrix order only.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> unordered_;
};

}  // namespace mailvane::pst::ltp
