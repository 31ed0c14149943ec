// The node-database checker: reads a PST file on its own (not through NodeDatabase, so a
// damaged file yields findings instead of one exception) and reports what MS-PST makes
// checkable at this layer.
#pragma once

#include <filesystem>
#include <vector>

#include "pst/check/finding.h"

namespace mailvane::pst {

std::vector<Finding> CheckNodeDatabase(const std::filesystem::path& path);

}  // namespace mailvane::pst
