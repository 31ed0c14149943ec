// The place for temporary files and new, uniquely named files in it.
#pragma once

#include <string>

namespace mailvane::source {

// The system's folder for temporary files (TMPDIR, else /tmp), ending in "/"; "" when it
// cannot be determined, with the reason in *why when given.
std::string TempFolderPath(std::string* why = nullptr);

// Creates a new, empty file in the temporary folder whose name starts with prefix and ends
// in ".TMP" and returns its full path. The name is chosen and the file created in one
// atomic step (O_EXCL), so two callers never get the same file. "" on failure, with the
// reason in *why when given. The file stays; deleting it is the caller's business.
std::string MakeTempFileName(const std::string& prefix, std::string* why = nullptr);

}  // namespace mailvane::source
