// What a run did, file by file: items written per kind, every failure with its file, step
// and reason, messages that went to a folder of their own path, and the files that no
// step took. Written beside the .pst as a plain-text .log.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "source/failure_log.h"
#include "source/path_list.h"

namespace mailvane::run {

enum class ItemKind { kMessage, kContact, kAppointment, kTask, kNote };
inline constexpr int kItemKindCount = 5;
const char* ItemKindName(ItemKind kind);  // "messages", "contacts", ...

struct Failure {
  std::string file;  // a source file, or a store folder path for the folder tree
  std::string step;
  std::string reason;
};

class RunReport : public source::FailureLog {
 public:
  void RecordFailure(std::string_view file, std::string_view step,
                     std::string_view reason) override;

  // Failures recorded between these two belong to the file; others are counted apart.
  void BeginFile() {
    in_file_ = true;
    current_file_failed_ = false;
  }
  // After a file's steps: taken by at least one step, and whether one wrote an item.
  void EndFile(const std::string& file, bool taken, bool wrote_item);
  void ItemWritten(ItemKind kind) {
    ++items_[static_cast<int>(kind)];
    if (!parts_.empty()) ++parts_.back().items;
  }
  // A .pst the run writes into from now on (a run split by a size limit has several).
  void PartStarted(const std::string& pst_path) { parts_.push_back({pst_path, 0}); }
  struct Part {
    std::string path;
    std::size_t items = 0;
  };
  const std::vector<Part>& Parts() const { return parts_; }
  // "PST files: N" and a line per file with its items; empty for a run of one file.
  std::string PartsText() const;
  // A commit made everything written so far durable.
  void Committed();
  // The store refused a write (disk full, I/O error, file removed) and the run stopped:
  // the items and files since the last commit are lost with it (Items() and
  // FilesConverted() count only what the file holds), and files_not_reached were never
  // looked at.
  void StoreRefused(const std::string& cause, std::size_t files_not_reached);
  // A message whose folder the routing did not find, stored in its mirrored folder.
  void MessageRerouted(const std::string& file, const std::string& folder);
  // A folder of the list that was not made, and why (not a failure: nothing was lost).
  void FolderPassedOver(const std::string& folder, const std::string& why);
  // What a step tells about an item it wrote with a fallback (not a failure either).
  void Notice(std::string_view file, std::string_view note);

  std::size_t Items(ItemKind kind) const { return items_[static_cast<int>(kind)]; }
  std::size_t ItemsTotal() const;
  std::size_t FilesConverted() const { return files_converted_; }
  std::size_t FilesFailed() const { return files_failed_; }
  std::size_t FilesNotTaken() const { return files_not_taken_; }
  std::size_t FilesWithoutItem() const { return without_item_.size(); }
  // After StoreRefused: files converted whose items the failure took away, files never
  // reached, and the store's cause ("" when the store took every write).
  std::size_t FilesLost() const { return files_lost_; }
  std::size_t FilesNotReached() const { return files_not_reached_; }
  const std::string& StoreFailure() const { return store_failure_; }
  // Failures that belong to no file of the list (folder tree, safe points, log-off).
  std::size_t OtherFailures() const { return other_failures_; }
  bool HasFailures() const { return !failures_.empty(); }
  // Files were taken by a step, and not one item came out of them.
  bool NothingConverted() const { return ItemsTotal() == 0 && !without_item_.empty(); }
  const std::vector<Failure>& Failures() const { return failures_; }
  const std::map<std::string, std::size_t>& NotTakenByEnding() const { return not_taken_by_ending_; }
  const std::vector<std::pair<std::string, std::string>>& Rerouted() const { return rerouted_; }
  const std::vector<std::pair<std::string, std::string>>& Notices() const { return notices_; }

  // Short lines for the end of a run on a terminal.
  std::string Summary() const;
  // The whole report; pst_path and source_count head it.
  std::string Text(const std::string& pst_path, std::size_t source_count) const;
  // Writes Text() to path; raises std::system_error when it cannot.
  void Write(const std::filesystem::path& path, const std::string& pst_path,
             std::size_t source_count) const;

  // The .log beside a .pst: same folder and name, ".log" for ".pst".
  static std::filesystem::path PathBeside(const std::filesystem::path& pst_path);

 private:
  std::size_t items_[kItemKindCount] = {};
  std::size_t committed_items_[kItemKindCount] = {};
  std::size_t committed_files_ = 0;
  std::size_t files_lost_ = 0;
  std::size_t files_not_reached_ = 0;
  std::string store_failure_;
  std::vector<Failure> failures_;
  bool in_file_ = false;
  bool current_file_failed_ = false;
  std::size_t other_failures_ = 0;
  std::size_t files_converted_ = 0;
  std::size_t files_failed_ = 0;
  std::size_t files_not_taken_ = 0;
  std::map<std::string, std::size_t> not_taken_by_ending_;
  source::PathList not_taken_named_;  // a server's export can hold thousands: kept as the listing is
  std::vector<std::pair<std::string, std::string>> rerouted_;
  std::vector<std::pair<std::string, std::string>> passed_over_;
  std::vector<std::pair<std::string, std::string>> notices_;  // file, note
  std::vector<std::string> without_item_;
  std::vector<Part> parts_;
};

// The ending a file is counted under: ".meta" for "a.eml.meta", "(none)" without a dot.
std::string EndingOf(std::string_view file_name);

}  // namespace mailvane::run
