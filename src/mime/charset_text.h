// Text in a declared charset turned into UTF-8, with the fallbacks that real mail needs,
// and the Windows code page number of a charset name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mailvane::mime {

struct DecodedText {
  std::string utf8;
  // The declared charset was unknown or did not fit the bytes, and a fallback was used.
  bool fell_back = false;
};

// Converts bytes in `charset` (empty: none declared) to UTF-8. When the charset is
// unknown or the bytes are not valid in it, valid UTF-8 is kept as it is and anything
// else is read as Windows-1252. Never fails.
DecodedText DecodeToUtf8(std::string_view bytes, std::string_view charset);

// The Windows code page of a MIME charset name (MS-OXCMAIL PidTagInternetCodepage),
// or 0 when the name is not known.
std::int32_t CodePageOfCharset(std::string_view charset);

}  // namespace mailvane::mime
