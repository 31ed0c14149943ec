#include "run/folder_list.h"

#include <stdexcept>

#include "source/relative_folder.h"
#include "source/string_lists.h"

namespace mailvane::run {

namespace {

void SortAndThin(std::vector<std::string>& list, const std::function<void()>& yield) {
  yield();
  source::SortStrings(list, 0, static_cast<std::ptrdiff_t>(list.size()) - 1, yield);
  yield();
  source::RemoveDuplicates(list, yield);
}

}  // namespace

std::vector<std::string> BuildFolderList(const source::PathList& files, int file_count,
                                         source::FrontEnd& front_end) {
  if (file_count < 0 || static_cast<std::size_t>(file_count) > files.size()) {
    throw std::invalid_argument("file count " + std::to_string(file_count) +
                                " does not match the file list of " +
                                std::to_string(files.size()));
  }
  const std::function<void()> yield = [&front_end] { front_end.Yield(); };
  front_end.Doing(source::Activity::kReadingFolders, "");
  // Files come folder by folder: a folder is kept once per run of its files, not once
  // per file, so the list does not grow with the mailbox.
  std::vector<std::string> list;
  for (int k = 0; k < file_count; ++k) {
    const std::string p = files[static_cast<std::size_t>(k)];
    yield();
    std::string folder = source::WithoutSplitSuffixes(source::RelativeFolder(p));
    if (folder.empty()) {
      throw std::runtime_error("the file " + p +
                               " lies directly in the root folder, so it has no folder to "
                               "mirror in the store");
    }
    front_end.Doing(source::Activity::kReadingFolder, folder);
    if (list.empty() || list.back() != folder) list.push_back(std::move(folder));
  }
  SortAndThin(list, yield);

  // Every ancestor of every folder; the entries appended here are not expanded again.
  const std::size_t n = list.size();
  for (std::size_t i = 0; i < n; ++i) {
    yield();
    std::size_t cut = 0;
    while ((cut = list[i].find(source::kStoreSeparator, cut)) != std::string::npos) {
      list.push_back(list[i].substr(0, cut));
      ++cut;
    }
  }
  SortAndThin(list, yield);
  list.shrink_to_fit();
  front_end.Doing(source::Activity::kCreatingFolders, "");
  return list;
}

}  // namespace mailvane::run
