// Lists every file beneath a start folder, breadth-first: the start folder's own files,
// then those of its sub-folders, level by level. Within one folder, names are taken in
// binary order so that a listing (and the store built from it) does not depend on the
// order in which the file system happens to return them.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "source/path_list.h"

namespace mailvane::source {

// A folder that the walk did not read, or read only in part, and why.
struct SkippedFolder {
  std::string path;
  std::string reason;
};

class PathLogger {
 public:
  // Receives the count label's text ("12 Messages Queued for Conversion.").
  using CountTextHook = std::function<void(const std::string&)>;
  // Lets the front end process what is pending; called once per folder and sub-folder.
  using YieldHook = std::function<void()>;

  PathLogger() = default;
  PathLogger(CountTextHook count_text, YieldHook yield)
      : count_text_(std::move(count_text)), yield_(std::move(yield)) {}

  void SetCountTextHook(CountTextHook hook) { count_text_ = std::move(hook); }
  void SetYieldHook(YieldHook hook) { yield_ = std::move(hook); }

  // Starts afresh: every list emptied. Count keeps its value.
  void PathLogInit();

  // Lists every file beneath strPARENT. A start that is not an existing folder changes
  // nothing. Symbolic links to folders are not followed (they are named in
  // skippedFolders); every other entry that is not a folder is listed, links to files and
  // dangling links included. A folder that cannot be read is skipped and named in
  // skippedFolders; no file-system failure leaves this function.
  void LogPath(const std::string& strPARENT);

  // The number of files listed by the last LogPath.
  std::size_t Count() const { return count_; }

  // Full paths of the files, in finding order.
  const PathList& fullFileNames() const { return full_file_names_; }
  // Hands the full paths over without copying; the list is left empty.
  PathList TakeFullFileNames() { return std::exchange(full_file_names_, PathList()); }
  // Every folder visited, ending in "/", in visiting order.
  const std::vector<std::string>& pathNames() const { return path_names_; }
  // Folders not read, or read only in part, by the last LogPath.
  const std::vector<SkippedFolder>& skippedFolders() const { return skipped_folders_; }

  // Releases every list; Count keeps its value.
  void Terminate();

 private:
  void ClearLists();
  void ListFolder(std::size_t visited);
  void ShowCount() const;
  void Yield() const {
    if (yield_) yield_();
  }

  CountTextHook count_text_;
  YieldHook yield_;
  std::size_t count_ = 0;
  std::vector<std::string> path_names_;
  PathList full_file_names_;
  std::vector<SkippedFolder> skipped_folders_;
};

// The count label's text for n files.
std::string QueuedCountText(std::size_t n);

}  // namespace mailvane::source
