// A private folder inside the temporary folder where the attachments of one message are
// written before they are added to an item. Names taken from a message are made safe
// for it: nothing can reach outside the folder and no two attachments share a file.
#pragma once

#include <set>
#include <string>
#include <string_view>

namespace mailvane::zimbra {

// A file name that stays inside a folder: "/", "\" and control characters become "_";
// an empty name, "." and ".." become "attachment"; overlong names are shortened.
std::string SafeFileName(std::string_view name);

class StagingFolder {
 public:
  // Makes a new folder only this process may use (mode 0700, a unique name) inside
  // parent. Raises std::system_error when it cannot.
  explicit StagingFolder(const std::string& parent);
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;

  const std::string& path() const { return path_; }

  // The path for an attachment named name: its safe name, made distinct from the names
  // handed out before ("a.txt", "a (2).txt", ...).
  std::string NewFilePath(std::string_view name);

  // Removes the folder and all it holds. Raises std::system_error when it cannot.
  void Remove();
  bool removed() const { return removed_; }

 private:
  std::string path_;  // ends without a separator
  std::set<std::string> used_;
  bool removed_ = false;
};

}  // namespace mailvane::zimbra
