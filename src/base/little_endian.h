// Little-endian reads and writes of the integers that file formats store: on a raw
// pointer, on a span at an offset, and appended to a growing buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace mailvane::base {

inline std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::uint64_t Get64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(Get32(p)) | static_cast<std::uint64_t>(Get32(p + 4)) << 32;
}
inline void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void Put64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline std::uint16_t Get16(std::span<const std::uint8_t> b, std::size_t at) { return Get16(&b[at]); }
inline std::uint32_t Get32(std::span<const std::uint8_t> b, std::size_t at) { return Get32(&b[at]); }
inline std::uint64_t Get64(std::span<const std::uint8_t> b, std::size_t at) { return Get64(&b[at]); }
inline void Put16(std::span<std::uint8_t> b, std::size_t at, std::uint16_t v) { Put16(&b[at], v); }
inline void Put32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) { Put32(&b[at], v); }
inline void Put64(std::span<std::uint8_t> b, std::size_t at, std::uint64_t v) { Put64(&b[at], v); }

inline void Append16(std::vector<std::uint8_t>& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void Append32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void Append64(std::vector<std::uint8_t>& b, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace mailvane::base
