// How folder names compare. MAPI refuses a second sub-folder whose name differs from an
// existing one only in letter case, and finds folders by name the same way; we fold ASCII
// letters only, so names in other scripts compare exactly.
#pragma once

#include <string_view>

namespace mailvane::pst::messaging {

bool FolderNamesCollide(std::string_view a, std::string_view b);

}  // namespace mailvane::pst::messaging
