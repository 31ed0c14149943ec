#include "pst/messaging/ltp_access.h"

#include <algorithm>

#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"

namespace mailvane::pst::messaging {

namespace {

ndb::Bid SubnodeTree(ndb::NodeDatabase& db, std::vector<ndb::SubnodeEntry> subnodes) {
  return subnodes.empty() ? 0 : db.WriteSubnodeTree(std::move(subnodes));
}

std::vector<ndb::SubnodeEntry> SubnodesOf(ndb::NodeDatabase& db, const ndb::NodeEntry& node) {
  return node.subnodes == 0 ? std::vector<ndb::SubnodeEntry>() : db.ReadSubnodes(node.subnodes);
}

}  // namespace

NodeContent WriteProperties(ndb::NodeDatabase& db, std::span<const ltp::TaggedValue> values) {
  ltp::LtpNode node = ltp::WritePropertyContext(db, std::vector<ltp::TaggedValue>(values.begin(), values.end()));
  return NodeContent{node.data, SubnodeTree(db, std::move(node.subnodes))};
}

std::vector<ltp::TaggedValue> ReadProperties(ndb::NodeDatabase& db, const ndb::NodeEntry& node) {
  const auto subnodes = SubnodesOf(db, node);
  return ltp::PropertyContext(db, node.data, subnodes).ReadAll();
}

NodeContent WriteTable(ndb::NodeDatabase& db, std::span<const ltp::PropTag> columns,
                       std::span<const TableRow> rows, ltp::EmptyCells empty) {
  return WriteTable(
      db, columns, rows.size(),
      [&](std::size_t i) { return TableRowView{rows[i].row_id, rows[i].cells}; }, empty);
}

NodeContent WriteTable(ndb::NodeDatabase& db, std::span<const ltp::PropTag> columns, std::size_t row_count,
                       const std::function<TableRowView(std::size_t)>& row_at,
                       ltp::EmptyCells empty) {
  // Row versions only need to grow within a table; the position gives that.
  ltp::LtpNode node = ltp::WriteTableContext(
      db, columns, row_count,
      [&](std::size_t i) {
        const TableRowView row = row_at(i);
        return ltp::TcRowView{row.row_id, static_cast<std::uint32_t>(i + 1), row.cells};
      },
      ltp::LtpSubnodeNids(), empty);
  return NodeContent{node.data, SubnodeTree(db, std::move(node.subnodes))};
}

TableData ReadTable(ndb::NodeDatabase& db, const ndb::NodeEntry& node) {
  const auto subnodes = SubnodesOf(db, node);
  const ltp::TableContext table(db, node.data, subnodes);
  TableData out;
  for (const auto& c : table.layout().columns) out.columns.push_back(c.tag);
  for (ltp::TcRow& row : table.ReadRows()) out.rows.push_back(TableRow{row.id, std::move(row.values)});
  return out;
}

const ltp::PropValue* FindValue(std::span<const ltp::TaggedValue> values, ltp::PropTag tag) {
  for (const auto& v : values) {
    if (v.tag == tag) return &v.value;
  }
  return nullptr;
}

void SetValue(std::vector<ltp::TaggedValue>& values, ltp::PropTag tag, ltp::PropValue value) {
  for (auto& v : values) {
    if (ltp::PropIdOf(v.tag) == ltp::PropIdOf(tag)) {
      v.tag = tag;
      v.value = std::move(value);
      return;
    }
  }
  values.push_back(ltp::TaggedValue{tag, std::move(value)});
}

void EraseValue(std::vector<ltp::TaggedValue>& values, ltp::PropTag tag) {
  std::erase_if(values, [&](const ltp::TaggedValue& v) { return v.tag == tag; });
}

}  // namespace mailvane::pst::messaging
