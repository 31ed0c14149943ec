// Puts the variable-size values of a property or table context where MS-PST wants them:
// nothing for an empty value, a heap allocation up to 3580 bytes, a subnode beyond.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "pst/ltp/heap_on_node.h"
#include "pst/ltp/ltp_node.h"

namespace mailvane::pst::ltp {

class ValuePlacement {
 public:
  ValuePlacement(ndb::NodeDatabase& db, HeapWriter& heap, LtpSubnodeNids& nids)
      : db_(db), heap_(heap), nids_(nids) {}

  // The HNID for a value.
  std::uint32_t Place(std::span<const std::uint8_t> bytes);
  // The HNID for a value already in the file; a small one is moved into the heap.
  std::uint32_t PlaceStreamed(ndb::Bid data, std::uint64_t size);

  // A subnode for data this call wrote itself (released on failure); its NID.
  ndb::Nid AddSubnode(ndb::Bid data);

  // On success: the subnodes to hand to the caller (ascending); drops the references of
  // streamed values that were copied into the heap.
  std::vector<ndb::SubnodeEntry> Finish();
  // On failure: releases every block this placement wrote.
  void Abort();

 private:
  ndb::NodeDatabase& db_;
  HeapWriter& heap_;
  LtpSubnodeNids& nids_;
  std::vector<ndb::SubnodeEntry> subnodes_;
  std::vector<ndb::Bid> written_;       // ours: released on failure
  std::vector<ndb::Bid> copied_streams_;  // callers': released on success
};

}  // namespace mailvane::pst::ltp
