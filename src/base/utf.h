// UTF-8 and UTF-16: decoding, validation and conversion. Malformed input never fails:
// it becomes U+FFFD, except where a caller decodes sequence by sequence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mailvane::base {

// Length of the well-formed UTF-8 sequence at bytes[at] with its code point in cp, or 0
// when there is none there (overlong forms, surrogates and values past U+10FFFF are not
// UTF-8).
std::size_t Utf8SequenceAt(std::string_view bytes, std::size_t at, char32_t& cp);

bool IsValidUtf8(std::string_view bytes);

void AppendUtf8(std::string& out, char32_t cp);

// Decodes UTF-8 and hands each UTF-16 code unit to put; a byte that starts no well-formed
// sequence becomes the unit invalid(byte) gives. Runs of ASCII, most of any mail text,
// take the short path.
template <typename Put, typename Invalid>
void DecodeUtf8(std::string_view utf8, Put&& put, Invalid&& invalid) {
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      put(static_cast<char16_t>(b));
      ++i;
      continue;
    }
    char32_t c = 0;
    const std::size_t len = Utf8SequenceAt(utf8, i, c);
    if (len == 0) {
      put(invalid(b));
      ++i;
    } else if (c >= 0x10000) {
      c -= 0x10000;
      put(static_cast<char16_t>(0xD800 + (c >> 10)));
      put(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
      i += len;
    } else {
      put(static_cast<char16_t>(c));
      i += len;
    }
  }
}

std::u16string Utf16FromUtf8(std::string_view utf8);   // invalid bytes become U+FFFD
std::string Utf8FromUtf16(std::u16string_view utf16);  // lone surrogates become U+FFFD

// UTF-8 straight to UTF-16LE bytes, as files store text, without a UTF-16 copy between.
std::vector<std::uint8_t> Utf16LeFromUtf8(std::string_view utf8);

}  // namespace mailvane::base
