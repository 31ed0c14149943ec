// The Windows-1252 code page, the usual charset of 8-bit text that is not UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace mailvane::base {

// The character of one byte; the five bytes the code page leaves undefined map to the C1
// controls of the same value, as Windows itself converts them.
char16_t Windows1252Char(unsigned char byte);

std::string Windows1252ToUtf8(std::string_view bytes);

}  // namespace mailvane::base
