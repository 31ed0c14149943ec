// File names for the .pst of a named conversion: one given by the user, or one taken from
// the source, so that alice@example.com.tgz becomes alice@example.com.pst.
#pragma once

#include <string>

namespace mailvane::cli {

// wanted as a file name in the target folder, ".pst" added unless it ends so (in any case).
// "" when it cannot be one (empty, a path, "." or "..", too long), with the reason in why.
std::string PstFileName(const std::string& wanted, std::string& why);

// The name of a source's .pst: its last path part without an archive ending, plus ".pst".
// "" when the path has no usable last part, with the reason in why.
std::string DefaultPstName(const std::string& source, std::string& why);

}  // namespace mailvane::cli
