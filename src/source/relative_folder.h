// The one conversion from a file-system path to a store-side folder path. Store folder
// paths always use "\" between folder names.
#pragma once

#include <string>
#include <string_view>

namespace mailvane::source {

inline constexpr char kStoreSeparator = '\\';

// The folder of a file, without the root and without leading or trailing separators, with
// "\" between its folder names: "/Export/Inbox/1.eml" gives "Export\Inbox". Empty folder
// names (doubled separators) are dropped; "" for a file at the root or a bare name.
std::string RelativeFolder(std::string_view file_path);

// Zimbra writes the items of a big folder into several directories, "Inbox", "Inbox!1",
// "Inbox!2", ...; all stand for one folder. Removes a "!" + digits ending from every folder
// name of a store-side relative folder: "Export\Inbox!3\Old!12" gives "Export\Inbox\Old".
// A name that is nothing but the ending ("!3") is kept as it is.
std::string WithoutSplitSuffixes(std::string_view relative_folder);

}  // namespace mailvane::source
