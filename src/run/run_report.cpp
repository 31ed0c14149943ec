#include "run/run_report.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <sstream>
#include <system_error>

#include "source/path_names.h"

namespace mailvane::run {

const char* ItemKindName(ItemKind kind) {
  switch (kind) {
    case ItemKind::kMessage: return "messages";
    case ItemKind::kContact: return "contacts";
    case ItemKind::kAppointment: return "appointments";
    case ItemKind::kTask: return "tasks";
    case ItemKind::kNote: return "notes";
  }
  return "items";
}

std::string EndingOf(std::string_view file_name) {
  std::size_t dot = file_name.rfind('.');
  if (dot == std::string_view::npos || dot + 1 == file_name.size()) return "(none)";
  return std::string(file_name.substr(dot));
}

void RunReport::RecordFailure(std::string_view file, std::string_view step,
                              std::string_view reason) {
  failures_.push_back({std::string(file), std::string(step), std::string(reason)});
  if (in_file_) {
    current_file_failed_ = true;
  } else {
    ++other_failures_;
  }
}

void RunReport::EndFile(const std::string& file, bool taken, bool wrote_item) {
  if (current_file_failed_) {
    ++files_failed_;
  } else if (!taken) {
    ++files_not_taken_;
    std::string ending = EndingOf(source::FileNameOf(file));
    ++not_taken_by_ending_[ending];
    // Zimbra writes a .meta beside every message and folder: expected, so only counted.
    if (ending != ".meta") not_taken_named_.Append(file);
  } else if (wrote_item) {
    ++files_converted_;
  } else {
    without_item_.push_back(file);
  }
  in_file_ = false;
  current_file_failed_ = false;
}

void RunReport::Committed() {
  std::copy(std::begin(items_), std::end(items_), std::begin(committed_items_));
  committed_files_ = files_converted_;
}

void RunReport::StoreRefused(const std::string& cause, std::size_t files_not_reached) {
  store_failure_ = cause;
  std::copy(std::begin(committed_items_), std::end(committed_items_), std::begin(items_));
  files_lost_ = files_converted_ - committed_files_;
  files_converted_ = committed_files_;
  files_not_reached_ = files_not_reached;
}

void RunReport::MessageRerouted(const std::string& file, const std::string& folder) {
  rerouted_.emplace_back(file, folder);
}

void RunReport::FolderPassedOver(const std::string& folder, const std::string& why) {
  passed_over_.emplace_back(folder, why);
}

void RunReport::Notice(std::string_view file, std::string_view note) {
  notices_.emplace_back(std::string(file), std::string(note));
}

std::size_t RunReport::ItemsTotal() const {
  std::size_t total = 0;
  for (std::size_t n : items_) total += n;
  return total;
}

std::string RunReport::PartsText() const {
  if (parts_.size() < 2) return {};
  std::ostringstream out;
  out << "PST files: " << parts_.size() << " (split at the size limit)\n";
  for (const Part& p : parts_) out << "  " << p.path << ": " << p.items << " items\n";
  return out.str();
}

std::string RunReport::Summary() const {
  std::ostringstream out;
  if (!store_failure_.empty()) {
    out << "The conversion stopped: the .pst file refused a write: " << store_failure_ << "\n";
  }
  out << (store_failure_.empty() ? "Items written:" : "Items in the .pst file (its last safe point):");
  for (int k = 0; k < kItemKindCount; ++k) {
    out << (k == 0 ? " " : ", ") << items_[k] << ' ' << ItemKindName(static_cast<ItemKind>(k));
  }
  out << "\nFiles: " << files_converted_ << " converted, " << files_failed_ << " failed, "
      << files_not_taken_ << " taken by no step";
  if (!without_item_.empty()) out << ", " << without_item_.size() << " gave no item";
  if (!store_failure_.empty()) {
    out << ", " << files_lost_ << " converted but lost with the failure, " << files_not_reached_
        << " not reached";
  }
  out << "\n";
  if (!failures_.empty()) out << "Failures: " << failures_.size() << "\n";
  if (!notices_.empty()) out << "Notices: " << notices_.size() << "\n";
  if (!rerouted_.empty()) {
    out << "Messages stored in a folder of their own path: " << rerouted_.size() << "\n";
  }
  return out.str();
}

std::string RunReport::Text(const std::string& pst_path, std::size_t source_count) const {
  std::ostringstream out;
  out << "Mailvane conversion report\n"
      << "PST file: " << pst_path << "\n"
      << "Source files: " << source_count << "\n\n"
      << Summary() << PartsText();
  if (!failures_.empty()) {
    out << "\nFailures (file | step | reason)\n";
    for (const Failure& f : failures_) {
      out << "  " << f.file << " | " << f.step << " | " << f.reason << "\n";
    }
  }
  if (!notices_.empty()) {
    out << "\nNotices: items written with a fallback (file | notice)\n";
    for (const auto& [file, note] : notices_) out << "  " << file << " | " << note << "\n";
  }
  if (!rerouted_.empty()) {
    out << "\nMessages whose folder was not found, stored in the folder of their own path\n";
    for (const auto& [file, folder] : rerouted_) out << "  " << file << " -> " << folder << "\n";
  }
  if (!without_item_.empty()) {
    out << "\nFiles taken by a step that wrote no item\n";
    for (const std::string& file : without_item_) out << "  " << file << "\n";
  }
  if (!passed_over_.empty()) {
    out << "\nFolders not created\n";
    for (const auto& [folder, why] : passed_over_) out << "  " << folder << ": " << why << "\n";
  }
  if (!not_taken_by_ending_.empty()) {
    out << "\nFiles taken by no step, by ending\n";
    for (const auto& [ending, n] : not_taken_by_ending_) out << "  " << ending << ": " << n << "\n";
  }
  if (!not_taken_named_.empty()) {
    out << "\nFiles taken by no step (other than .meta)\n";
    try {
      for (std::size_t i = 0; i < not_taken_named_.size(); ++i) out << "  " << not_taken_named_[i] << "\n";
    } catch (const std::system_error& e) {
      out << "  (the rest of this list could not be read back: " << e.what() << ")\n";
    }
  }
  return out.str();
}

void RunReport::Write(const std::filesystem::path& path, const std::string& pst_path,
                      std::size_t source_count) const {
  // A new file only: a file or a link planted under the report's name is never written
  // through. It names the mailbox's files and folders: only its owner may read it.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    throw std::system_error(errno, std::generic_category(),
                            "cannot create the run report " + path.string());
  }
  const std::string text = Text(pst_path, source_count);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      ::unlink(path.c_str());  // a cut-off report would look whole; the caller writes it elsewhere
      throw std::system_error(error, std::generic_category(),
                              "cannot write the run report " + path.string());
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(path.c_str());
    throw std::system_error(error, std::generic_category(),
                            "cannot write the run report " + path.string());
  }
}

std::filesystem::path RunReport::PathBeside(const std::filesystem::path& pst_path) {
  std::filesystem::path log = pst_path;
  log.replace_extension(".log");
  return log;
}

}  // namespace mailvane::run
