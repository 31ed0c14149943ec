#include "pst/messaging/named_property.h"

#include <cstdio>
#include <stdexcept>
#include <string>

namespace mailvane::pst::messaging {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

// The first three groups are little-endian integers on disk, the last two are bytes.
ltp::Guid GuidFromString(const char* text) {
  std::string hex;
  for (const char* p = text; *p; ++p) {
    if (*p == '-') continue;
    if (HexDigit(*p) < 0) throw std::invalid_argument(std::string("not a GUID: ") + text);
    hex += *p;
  }
  if (hex.size() != 32) throw std::invalid_argument(std::string("not a GUID: ") + text);
  std::uint8_t raw[16];
  for (int i = 0; i < 16; ++i) {
    raw[i] = static_cast<std::uint8_t>(HexDigit(hex[2 * i]) * 16 + HexDigit(hex[2 * i + 1]));
  }
  static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  ltp::Guid g{};
  for (int i = 0; i < 16; ++i) g[i] = raw[kOrder[i]];
  return g;
}

}  // namespace mailvane::pst::messaging
