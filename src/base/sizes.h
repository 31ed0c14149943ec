// Sizes narrowed to the 32-bit fields that file formats keep them in.
#pragma once

#include <cstdint>
#include <limits>

namespace mailvane::base {

// The size, or the largest positive 32-bit value when it does not fit.
constexpr std::int32_t ClampToInt32(std::uint64_t n) {
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
  return static_cast<std::int32_t>(n > kMax ? kMax : n);
}

}  // namespace mailvane::base
