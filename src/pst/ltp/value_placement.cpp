#include "pst/ltp/value_placement.h"

#include <algorithm>

#include "pst/ndb/format_error.h"

namespace mailvane::pst::ltp {

std::uint32_t ValuePlacement::Place(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return 0;
  if (bytes.size() <= kMaxHeapAllocation) return heap_.Allocate(bytes);
  ndb::Bid bid = db_.WriteData(bytes);
  written_.push_back(bid);
  ndb::Nid nid = nids_.Next();
  subnodes_.push_back({nid, bid, 0});
  return nid;
}

std::uint32_t ValuePlacement::PlaceStreamed(ndb::Bid data, std::uint64_t size) {
  if (data == 0 || size == 0) {
    if (data != 0) copied_streams_.push_back(data);
    return 0;
  }
  std::uint64_t actual = db_.DataSize(data);
  if (actual != size) {
    throw ndb::FormatError("streamed value holds " + std::to_string(actual) + " bytes, not the " +
                      std::to_string(size) + " given");
  }
  if (size <= kMaxHeapAllocation) {
    std::uint32_t hid = heap_.Allocate(db_.ReadData(data));
    copied_streams_.push_back(data);
    return hid;
  }
  ndb::Nid nid = nids_.Next();
  subnodes_.push_back({nid, data, 0});
  return nid;
}

ndb::Nid ValuePlacement::AddSubnode(ndb::Bid data) {
  written_.push_back(data);
  ndb::Nid nid = nids_.Next();
  subnodes_.push_back({nid, data, 0});
  return nid;
}

std::vector<ndb::SubnodeEntry> ValuePlacement::Finish() {
  for (ndb::Bid bid : copied_streams_) db_.Release(bid);
  copied_streams_.clear();
  written_.clear();
  std::sort(subnodes_.begin(), subnodes_.end(),
            [](const ndb::SubnodeEntry& a, const ndb::SubnodeEntry& b) { return a.nid < b.nid; });
  return std::move(subnodes_);
}

void ValuePlacement::Abort() {
  for (ndb::Bid bid : written_) db_.Release(bid);
  written_.clear();
  copied_streams_.clear();
  subnodes_.clear();
}

}  // namespace mailvane::pst::ltp
