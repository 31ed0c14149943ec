// The data encodings of external blocks (MS-PST 5.1 permute, 5.2 cyclic). Pages and
// internal blocks are never encoded.
#pragma once

#include <cstdint>
#include <span>

#include "pst/ndb/ids.h"

namespace mailvane::pst::ndb {

enum class CryptMethod : std::uint8_t;

// In place. The cyclic method is its own inverse and keyed by the block's BID.
void EncodeBlockData(CryptMethod method, Bid bid, std::span<std::uint8_t> data);
void DecodeBlockData(CryptMethod method, Bid bid, std::span<std::uint8_t> data);

}  // namespace mailvane::pst::ndb
