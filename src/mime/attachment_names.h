// File names of attachments as the PST stores them.
#pragma once

#include <string>
#include <string_view>

namespace mailvane::mime {

// The last component of a sender-supplied name, without control characters or
// surrounding blanks: a name such as "../../x.exe" or "C:\dir\x.exe" becomes "x.exe".
std::string SafeFileName(std::string_view name);

// The extension with its dot (".pdf"), or empty; a leading dot alone is no extension.
std::string ExtensionOf(std::string_view name);

// An 8.3 form of a long name for PidTagAttachFilename: kept when it already fits,
// else the first six usable characters of the stem + "~1" and three of the extension.
std::string ShortFileName(std::string_view long_name);

}  // namespace mailvane::mime
