#include "run/conversion_run.h"

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "run/file_tests.h"
#include "run/folder_list.h"
#include "run/folder_tree.h"
#include "run/run_texts.h"
#include "source/path_names.h"

namespace mailvane::run {

namespace fs = std::filesystem;

namespace {

// The target folder exists (made with its parents when missing), is a folder and can be
// written; otherwise raises naming the cause.
void EnsureTargetFolder(const std::string& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    throw std::system_error(ec, "the target folder " + folder + " cannot be created");
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

// A .pst name not taken yet, for the store and for its report: two runs in one second
// would otherwise share one name, and neither file is ever written over.
std::string FreePstPath(const std::string& wanted) {
  auto taken = [](const std::string& pst) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(pst, ec)) ||
           fs::exists(fs::symlink_status(RunReport::PathBeside(pst), ec));
  };
  if (!taken(wanted)) return wanted;
  const std::string stem = wanted.substr(0, wanted.size() - 4);
  for (int n = 2;; ++n) {
    std::string candidate = stem + " (" + std::to_string(n) + ").pst";
    if (!taken(candidate)) return candidate;
  }
}

// Steps read only regular files: a FIFO would block the run, a device would never end.
bool IsRegularFile(const std::string& file, std::string& why) {
  std::error_code ec;
  fs::file_status status = fs::status(file, ec);
  if (ec) {
    why = "cannot examine the file: " + ec.message();
    return false;
  }
  if (fs::is_regular_file(status)) return true;
  switch (status.type()) {
    case fs::file_type::fifo: why = "it is a FIFO, not a regular file; not opened"; break;
    case fs::file_type::socket: why = "it is a socket, not a regular file; not opened"; break;
    case fs::file_type::block:
    case fs::file_type::character: why = "it is a device, not a regular file; not opened"; break;
    case fs::file_type::directory: why = "it is a folder, not a regular file"; break;
    default: why = "it is not a regular file; not opened"; break;
  }
  return false;
}

}  // namespace

namespace {

// What the user can do about a set-up that failed with this error.
const char* SetUpAdvice(std::error_code code) {
  if (code == std::errc::permission_denied || code == std::errc::operation_not_permitted ||
      code == std::errc::read_only_file_system || code == std::errc::no_such_file_or_directory) {
    return "Choose a folder you may write to.";
  }
  if (code == std::errc::no_space_on_device || code == std::errc::file_too_large ||
      code.value() == EDQUOT) {
    return "Free some space on that disk, or choose a folder on another disk.";
  }
  if (code == std::errc::not_a_directory || code == std::errc::file_exists) {
    return "Choose a folder, not a file.";
  }
  return "Choose another folder to save to, or mend the cause above and try again.";
}

}  // namespace

std::string SessionErrorText(const std::string& cause, std::error_code code) {
  return std::string(kSessionErrorText) + "\r\n" + kSessionErrorCausePrefix + cause + "\r\n" +
         SetUpAdvice(code);
}

ConversionRun::ConversionRun(source::FrontEnd& front_end, SessionFactory make_session,
                             ItemSteps steps, RunOptions options)
    : front_end_(front_end),
      make_session_(std::move(make_session)),
      steps_(std::move(steps)),
      options_(std::move(options)) {}

RunResult ConversionRun::CmdExtractDBX_Click(const std::vector<std::string>& file_list,
                                             int file_count) {
  // A press of "Convert &Messages" during a yield of this run must not start another.
  if (Running()) return {RunOutcome::kRefused, "a conversion is already in progress", ""};
  // Whatever way this run ends, the next press may start a new one.
  struct BackToIdle {
    RunState& state;
    ~BackToIdle() { state.phase = RunPhase::kIdle; }
  } back_to_idle{state_};
  state_.phase = RunPhase::kChoosingTarget;
  std::string target = front_end_.BrowseForFolder(kChooseTargetTitle);
  if (target.empty()) {
    return {RunOutcome::kCancelled, "", ""};
  }
  front_end_.SetConvertEnabled(false);
  front_end_.SetAddFolderEnabled(false);
  if (target.back() != source::kPathSeparator) target += source::kPathSeparator;
  state_.TargetFolder = target;
  state_.phase = RunPhase::kSetUp;
  front_end_.Yield();
  front_end_.SetProgressRange(0, 100);
  front_end_.Yield();

  report_ = RunReport();
  message_step_ran_ = false;
  std::error_code set_up_error;
  if (!source::TryStep(report_, "", "set-up", [&] {
        try {
          SetUp(file_list, file_count);
        } catch (const std::system_error& e) {
          set_up_error = e.code();  // kept for the advice; the failure is recorded as ever
          throw;
        }
      })) {
    return SessionFailure(report_.Failures().back().reason, set_up_error);
  }

  state_.phase = RunPhase::kCreatingFolderTree;
  TreeContext tree{*session_, state_.storeID, state_.StoreDisplayName, front_end_, report_};
  CreateFolderTree(state_.FolderList, tree);

  state_.phase = RunPhase::kConverting;
  ConvertFiles(file_list, file_count);

  state_.phase = RunPhase::kFinishing;
  front_end_.Yield();
  source::TryStep(report_, "", "log-off", [&] { session_->Logoff(); });
  store_ = nullptr;
  session_.reset();
  std::string report_path = RunReport::PathBeside(state_.PstPath).string();
  if (!source::TryStep(report_, "", "write report", [&] {
        report_.Write(report_path, state_.PstPath, static_cast<std::size_t>(file_count));
      })) {
    report_path.clear();
  }
  ShowClosingMessage(report_path);
  front_end_.SetAddFolderEnabled(true);
  front_end_.SetConvertEnabled(!message_step_ran_);
  return {RunOutcome::kCompleted, "", report_path};
}

void ConversionRun::SetUp(const std::vector<std::string>& file_list, int file_count) {
  session_ = make_session_();
  if (session_ == nullptr) throw std::runtime_error("no mail session could be made");
  session_->Logon();
  front_end_.SetStatusText(kSessionCreated);

  EnsureTargetFolder(state_.TargetFolder);
  state_.PstPath = FreePstPath(options_.pst_name.empty()
                                   ? PstPathFor(state_.TargetFolder, options_.clock())
                                   : state_.TargetFolder + options_.pst_name);
  state_.StoreDisplayName = StoreDisplayNameFor(options_.clock());
  store_ = &session_->AddPSTStore(state_.PstPath, store::kStoreFormatUnicode,
                                  state_.StoreDisplayName);
  state_.storeID = store_->EntryID();
  store_->ValidateIPMTree();

  state_.FolderList = BuildFolderList(file_list, file_count, front_end_);
}

RunResult ConversionRun::SessionFailure(const std::string& cause, std::error_code code) {
  // The status line may say that the session was created; it was not usable.
  front_end_.SetStatusText(kNotStartedPrefix + cause);
  front_end_.ShowMessage(SessionErrorText(cause, code), kSessionErrorTitle,
                         source::MessageBoxIcon::kInformation);
  // No log-off; the session is released and whatever it made stays on disk.
  store_ = nullptr;
  session_.reset();
  front_end_.SetAddFolderEnabled(true);
  front_end_.SetConvertEnabled(true);
  return {RunOutcome::kSessionFailed, cause, ""};
}

void ConversionRun::ConvertFiles(const std::vector<std::string>& file_list, int file_count) {
  zimbra::ItemContext items{*session_, state_.storeID, front_end_, report_,
                            [this](std::string_view file, std::string_view note) {
                              report_.Notice(file, note);
                            }};
  MessageContext messages{*session_, state_.storeID, state_.StoreDisplayName, front_end_,
                          report_};
  items_since_commit_ = 0;
  last_commit_ = std::chrono::steady_clock::now();
  const std::string of = " of " + std::to_string(file_count) + ") file(s)";
  state_.FileNumber = 1;
  for (int k = 0; k < file_count; ++k) {
    ConvertOne(file_list[static_cast<std::size_t>(k)], items, messages);
    front_end_.SetFrameCaption("Details : Reading - (" + std::to_string(state_.FileNumber) + of);
    const float percent =
        static_cast<float>(static_cast<double>(state_.FileNumber) / file_count * 100.0);
    front_end_.SetProgressValue(static_cast<int>(percent));
    ++state_.FileNumber;
    SafePoint(false);
  }
  message_step_ran_ = messages.convert_disabled;
}

void ConversionRun::ConvertOne(const std::string& file, zimbra::ItemContext& items,
                               MessageContext& messages) {
  report_.BeginFile();
  const std::string logical = LogicalPath(file);
  const FileTests tests = TestFile(logical);
  bool wrote = false;
  std::string why;
  if (tests.Any() && !IsRegularFile(file, why)) {
    report_.RecordFailure(file, "read", why);
  } else if (tests.Any()) {
    auto run_record = [&](bool passed, const RecordStep& step, const char* name, ItemKind kind) {
      bool written = false;
      if (passed && step) source::TryStep(report_, file, name, [&] { written = step(items, file); });
      if (written) {
        report_.ItemWritten(kind);
        ++items_since_commit_;
        wrote = true;
      }
    };
    run_record(tests.contact, steps_.contact, "contact", ItemKind::kContact);
    run_record(tests.calendar, steps_.calendar, "appointment", ItemKind::kAppointment);
    run_record(tests.task, steps_.task, "task", ItemKind::kTask);
    run_record(tests.note, steps_.note, "note", ItemKind::kNote);
    if (tests.message && steps_.message) {
      bool written = false;
      source::TryStep(report_, file, "message",
                      [&] { written = steps_.message(messages, file, logical); });
      if (written) {
        report_.ItemWritten(ItemKind::kMessage);
        ++items_since_commit_;
        wrote = true;
      }
    }
  }
  report_.EndFile(file, tests.Any(), wrote);
}

void ConversionRun::SafePoint(bool force) {
  if (items_since_commit_ == 0) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && items_since_commit_ < options_.commit_every_items &&
      now - last_commit_ < options_.commit_every_time) {
    return;
  }
  source::TryStep(report_, "", "safe point", [&] { store_->Commit(); });
  items_since_commit_ = 0;
  last_commit_ = now;
}

void ConversionRun::ShowClosingMessage(const std::string& report_path) {
  if (!report_.HasFailures() && !report_.NothingConverted()) {
    front_end_.ShowMessage(kCompletionText + ("\r\n" + state_.PstPath), kCompletionTitle,
                           source::MessageBoxIcon::kInformation);
    return;
  }
  if (!report_.HasFailures()) {
    // Files that should have given items gave none: that is no success.
    front_end_.ShowMessage(std::string(kNothingConvertedText) + "\r\n" +
                               std::to_string(report_.FilesWithoutItem()) +
                               " file(s) were taken by a step but gave no item.\r\n" +
                               (report_path.empty() ? "The report could not be written."
                                                    : "See the report: " + report_path),
                           kCompletionTitle, source::MessageBoxIcon::kWarning);
    return;
  }
  std::string text = "Zimbra Messages Converted with Errors.\r\n" +
                     std::to_string(report_.FilesConverted()) + " file(s) converted, " +
                     std::to_string(report_.FilesFailed()) + " file(s) failed.";
  if (report_.OtherFailures() > 0) {
    text += "\r\n" + std::to_string(report_.OtherFailures()) + " other failure(s).";
  }
  text += report_path.empty() ? "\r\nThe report could not be written."
                              : "\r\nSee the report: " + report_path;
  front_end_.ShowMessage(text, kCompletionTitle, source::MessageBoxIcon::kWarning);
}

}  // namespace mailvane::run
