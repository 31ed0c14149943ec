// Table context (MS-PST 2.3.4): a table of rows over a heap. TCINFO describes the columns,
// a BTH (the row index) maps each row id to its position in the row matrix, and the row
// matrix holds fixed-size rows: 8- and 4-byte cells, 2-byte cells, 1-byte cells, then the
// cell existence bitmap. Variable-size cells hold HNIDs.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "pst/ltp/heap_on_node.h"
#include "pst/ltp/ltp_node.h"
#include "pst/ltp/property_value.h"

namespace mailvane::pst::ltp {

inline constexpr PropTag kPrLtpRowId = 0x67F20003;
inline constexpr PropTag kPrLtpRowVer = 0x67F30003;
inline constexpr std::uint8_t kTcInfoType = 0x7C;
inline constexpr std::size_t kTcInfoFixedSize = 22;

struct TcColumn {
  PropTag tag = 0;
  std::uint16_t ib_data = 0;
  std::uint8_t cb_data = 0;
  std::uint8_t i_bit = 0;
  bool operator==(const TcColumn&) const = default;
};

struct TcLayout {
  std::vector<TcColumn> columns;  // sorted by tag, as TCINFO stores them
  std::array<std::uint16_t, 4> rgib{};  // ends of the 8/4-byte, 2-byte, 1-byte and bitmap areas
  std::size_t row_size() const { return rgib[3]; }
};

// Width of a column's cell: 8, 4, 2 or 1; variable-size types (and GUIDs) hold a 4-byte HNID.
std::uint8_t TcCellSize(PropType type);

// The layout for these tags (any order; the row id and version columns are added when
// missing). Duplicates or more than 255 columns raise std::invalid_argument.
TcLayout LayoutTableColumns(std::span<const PropTag> tags);

// One row as the writer reads it: its id (the RowIndex key, never 0), its version, and
// the cells that exist (any order, each tag a column; row id and version come from here).
struct TcRowView {
  std::uint32_t id = 0;
  std::uint32_t version = 0;
  std::span<const TaggedValue> values;
};

struct TcRow {
  std::uint32_t id = 0;
  std::uint32_t version = 0;
  std::vector<TaggedValue> values;  // existing cells other than the row id and version
  bool operator==(const TcRow&) const = default;
};

// What an empty variable-size value becomes. Outlook leaves such a cell absent in contents
// and hierarchy tables; its receive folder table keeps the default entry's empty message
// class as a cell marked present with value reference 0.
enum class EmptyCells { kAbsent, kPresentWithoutValue };

// Writes a table context; rows go into the matrix in the order given. Time and memory are
// linear in the rows; the matrix goes block by block into a subnode when it outgrows one
// heap allocation. Bad input raises std::invalid_argument and leaves nothing written.
LtpNode WriteTableContext(ndb::NodeDatabase& db, std::span<const PropTag> columns,
                          std::size_t row_count,
                          const std::function<TcRowView(std::size_t)>& row_at,
                          LtpSubnodeNids nids = LtpSubnodeNids(),
                          EmptyCells empty = EmptyCells::kAbsent);
LtpNode WriteTableContext(ndb::NodeDatabase& db, std::span<const PropTag> columns,
                          std::span<const TcRow> rows, LtpSubnodeNids nids = LtpSubnodeNids());

// Fills a TCINFO allocation of kTcInfoFixedSize + 8 bytes per column.
void FillTcInfo(std::span<std::uint8_t> tc, const TcLayout& layout, ndb::Hid row_index,
                std::uint32_t hnid_rows);

// Everything wrong with a column set, one message each (empty when sound).
std::vector<std::string> TableLayoutProblems(const TcLayout& layout);

class TableContext {
 public:
  // Parses TCINFO, the row index and the row matrix, and checks them against each other;
  // damage raises FormatError.
  TableContext(ndb::NodeDatabase& db, ndb::Bid data, std::span<const ndb::SubnodeEntry> subnodes);

  const TcLayout& layout() const { return layout_; }
  std::size_t row_count() const { return index_.size(); }
  // (row id, matrix position) in row id order.
  const std::vector<std::pair<std::uint32_t, std::uint32_t>>& row_index() const { return index_; }
  std::size_t matrix_rows() const { return matrix_rows_; }

  // Every row, in row matrix order, with its existing cells.
  std::vector<TcRow> ReadRows() const;
  std::optional<TcRow> FindRow(std::uint32_t id) const;
  // Variable-size cells marked present whose value reference is 0: readers that follow
  // Outlook (which leaves an empty cell absent) cannot read them. One text per cell.
  std::vector<std::string> CellsWithoutValue() const;

 private:
  std::span<const std::uint8_t> RowBytes(std::size_t position) const;
  TcRow DecodeRow(std::uint32_t id, std::size_t position) const;

  ndb::NodeDatabase& db_;
  HeapReader heap_;
  std::vector<ndb::SubnodeEntry> subnodes_;
  TcLayout layout_;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> index_;
  std::vector<std::vector<std::uint8_t>> matrix_blocks_;
  std::size_t rows_per_block_ = 0;
  std::size_t matrix_rows_ = 0;
};

}  // namespace mailvane::pst::ltp
