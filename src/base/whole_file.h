// Reading a whole file into memory, for the files that are parsed in one piece.
#pragma once

#include <filesystem>
#include <string>

namespace mailvane::base {

// The file's bytes; raises std::system_error naming the file when it cannot be opened or read.
std::string ReadWholeFile(const std::filesystem::path& path);

}  // namespace mailvane::base
