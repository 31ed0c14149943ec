// The Unicode PST header and its ROOT (MS-PST 2.2.2.6, 2.2.2.5).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "pst/ndb/ids.h"
#include "pst/ndb/layout.h"

namespace mailvane::pst::ndb {

struct Bref {
  Bid bid = 0;
  std::uint64_t ib = 0;
};

struct Header {
  std::uint16_t version = kVersionUnicode;
  std::uint16_t client_version = kVersionClient;
  std::uint64_t bid_unused = 0;
  std::uint64_t bid_next_p = 0;
  std::uint32_t unique = 0;
  std::array<std::uint32_t, 32> rgnid{};
  std::uint64_t file_eof = 0;
  std::uint64_t amap_last = 0;
  std::uint64_t amap_free = 0;
  std::uint64_t pmap_free = 0;
  Bref nbt;
  Bref bbt;
  std::uint8_t amap_valid = kAMapValid2;
  std::uint8_t crypt = 0;
  std::uint64_t bid_next_b = 0;
};

// The NID counters Outlook starts a new file with (rgnid per NID type).
std::array<std::uint32_t, 32> InitialNidCounters();

std::array<std::uint8_t, kHeaderSize> SerializeHeader(const Header& header);

// Parses and validates magic, version and both CRCs. Raises FormatError saying what is
// wrong; an ANSI file (wVer 14 or 15) is refused as unsupported.
Header ParseHeader(std::span<const std::uint8_t> bytes);

// The checks ParseHeader makes, as a message per problem (empty when the header is sound).
std::string HeaderProblem(std::span<const std::uint8_t> bytes);

}  // namespace mailvane::pst::ndb
