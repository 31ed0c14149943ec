// A byte count as people read it: "812 bytes", "4.2 KB", "37.5 MB", "1.3 GB".
#pragma once

#include <cstdint>
#include <string>

namespace mailvane::source {

std::string SizeText(std::uint64_t bytes);

}  // namespace mailvane::source
