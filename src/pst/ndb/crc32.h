// The CRC-32 of the PST format (MS-PST 5.3): the reflected 0xEDB88320 polynomial with
// initial value 0 and no final xor, so it differs from zlib's.
#pragma once

#include <cstdint>
#include <span>

namespace mailvane::pst::ndb {

std::uint32_t Crc32(std::span<const std::uint8_t> data, std::uint32_t seed = 0);

}  // namespace mailvane::pst::ndb
