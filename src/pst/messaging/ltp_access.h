// The few property- and table-context operations the messaging layer needs, in the shape
// it needs them: a property context as a list of values, a table as columns plus rows of
// values. Everything here goes through the LTP layer's own writers and readers.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "pst/ltp/property_value.h"
#include "pst/ltp/table_context.h"
#include "pst/ndb/node_database.h"

namespace mailvane::pst::messaging {

struct NodeContent {
  ndb::Bid data = 0;
  ndb::Bid subnodes = 0;
};

struct TableRow {
  std::uint32_t row_id = 0;
  std::vector<ltp::TaggedValue> cells;  // present cells only; the row id/version columns are implied
};

struct TableData {
  std::vector<ltp::PropTag> columns;
  std::vector<TableRow> rows;  // in row-matrix order
};

// A new property context holding exactly these values.
NodeContent WriteProperties(ndb::NodeDatabase& db, std::span<const ltp::TaggedValue> values);
std::vector<ltp::TaggedValue> ReadProperties(ndb::NodeDatabase& db, const ndb::NodeEntry& node);

// One row as the table writer takes it; the cells need to live only until the next row.
struct TableRowView {
  std::uint32_t row_id = 0;
  std::span<const ltp::TaggedValue> cells;
};

// A new table context; cells whose tag is not a column raise std::invalid_argument.
NodeContent WriteTable(ndb::NodeDatabase& db, std::span<const ltp::PropTag> columns,
                       std::span<const TableRow> rows,
                       ltp::EmptyCells empty = ltp::EmptyCells::kAbsent);
// The same with the rows produced one at a time, in row-matrix order.
NodeContent WriteTable(ndb::NodeDatabase& db, std::span<const ltp::PropTag> columns, std::size_t row_count,
                       const std::function<TableRowView(std::size_t)>& row_at,
                       ltp::EmptyCells empty = ltp::EmptyCells::kAbsent);
TableData ReadTable(ndb::NodeDatabase& db, const ndb::NodeEntry& node);

// Small helpers over value lists.
const ltp::PropValue* FindValue(std::span<const ltp::TaggedValue> values, ltp::PropTag tag);
void SetValue(std::vector<ltp::TaggedValue>& values, ltp::PropTag tag, ltp::PropValue value);
void EraseValue(std::vector<ltp::TaggedValue>& values, ltp::PropTag tag);

}  // namespace mailvane::pst::messaging
