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

std::u16string Utf16FromUtf8(std::string_view utf8);   // invalid bytes become U+FFFD
std::string Utf8FromUtf16(std::u16string_view utf16);  // lone surrogates become U+FFFD

// UTF-8 straight to UTF-16LE bytes, as files store text, without a UTF-16 copy between.
std::vector<std::uint8_t> Utf16LeFromUtf8(std::string_view utf8);

}  // namespace mailvane::base
