#include "source/path_logger.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "source/path_names.h"

namespace mailvane::source {
namespace {

namespace fs = std::filesystem;

// The count label is refreshed after every folder and every this many files in between,
// so a huge folder still shows progress without a label update per file.
constexpr std::size_t kCountTextEvery = 1024;

std::string EnsureTrailingSeparator(const std::string& path) {
  if (!path.empty() && path.back() == kPathSeparator) return path;
  return path + kPathSeparator;
}

enum class EntryKind { kFile, kFolder, kLinkedFolder };

EntryKind KindOf(const fs::directory_entry& entry) {
  std::error_code ec;
  // The kinds come from the directory listing itself where the file system supplies them,
  // so most entries cost no extra system call.
  if (entry.is_symlink(ec)) {
    std::error_code target_ec;
    const bool to_folder = entry.is_directory(target_ec);
    return !target_ec && to_folder ? EntryKind::kLinkedFolder : EntryKind::kFile;
  }
  if (!ec && entry.is_directory(ec) && !ec) return EntryKind::kFolder;
  // Anything else, even an entry that vanished since it was listed, is listed as a file;
  // the run decides what it can read.
  return EntryKind::kFile;
}

}  // namespace

std::string QueuedCountText(std::size_t n) {
  return std::to_string(n) + " Messages Queued for Conversion.";
}

void PathLogger::PathLogInit() {
  ClearLists();
}

void PathLogger::ClearLists() {
  path_names_.clear();
  full_file_names_ = PathList();
  skipped_folders_.clear();
}

void PathLogger::Terminate() {
  std::vector<std::string>().swap(path_names_);
  full_file_names_ = PathList();
  std::vector<SkippedFolder>().swap(skipped_folders_);
}

void PathLogger::LogPath(const std::string& strPARENT) {
  std::error_code ec;
  if (strPARENT.empty() || !fs::is_directory(strPARENT, ec) || ec) return;

  // A walk always starts from empty lists, so that Count and the lists agree even when
  // PathLogInit was not called in between.
  ClearLists();
  count_ = 0;
  path_names_.push_back(EnsureTrailingSeparator(strPARENT));
  for (std::size_t visited = 0; visited < path_names_.size(); ++visited) {
    ListFolder(visited);
  }
}

void PathLogger::ListFolder(std::size_t visited) {
  // Copied: path_names_ grows below and may move its strings.
  const std::string folder = path_names_[visited];
  std::vector<std::string> sub_folders;
  std::vector<std::string> files;

  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) {
    skipped_folders_.push_back({folder, "cannot read the folder: " + ec.message()});
    Yield();
    return;
  }
  for (const fs::directory_iterator end; it != end;) {
    std::string name = it->path().filename().native();
    switch (KindOf(*it)) {
      case EntryKind::kFolder:
        sub_folders.push_back(std::move(name));
        break;
      case EntryKind::kFile:
        files.push_back(std::move(name));
        break;
      case EntryKind::kLinkedFolder:
        skipped_folders_.push_back(
            {folder + name + kPathSeparator, "a symbolic link to a folder: not followed"});
        break;
    }
    it.increment(ec);
    if (ec) {
      skipped_folders_.push_back(
          {folder, "the folder could be read only in part: " + ec.message()});
      break;
    }
  }
  std::sort(sub_folders.begin(), sub_folders.end());
  std::sort(files.begin(), files.end());

  Yield();
  for (const auto& name : sub_folders) {
    Yield();
    path_names_.push_back(folder + name + kPathSeparator);
  }

  for (const auto& name : files) {
    full_file_names_.Append(folder + name);
    ++count_;
    if (count_ % kCountTextEvery == 0) ShowCount();
  }
  if (!files.empty() && count_ % kCountTextEvery != 0) ShowCount();
}

void PathLogger::ShowCount() const {
  if (count_text_) count_text_(QueuedCountText(count_));
}

}  // namespace mailvane::source
