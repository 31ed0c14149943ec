// FolderList: the relative folder of every file of the list and all their ancestors, each
// once, in ascending binary order, so that every folder comes after its ancestors.
#pragma once

#include <string>
#include <vector>

#include "source/front_end.h"
#include "source/path_list.h"

namespace mailvane::run {

// Status lines "Reading Zimbra Folder(s)...", "Reading Zimbra Folder... " + folder per file
// and "Creating Outlook Folders..." at the end. Zimbra's "!N" split endings are removed from
// every folder name. A file that has no relative folder (it lies in the root) raises
// std::runtime_error naming it.
std::vector<std::string> BuildFolderList(const source::PathList& files, int file_count,
                                         source::FrontEnd& front_end);

}  // namespace mailvane::run
