#include <algorithm>

#include "pst/ndb/node_database.h"

namespace mailvane::pst::ndb {

void DataWriter::Append(std::span<const std::uint8_t> data) {
  while (!data.empty()) {
    std::size_t take = std::min(kMaxBlockData - pending_.size(), data.size());
    pending_.insert(pending_.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(take));
    data = data.subspan(take);
    size_ += take;
    if (pending_.size() == kMaxBlockData) {
      leaves_.push_back(db_.WriteBlock(pending_));
      pending_.clear();
    }
  }
}

Bid DataWriter::Finish() {
  if (!pending_.empty()) {
    leaves_.push_back(db_.WriteBlock(pending_));
    pending_.clear();
  }
  Bid bid = db_.WriteDataTree(leaves_, size_);
  leaves_.clear();
  size_ = 0;
  return bid;
}

}  // namespace mailvane::pst::ndb
