#include "pst/ndb/crc32.h"

#include <libdeflate.h>

namespace mailvane::pst::ndb {

// The CRC-32 of the PST format (MS-PST 5.3): the reflected 0xEDB88320 polynomial with
// initial value 0 and no final xor. libdeflate computes the same polynomial (with the CPU's
// carry-less multiply where it has one) but inverts before and after, as zlib does, so the
// seed and the result are inverted around it.
std::uint32_t Crc32(std::span<const std::uint8_t> data, std::uint32_t seed) {
  // Given no buffer, libdeflate returns its own initial value whatever the seed.
  if (data.empty()) return seed;
  return ~libdeflate_crc32(~seed, data.data(), data.size());
}

}  // namespace mailvane::pst::ndb
