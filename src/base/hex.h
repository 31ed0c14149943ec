// Hexadecimal forms for messages and identifiers.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace mailvane::base {

// "0x" and the value in upper-case digits, zero-padded to at least min_digits.
std::string Hex(std::uint64_t v, int min_digits = 0);

// Two upper-case digits a byte, no prefix ("00FF1A").
std::string HexBytes(std::span<const std::uint8_t> bytes);

// The value of one hexadecimal digit, or -1.
int HexDigitValue(char32_t c);

}  // namespace mailvane::base
