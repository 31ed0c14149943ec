#include "pst/ndb/crc32.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace mailvane::pst {
namespace {

std::uint32_t Bytewise(std::span<const std::uint8_t> data, std::uint32_t crc) {
  for (std::uint8_t b : data) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  return crc;
}

TEST(NdbCrc32, IsThePstVariantAndTheFastPathAgreesForEveryLengthAndSeed) {
  std::string_view check = "123456789";
  // Initial value 0 and no final xor: not zlib's 0xCBF43926.
  EXPECT_EQ(ndb::Crc32({reinterpret_cast<const std::uint8_t*>(check.data()), check.size()}),
            0x2DFD2D88u);
  EXPECT_EQ(ndb::Crc32({}), 0u);
  std::vector<std::uint8_t> data(100);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 37 + 11);
  for (std::size_t n = 0; n <= data.size(); ++n) {
    // Odd start offsets and lengths exercise the eight-byte loop and the tail.
    auto piece = std::span(data).subspan(n % 7, data.size() - n % 7 - (data.size() - n) / 2);
    EXPECT_EQ(ndb::Crc32(piece, 0x12345678u), Bytewise(piece, 0x12345678u)) << n;
  }
}

}  // namespace
}  // namespace mailvane::pst
