#include "run/conversion_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "run/file_tests.h"
#include "run/folder_list.h"
#include "run/folder_tree.h"
#include "run/message_marks.h"
#include "source/folder_source.h"
#include "source/path_names.h"
#include "source/relative_folder.h"
#include "source/temp_files.h"

namespace mailvane::run {

namespace fs = std::filesystem;

namespace {

// A target folder the run makes holds a private mailbox: only its owner may enter it.
constexpr mode_t kCreatedFolderMode = 0700;
// How many "name (n).log" the temporary folder is tried with.
constexpr int kMaxReportNames = 1000;

// The target folder exists (made with its parents when missing, private to the user as
// the mailbox is), is a folder and can be written; otherwise raises naming the cause.
void EnsureTargetFolder(const std::string& folder) {
  std::error_code ec;
  std::vector<fs::path> missing;
  for (fs::path p = fs::path(folder).lexically_normal(); !p.empty() && !fs::exists(p, ec);
       p = p.parent_path()) {
    missing.push_back(p);
    if (p == p.parent_path()) break;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (::mkdir(it->c_str(), kCreatedFolderMode) != 0) {
      const int error = errno;
      if (error == EEXIST && fs::is_directory(*it, ec)) continue;  // made by another run
      throw std::system_error(error, std::generic_category(),
                              "the target folder " + folder + " cannot be created");
    }
  }
  if (!fs::is_directory(folder, ec)) {
    throw std::system_error(std::make_error_code(std::errc::not_a_directory),
                            "the target " + folder + " is not a folder");
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    throw std::system_error(errno, std::generic_category(),
                            "the target folder " + folder + " cannot be written");
  }
}

}  // namespace

ConversionRun::ConversionRun(source::FrontEnd& front_end, SessionFactory make_session,
                             ItemSteps steps, RunOptions options)
    : front_end_(front_end),
      make_session_(std::move(make_session)),
      steps_(std::move(steps)),
      options_(std::move(options)) {}

RunResult ConversionRun::CmdExtractDBX_Click(const source::PathList& file_list,
                                             int file_count) {
  if (file_count < 0 || static_cast<std::size_t>(file_count) != file_list.size()) {
    throw std::invalid_argument("file count " + std::to_string(file_count) +
                                " does not match the file list of " +
                                std::to_string(file_list.size()));
  }
  source::FolderSource folder(file_list, "");
  return CmdExtractDBX_Click(folder);
}

RunResult ConversionRun::CmdExtractDBX_Click(source::ExportSource& source) {
  // A press of "Convert &Messages" during a yield of this run must not start another.
  if (Running()) return {RunOutcome::kRefused, "a conversion is already in progress", ""};
  state_.phase = RunPhase::kChoosingTarget;
  const std::string target = front_end_.ChooseTargetFolder();
  state_.phase = RunPhase::kIdle;
  if (target.empty()) return {RunOutcome::kCancelled, "", ""};
  return ConvertInto(target, source);
}

RunResult ConversionRun::ConvertInto(std::string target, source::ExportSource& source) {
  if (Running()) return {RunOutcome::kRefused, "a conversion is already in progress", ""};
  // Whatever way this run ends, the next one may start.
  struct BackToIdle {
    RunState& state;
    ~BackToIdle() { state.phase = RunPhase::kIdle; }
  } back_to_idle{state_};
  if (target.back() != source::kPathSeparator) target += source::kPathSeparator;
  state_.TargetFolder = target;
  state_.phase = RunPhase::kSetUp;
  front_end_.RunStarted();
  front_end_.Yield();

  report_ = RunReport();
  files_read_ = 0;
  folders_made_.clear();
  std::error_code set_up_error;
  if (!source::TryStep(report_, "", "set-up", [&] {
        try {
          SetUp(source.KnownPaths());
        } catch (const std::system_error& e) {
          set_up_error = e.code();  // told to the front end; the failure is recorded as ever
          throw;
        }
      })) {
    return SessionFailure(report_.Failures().back().reason, set_up_error);
  }

  state_.phase = RunPhase::kCreatingFolderTree;
  TreeContext tree{*session_, state_.storeID, state_.StoreDisplayName, front_end_, report_,
                   &kinds_.FolderTypes()};
  CreateFolderTree(state_.FolderList, tree);

  state_.phase = RunPhase::kConverting;
  ConvertFiles(source);
  const std::string stopped = source.StoppedBy();
  if (!stopped.empty()) report_.RecordFailure(source.Name(), "read source", stopped);

  state_.phase = RunPhase::kFinishing;
  front_end_.Yield();
  // A last safe point of its own, so that the counts are known to be in the file before the
  // log-off closes it (a failure there could not say whether its commit went through).
  if (report_.StoreFailure().empty()) {
    SafePoint(true);
    StopIfStoreRefused(0);
  }
  if (source::TryStep(report_, "", "log-off", [&] { session_->Logoff(); })) report_.Committed();
  store_ = nullptr;
  session_.reset();
  RunResult result{RunOutcome::kCompleted, "", ""};
  WriteReport(result);
  front_end_.RunEnded(EndOf(result));
  return result;
}

void ConversionRun::WriteReport(RunResult& result) {
  const fs::path beside = RunReport::PathBeside(state_.PstPath);
  if (source::TryStep(report_, "", "write report",
                      [&] { report_.Write(beside, state_.PstPath, files_read_); })) {
    result.report_path = beside.string();
    return;
  }
  // The target folder refused it (full, gone, read-only): the report must not be lost, so
  // the user's temporary folder takes it, under the first free name.
  std::string why;
  const std::string temp = source::TempFolderPath(&why);
  source::TryStep(report_, "", "write report", [&] {
    if (temp.empty()) throw std::runtime_error("no temporary folder: " + why);
    for (int n = 1;; ++n) {
      const fs::path path =
          fs::path(temp) / (n == 1 ? beside.filename().string()
                                   : beside.stem().string() + " (" + std::to_string(n) + ").log");
      try {
        report_.Write(path, state_.PstPath, files_read_);
        result.report_path = path.string();
        result.report_in_temp_folder = true;
        return;
      } catch (const std::system_error& e) {
        if (e.code() != std::errc::file_exists || n >= kMaxReportNames) throw;
      }
    }
  });
}

void ConversionRun::SetUp(const source::PathList* known_paths) {
  session_ = make_session_();
  if (session_ == nullptr) throw std::runtime_error("no mail session could be made");
  session_->Logon();
  front_end_.Doing(source::Activity::kSessionCreated, "");

  EnsureTargetFolder(state_.TargetFolder);
  state_.PstPath = options_.pst_name.empty() ? PstPathFor(state_.TargetFolder, options_.clock())
                                             : state_.TargetFolder + options_.pst_name;
  state_.StoreDisplayName = StoreDisplayNameFor(options_.clock());
  store_ = &session_->AddPSTStore(state_.PstPath, store::kStoreFormatUnicode,
                                  state_.StoreDisplayName);
  // Another run may have taken the name first: the store says which one it got.
  state_.PstPath = store_->FilePath().string();
  state_.storeID = store_->EntryID();
  store_->ValidateIPMTree();
  report_.PartStarted(state_.PstPath);
  base_display_name_ = state_.StoreDisplayName;
  part_ = 1;
  items_in_part_ = 0;
  can_split_ = true;

  state_.FolderList.clear();
  if (known_paths != nullptr) {
    state_.FolderList =
        BuildFolderList(*known_paths, static_cast<int>(known_paths->size()), front_end_);
  }
  kinds_ = RecordKinds();
  if (known_paths != nullptr) {
    kinds_.Learn(*known_paths, static_cast<int>(known_paths->size()), front_end_);
    const std::string kept = known_paths->KeptInMemoryBecause();
    if (!kept.empty()) report_.Notice("", "the list of the export's files stays in memory: " + kept);
  }
}

RunResult ConversionRun::SessionFailure(const std::string& cause, std::error_code code) {
  // No log-off; the session is released and whatever it made stays on disk.
  store_ = nullptr;
  session_.reset();
  front_end_.SetUpFailed({cause, code});
  return {RunOutcome::kSessionFailed, cause, ""};
}

void ConversionRun::ConvertFiles(source::ExportSource& source) {
  zimbra::ItemContext items{*session_, state_.storeID, front_end_, report_,
                            [this](std::string_view file, std::string_view note) {
                              report_.Notice(file, note);
                            },
                            [this](const std::string& file, store::ItemType type) {
                              return ItemFolder(file, type);
                            }};
  MessageContext messages{*session_, state_.storeID, state_.StoreDisplayName, front_end_,
                          report_};
  messages.keep_unread = options_.keep_unread;
  items_since_commit_ = 0;
  bytes_since_commit_ = 0;
  last_commit_ = std::chrono::steady_clock::now();
  next_commit_allowed_ = last_commit_;
  const source::PathList* known = source.KnownPaths();
  const std::size_t known_count = known != nullptr ? known->size() : 0;
  // Messages on disk are parsed ahead on worker threads (an archive's are parsed here).
  const unsigned threads = options_.threads != 0 ? options_.threads
                                                 : std::max(1u, std::thread::hardware_concurrency());
  if (threads > 1 && steps_.message && known != nullptr) {
    source::TryStep(report_, "", "parse ahead", [&] {
      std::vector<bool> messages_ahead(known->size());
      for (std::size_t i = 0; i < known->size(); ++i) {
        messages_ahead[i] = TestFile(LogicalPath((*known)[i])).message;
      }
      session_->ExpectImports(known, std::move(messages_ahead), threads);
    });
  }
  state_.FileNumber = 1;
  while (source::ExportFile* file = source.Next()) {
    ++files_read_;
    for (const source::SourceProblem& p : source.TakeProblems()) {
      report_.RecordFailure(p.file, "read archive", p.reason);
    }
    if (known == nullptr && file->NotReadable().empty()) EnsureFolders(LogicalPath(file->path()));
    ConvertOne(*file, items, messages);
    TellProgress(source, *file, known_count);
    ++state_.FileNumber;
    bytes_since_commit_ += file->size();
    SafePoint(false);
    // Files of a stream beyond this one are not known: not counted as not reached.
    if (StopIfStoreRefused(known_count > files_read_ ? known_count - files_read_ : 0)) break;
  }
  for (const source::SourceProblem& p : source.TakeProblems()) {
    report_.RecordFailure(p.file, "read archive", p.reason);
  }
  source::TryStep(report_, "", "parse ahead", [&] { session_->ExpectImports(nullptr, {}, 0); });
}

void ConversionRun::TellProgress(source::ExportSource& source, const source::ExportFile& file,
                                 std::size_t known_count) {
  source::FileProgress progress;
  progress.file_number = state_.FileNumber;
  progress.file_count = static_cast<int>(known_count);
  if (known_count == 0) {
    // A stream: how far into the archive, and the entry just read.
    progress.stream_percent = source.Percent();
    progress.bytes_read = source.BytesRead();
    progress.file = file.shown();
  }
  front_end_.FileDone(progress);
}

void ConversionRun::EnsureFolders(const std::string& logical_path) {
  const std::string folder = source::WithoutSplitSuffixes(source::RelativeFolder(logical_path));
  if (folder.empty() || folders_made_.count(folder) != 0) return;
  // The folder and those of its ancestors not made yet, parents first, as the whole tree
  // would make them.
  std::vector<std::string> missing;
  for (std::size_t cut = 0; (cut = folder.find(source::kStoreSeparator, cut)) != std::string::npos; ++cut) {
    std::string ancestor = folder.substr(0, cut);
    if (folders_made_.insert(ancestor).second) missing.push_back(std::move(ancestor));
  }
  folders_made_.insert(folder);
  missing.push_back(folder);
  // An archive's own top folders stand where the export's root would: those that a default
  // folder stands for are passed over, as they are one level down in a folder.
  std::erase_if(missing, [](const std::string& e) {
    return e.find(source::kStoreSeparator) == std::string::npos && EndsWithDefaultFolderName(e);
  });
  TreeContext tree{*session_, state_.storeID, state_.StoreDisplayName, front_end_, report_,
                   &kinds_.FolderTypes()};
  CreateFolderTree(missing, tree);
}

void ConversionRun::ConvertOne(source::ExportFile& file, zimbra::ItemContext& items,
                               MessageContext& messages) {
  report_.BeginFile();
  const std::string& shown = file.shown();
  const std::string logical = LogicalPath(file.path());
  const FileTests tests = kinds_.Tests(file, logical);
  // From a stream a message's record paired with it comes just before it: its marks wait
  // there. A record without its message is named by the source.
  if (file.DiskPath() == nullptr && EndsWithLower(file.path(), ".eml.meta") &&
      file.NotReadable().empty() && file.DataFile() != nullptr) {
    try {
      messages.pending_marks[file.path().substr(0, file.path().size() - 5)] =
          MarksOfRecord(file.Content());
    } catch (const std::exception& e) {
      report_.Notice(shown, std::string("the message's record was not read: ") + e.what());
    }
  }
  bool wrote = false;
  const std::string why = tests.Any() ? file.NotReadable() : std::string();
  if (!why.empty()) {
    report_.RecordFailure(shown, "read", why);
  } else if (tests.Any()) {
    KeepUnderSizeLimit(file, items, messages);
    auto run_record = [&](bool passed, const RecordStep& step, const char* name, ItemKind kind) {
      bool written = false;
      if (passed && step) source::TryStep(report_, shown, name, [&] { written = step(items, file); });
      if (written) {
        report_.ItemWritten(kind);
        ++items_since_commit_;
        ++items_in_part_;
        wrote = true;
      }
    };
    run_record(tests.contact, steps_.contact, "contact", ItemKind::kContact);
    run_record(tests.calendar, steps_.calendar, "appointment", ItemKind::kAppointment);
    run_record(tests.task, steps_.task, "task", ItemKind::kTask);
    run_record(tests.note, steps_.note, "note", ItemKind::kNote);
    if (tests.message && steps_.message) {
      bool written = false;
      source::TryStep(report_, shown, "message",
                      [&] { written = steps_.message(messages, file, logical); });
      if (written) {
        report_.ItemWritten(ItemKind::kMessage);
        ++items_since_commit_;
        ++items_in_part_;
        wrote = true;
      }
    }
  }
  report_.EndFile(shown, tests.Any(), wrote);
}

std::unique_ptr<store::Folder> ConversionRun::ItemFolder(const std::string& path,
                                                        store::ItemType type) {
  const std::string logical = LogicalPath(path);
  const FileTests by_path = TestFile(logical);
  if ((type == store::ItemType::kContact && by_path.contact) ||
      (type == store::ItemType::kAppointment && by_path.calendar) ||
      (type == store::ItemType::kTask && by_path.task) || type == store::ItemType::kNote) {
    return nullptr;
  }
  const std::string rel = source::WithoutSplitSuffixes(source::RelativeFolder(logical));
  std::string shown;
  return OpenMirroredFolder(*store_, rel, shown, kinds_.FolderTypeOf(rel));
}

bool ConversionRun::StopIfStoreRefused(std::size_t files_not_reached) {
  // A file that refused one write refuses every later one: taking more files would only
  // fail them all, so the run stops and tells what the file holds.
  const std::string cause = store_->WriteFailure();
  if (cause.empty()) return false;
  report_.StoreRefused(cause, files_not_reached);
  return true;
}

void ConversionRun::SafePoint(bool force) {
  if (items_since_commit_ == 0) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && ((items_since_commit_ < options_.commit_every_items &&
                  now - last_commit_ < options_.commit_every_time &&
                  bytes_since_commit_ < options_.commit_every_bytes) ||
                 now < next_commit_allowed_)) {
    return;
  }
  if (source::TryStep(report_, "", "safe point", [&] { store_->Commit(); })) report_.Committed();
  items_since_commit_ = 0;
  bytes_since_commit_ = 0;
  last_commit_ = std::chrono::steady_clock::now();
  next_commit_allowed_ = last_commit_ + (last_commit_ - now) * options_.commit_spacing;
}

namespace {

// What one file's item may add to a .pst at most, as far as can be told before it is
// written: text grows to UTF-16, and the commit after it rewrites some B-tree pages.
std::uint64_t ItemSizeBound(source::ExportFile& file) {
  std::uint64_t input = file.size();
  // A record's data file (its MIME attachments) goes into the same item.
  if (LogicalPath(file.path()).ends_with(".meta")) {
    if (source::ExportFile* data = file.DataFile()) input += data->size();
  }
  return 2 * input + (16 << 10);
}

}  // namespace

void ConversionRun::KeepUnderSizeLimit(source::ExportFile& file, zimbra::ItemContext& items,
                                       MessageContext& messages) {
  if (options_.max_pst_size == 0 || items_in_part_ == 0 || !can_split_) return;
  const std::uint64_t more = ItemSizeBound(file);
  if (store_->SizeWith(more) <= options_.max_pst_size) return;
  // What the last safe point left to write counts in the size until it is written.
  SafePoint(true);
  if (store_->SizeWith(more) <= options_.max_pst_size) return;
  StartNextPart(items, messages);
}

void ConversionRun::StartNextPart(zimbra::ItemContext& items, MessageContext& messages) {
  SafePoint(true);
  const std::string& first = state_.PstPath;
  const std::string number = std::to_string(part_ + 1);
  const std::string path = first.substr(0, first.size() - 4) + " part " + number + ".pst";
  store::Store* next = nullptr;
  if (!source::TryStep(report_, "", "new part", [&] {
        next = &session_->AddPSTStore(path, store::kStoreFormatUnicode,
                                      base_display_name_ + " part " + number);
        next->ValidateIPMTree();
      })) {
    can_split_ = false;  // the run goes on in the part it has
    return;
  }
  store::Store* previous = store_;
  store_ = next;
  ++part_;
  items_in_part_ = 0;
  state_.StoreDisplayName = next->DisplayName();
  state_.storeID = next->EntryID();
  items.storeID = state_.storeID;
  messages.cached_folder.reset();
  // A name taken by another run gave the next free one.
  report_.PartStarted(next->FilePath().string());
  source::TryStep(report_, "", "close part", [&] { session_->RemoveStore(*previous); });
  // Each part holds the whole folder tree; what making it tells was told for the first.
  RunReport again;
  TreeContext tree{*session_, state_.storeID, state_.StoreDisplayName, front_end_, again};
  CreateFolderTree(state_.FolderList, tree);
  for (const auto& f : again.Failures()) report_.RecordFailure(f.file, f.step, f.reason);
}

source::RunEnd ConversionRun::EndOf(const RunResult& result) const {
  source::RunEnd end;
  if (report_.HasFailures()) {
    end.verdict = source::RunVerdict::kConvertedWithFailures;
  } else if (report_.NothingConverted()) {
    end.verdict = source::RunVerdict::kNothingConverted;  // no failure, and yet no item
  }
  end.pst_path = state_.PstPath;
  end.report_path = result.report_path;
  end.report_in_temp_folder = result.report_in_temp_folder;
  end.items_written = report_.ItemsTotal();
  end.files_converted = report_.FilesConverted();
  end.files_failed = report_.FilesFailed();
  end.files_without_item = report_.FilesWithoutItem();
  end.other_failures = report_.OtherFailures();
  if (report_.Parts().size() > 1) {
    for (const RunReport::Part& p : report_.Parts()) end.parts.push_back({p.path, p.items});
  }
  end.store_failure = report_.StoreFailure();
  end.files_lost = report_.FilesLost();
  end.files_not_reached = report_.FilesNotReached();
  return end;
}

}  // namespace mailvane::run
