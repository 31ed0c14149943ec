// Taking file-system paths apart. Paths use "/" as their separator; nothing here changes
// case or resolves "." and "..".
#pragma once

#include <string>
#include <string_view>

namespace mailvane::source {

inline constexpr char kPathSeparator = '/';

// The text after the last separator; the whole path when it holds none; "" when the path
// ends with a separator.
std::string FileNameOf(std::string_view path);

// Everything up to and including the last separator; "" when the path holds none.
std::string ParentPathOf(std::string_view path);

// True when the path names something that exists and is not a folder (links are
// followed). False for folders and whenever the path cannot be examined.
bool FileExists(const std::string& path);

}  // namespace mailvane::source
