// Property context (MS-PST 2.3.3): a node's properties as a BTH of (property id ->
// type, value or HNID) on a heap. Values of up to 4 bytes sit in the record, larger fixed
// values and variable values of up to 3580 bytes in the heap, larger ones in subnodes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "pst/ltp/heap_on_node.h"
#include "pst/ltp/ltp_node.h"
#include "pst/ltp/property_value.h"

namespace mailvane::pst::ltp {

// Writes a property context holding `values` and `streamed`. Values may come in any
// order; two values with one property id raise std::invalid_argument. The caller hands
// over the references of the streamed BIDs only when the call succeeds; on failure
// everything this call wrote is released again.
LtpNode WritePropertyContext(ndb::NodeDatabase& db, std::vector<TaggedValue> values,
                             std::span<const StreamedValue> streamed = {},
                             LtpSubnodeNids nids = LtpSubnodeNids());

class PropertyContext {
 public:
  // Parses the heap and the BTH; a damaged one raises FormatError.
  PropertyContext(ndb::NodeDatabase& db, ndb::Bid data, std::span<const ndb::SubnodeEntry> subnodes);

  std::vector<PropTag> tags() const;
  std::optional<PropValue> Get(std::uint16_t prop_id) const;
  std::vector<TaggedValue> ReadAll() const;
  // The subnode a value lives in, so that a large value can be streamed, not read whole.
  std::optional<ndb::SubnodeEntry> ValueSubnode(std::uint16_t prop_id) const;

 private:
  struct Record {
    PropTag tag;
    std::uint32_t hnid;
  };
  PropValue Resolve(const Record& r) const;
  const Record* Find(std::uint16_t prop_id) const;

  ndb::NodeDatabase& db_;
  HeapReader heap_;
  std::vector<ndb::SubnodeEntry> subnodes_;
  std::vector<Record> records_;
};

// Resolves an HNID of a property or table context into the value's bytes: 0 is empty,
// an HID names a heap allocation, anything else a subnode among `subnodes`.
std::vector<std::uint8_t> ReadHnid(ndb::NodeDatabase& db, const HeapReader& heap,
                                   std::span<const ndb::SubnodeEntry> subnodes, std::uint32_t hnid);

}  // namespace mailvane::pst::ltp
