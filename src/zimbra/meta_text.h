// Text conversions for Zimbra .meta records. A record is UTF-8 JSON; the lengths inside its
// "metadata" string count UTF-16 code units (Java string lengths), so records are held as
// UTF-16 text while they are cut up, and values leave as UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace mailvane::zimbra {

// Decodes bytes as UTF-8; every byte that does not begin a well-formed UTF-8 sequence is
// taken as one Windows-1252 character instead.
std::u16string DecodeMetaBytes(std::string_view bytes);

// Undoes the JSON string escapes \" \\ \/ \b \f \n \r \t and \uXXXX (a surrogate pair
// arrives as two escapes and simply becomes two code units). A backslash that starts no
// valid escape is kept as it is.
std::u16string UnescapeJson(std::u16string_view text);

// UTF-16 to UTF-8; an unpaired surrogate (a count that cut a pair) becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);

}  // namespace mailvane::zimbra
