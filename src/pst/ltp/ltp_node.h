// What writing a property or table context gives back: the node's data tree and the
// subnodes its large values live in, for the caller to put in the node's subnode tree
// (next to subnodes of its own, such as a message's attachments).
#pragma once

#include <cstdint>
#include <vector>

#include "pst/ltp/property_value.h"
#include "pst/ndb/ids.h"
#include "pst/ndb/node_database.h"

namespace mailvane::pst::ltp {

struct LtpNode {
  ndb::Bid data = 0;
  std::vector<ndb::SubnodeEntry> subnodes;  // NID type kLtp, ascending
};

// A value already written to the file as a data tree (for example an attachment's bytes);
// the property or table context refers to it through a subnode.
struct StreamedValue {
  PropTag tag = 0;
  ndb::Bid data = 0;
  std::uint64_t size = 0;
};

// Hands out the NIDs of a node's own large-value subnodes.
class LtpSubnodeNids {
 public:
  explicit LtpSubnodeNids(std::uint32_t first_index = 1) : next_(first_index) {}
  ndb::Nid Next() { return ndb::MakeNid(ndb::NidType::kLtp, next_++); }

 private:
  std::uint32_t next_;
};

}  // namespace mailvane::pst::ltp
