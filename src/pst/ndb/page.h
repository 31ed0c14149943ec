// 512-byte pages and their trailers (MS-PST 2.2.2.7.1), and block trailers (2.2.2.8.1).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "pst/ndb/ids.h"
#include "pst/ndb/layout.h"

namespace mailvane::pst::ndb {

// Fills the trailer of a 512-byte page: ptype twice, signature, CRC of the 496 data bytes, BID.
void SealPage(std::span<std::uint8_t> page, PageType type, std::uint64_t ib, Bid bid);

// What is wrong with a page's trailer, or empty. `bid` is the BID the page must carry.
std::string PageProblem(std::span<const std::uint8_t> page, PageType type, std::uint64_t ib,
                        Bid bid);

// Fills the trailer at the end of a block buffer of BlockSizeOnDisk(cb) bytes.
void SealBlock(std::span<std::uint8_t> block, std::size_t cb, std::uint64_t ib, Bid bid);

// What is wrong with a block's trailer, or empty.
std::string BlockProblem(std::span<const std::uint8_t> block, std::size_t cb, std::uint64_t ib,
                         Bid bid);


}  // namespace mailvane::pst::ndb
