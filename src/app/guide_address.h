// Where the product guide is: the copy installed beside the program.
#pragma once

#include <string>

namespace mailvane::app {

// The guide's address as a file URL ending in /mailvane/guide.html, for a program in
// program_dir: <prefix>/share/mailvane/guide.html beside <prefix>/bin. When no copy
// is found the expected installed location is still returned; opening it then shows
// nothing, which is all a missing guide can do.
std::string GuideAddress(const std::string& program_dir);

}  // namespace mailvane::app
