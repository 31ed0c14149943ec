#include "pst/messaging/ltp_access.h"

#include <algorithm>

#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"

namespace mailvane::pst {

namespace {

Bid SubnodeTree(NodeDatabase& db, std::vector<SubnodeEntry> subnodes) {
  return subnodes.empty() ? 0 : db.WriteSubnodeTree(std::move(subnodes));
}

std::vector<SubnodeEntry> SubnodesOf(NodeDatabase& db, const NodeEntry& node) {
  return node.subnodes == 0 ? std::vector<SubnodeEntry>() : db.ReadSubnodes(node.subnodes);
}

}  // namespace

NodeContent WriteProperties(NodeDatabase& db, std::span<const TaggedValue> values) {
  LtpNode node = WritePropertyContext(db, std::vector<TaggedValue>(values.begin(), values.end()));
  return NodeContent{node.data, SubnodeTree(db, std::move(node.subnodes))};
}

std::vector<TaggedValue> ReadProperties(NodeDatabase& db, const NodeEntry& node) {
  const auto subnodes = SubnodesOf(db, node);
  return PropertyContext(db, node.data, subnodes).ReadAll();
}

NodeContent WriteTable(NodeDatabase& db, std::span<const PropTag> columns,
                       std::span<const TableRow> rows, EmptyCells empty) {
  return WriteTable(
      db, columns, rows.size(),
      [&](std::size_t i) { return TableRowView{rows[i].row_id, rows[i].cells}; }, empty);
}

NodeContent WriteTable(NodeDatabase& db, std::span<const PropTag> columns, std::size_t row_count,
                       const std::function<TableRowView(std::size_t)>& row_at, EmptyCells empty) {
  // Row versions only need to grow within a table; the position gives that.
  LtpNode node = WriteTableContext(
      db, columns, row_count,
      [&](std::size_t i) {
        const TableRowView row = row_at(i);
        return TcRowView{row.row_id, static_cast<std::uint32_t>(i + 1), row.cells};
      },
      LtpSubnodeNids(), empty);
  return NodeContent{node.data, SubnodeTree(db, std::move(node.subnodes))};
}

TableData ReadTable(NodeDatabase& db, const NodeEntry& node) {
  const auto subnodes = SubnodesOf(db, node);
  const TableContext table(db, node.data, subnodes);
  TableData out;
  for (const auto& c : table.layout().columns) out.columns.push_back(c.tag);
  for (TcRow& row : table.ReadRows()) out.rows.push_back(TableRow{row.id, std::move(row.values)});
  return out;
}

const PropValue* FindValue(std::span<const TaggedValue> values, PropTag tag) {
  for (const auto& v : values) {
    if (v.tag == tag) return &v.value;
  }
  return nullptr;
}

void SetValue(std::vector<TaggedValue>& values, PropTag tag, PropValue value) {
  for (auto& v : values) {
    if (PropIdOf(v.tag) == PropIdOf(tag)) {
      v.tag = tag;
      v.value = std::move(value);
      return;
    }
  }
  values.push_back(TaggedValue{tag, std::move(value)});
}

void EraseValue(std::vector<TaggedValue>& values, PropTag tag) {
  std::erase_if(values, [&](const TaggedValue& v) { return v.tag == tag; });
}

}  // namespace mailvane::pst
