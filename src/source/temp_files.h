// The place for temporary files.
#pragma once

#include <string>

namespace mailvane::source {

// The system's folder for temporary files (TMPDIR, else /tmp), ending in "/"; "" when it
// cannot be determined, with the reason in *why when given.
std::string TempFolderPath(std::string* why = nullptr);

}  // namespace mailvane::source
