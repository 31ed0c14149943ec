// One whole conversion, started by "Convert &Messages": target folder, session, the new
// store and its folder tree, one pass over the file list with the five tests, progress,
// log-off and the end told to the front end, with a report written beside the .pst.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "run/item_step_table.h"
#include "run/record_kinds.h"
#include "run/run_report.h"
#include "run/run_state.h"
#include "run/store_names.h"
#include "source/export_file.h"
#include "source/front_end.h"
#include "store/mail_store.h"

namespace mailvane::run {

using SessionFactory = std::function<std::unique_ptr<store::Session>()>;

// Outlook refuses a Unicode .pst above its configured maximum, 50 GB unless changed.
inline constexpr std::uint64_t kDefaultMaxPstSize = std::uint64_t{45} << 30;

struct RunOptions {
  LocalClock clock = SystemLocalTime;
  // Safe points: the store is committed after this many items, this much time or this many
  // bytes read, whichever comes first, so a run killed midway leaves a file holding what
  // was converted so far. What changed since the last commit waits in memory: the bytes
  // keep that bounded when items are large and come fast.
  std::size_t commit_every_items = 500;
  std::chrono::milliseconds commit_every_time{5000};
  std::uint64_t commit_every_bytes = std::uint64_t{32} << 20;
  // A commit writes the trees over each changed folder's table blocks and the B-trees, so
  // it takes longer as the mailbox grows: safe points stay at least this many times the
  // last one's duration apart, which keeps them at a fixed share of the run at any size.
  unsigned commit_spacing = 4;
  // Messages keep the unread state of their records instead of all being marked read.
  bool keep_unread = false;
  // The .pst's file name in the target folder; empty: the dated "ZimbraMailbox" name.
  std::string pst_name = {};
  // A new .pst ("... part 2.pst", ...) is started before an item could take the file past
  // this many bytes; 0: no limit.
  std::uint64_t max_pst_size = kDefaultMaxPstSize;
  // Threads that parse and convert messages while this one writes the store; 1: this
  // thread does it all; 0: one per core.
  unsigned threads = 0;
};

enum class RunOutcome {
  kCancelled,      // the target dialog was cancelled
  kSessionFailed,  // the "Outlook Error" path: the run could not start
  kCompleted,      // ran to its end (with or without failures; see the report)
  kRefused,        // a run was already in progress
};

struct RunResult {
  RunOutcome outcome = RunOutcome::kCancelled;
  std::string cause;        // kSessionFailed: what failed and why
  std::string report_path;  // "" when no report was written
  // The target folder refused the report (full, gone): it went to the temporary folder.
  bool report_in_temp_folder = false;
};

class ConversionRun {
 public:
  ConversionRun(source::FrontEnd& front_end, SessionFactory make_session, ItemSteps steps,
                RunOptions options = {});

  // "Convert &Messages": asks the front end for the target, then converts into it.
  // The run over the first file_count entries of file_list.
  RunResult CmdExtractDBX_Click(const source::PathList& file_list, int file_count);
  RunResult CmdExtractDBX_Click(source::ExportSource& source);
  // The run over the files of a source, read once, into a new .pst in target. A source
  // that knows its files beforehand (a folder) gets its folder tree first; a stream gets
  // each folder when its first file arrives.
  RunResult ConvertInto(std::string target, source::ExportSource& source);

  bool Running() const { return state_.phase != RunPhase::kIdle; }
  const RunState& State() const { return state_; }
  const RunReport& Report() const { return report_; }

 private:
  // The set-up: session, store, folder list. Raises on any failure.
  void SetUp(const source::PathList* known_paths);
  void ConvertFiles(source::ExportSource& source);
  void TellProgress(source::ExportSource& source, const source::ExportFile& file,
                    std::size_t known_count);
  // The folders of a file that arrives from a stream, made when first seen.
  void EnsureFolders(const std::string& logical_path);
  void ConvertOne(source::ExportFile& file, zimbra::ItemContext& items, MessageContext& messages);
  // The folder of an appointment, task or contact outside the export's Calendar, Tasks
  // and Contacts: the mirrored folder of its own folder; nullptr for the default folder.
  std::unique_ptr<store::Folder> ItemFolder(const std::string& path, store::ItemType type);
  void SafePoint(bool force);
  // After a refused write: records the stop and returns true.
  bool StopIfStoreRefused(std::size_t files_not_reached);
  void WriteReport(RunResult& result);
  source::RunEnd EndOf(const RunResult& result) const;
  // Before a file's steps: a new part when the file's item could pass the size limit.
  void KeepUnderSizeLimit(source::ExportFile& file, zimbra::ItemContext& items,
                          MessageContext& messages);
  void StartNextPart(zimbra::ItemContext& items, MessageContext& messages);
  RunResult SessionFailure(const std::string& cause, std::error_code code);

  source::FrontEnd& front_end_;
  SessionFactory make_session_;
  ItemSteps steps_;
  RunOptions options_;
  RunState state_;
  RunReport report_;
  std::unique_ptr<store::Session> session_;
  store::Store* store_ = nullptr;
  RecordKinds kinds_;
  std::size_t files_read_ = 0;
  std::set<std::string> folders_made_;
  std::size_t items_since_commit_ = 0;
  std::uint64_t bytes_since_commit_ = 0;
  std::size_t items_in_part_ = 0;
  int part_ = 1;
  std::string base_display_name_;
  bool can_split_ = true;  // false once a new part could not be made
  std::chrono::steady_clock::time_point last_commit_;
  std::chrono::steady_clock::time_point next_commit_allowed_;
};

}  // namespace mailvane::run
