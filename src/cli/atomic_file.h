// Whole small files replaced in one step: a reader sees the old content or the new one,
// never a part, and a crash leaves one of the two.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string_view>

namespace mailvane::cli {

// Writes bytes to a temporary file beside path, flushes it to disk and renames it over
// path. Raises std::system_error naming the file when any step fails.
void ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                           mode_t mode = 0600);

}  // namespace mailvane::cli
