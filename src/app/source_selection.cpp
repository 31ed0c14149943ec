// CmdAddFolder_Click: the source folder choice and its listing.
#include <QApplication>
#include <algorithm>
#include <limits>

#include "app/frm_step1.h"
#include "run/run_texts.h"
#include "source/path_logger.h"
#include "source/path_names.h"

namespace mailvane::app {
namespace {

// The hourglass while a tree is listed; the default arrow again however the listing ends.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

void FrmStep1::CmdAddFolder_Click() {
  // A press that reaches us through a yield of a listing or a run is not acted on.
  if (listing_ || run_in_progress_) return;

  std::string folder = BrowseForFolder(run::kChooseSourceTitle);
  if (folder.empty()) return;  // cancelled: the earlier choice stays as it was
  if (folder.back() != source::kPathSeparator) folder += source::kPathSeparator;
  source_folder_ = folder;
  source_archive_.clear();

  // No second listing or run can start while this one lets the window work.
  listing_ = true;
  SetAddFolderEnabled(false);
  SetConvertEnabled(false);
  pump_.PumpNow();

  if (!path_logger_) {
    path_logger_ = std::make_unique<source::PathLogger>(
        [this](const std::string& text) { SetCountText(text); }, [this] { Yield(); });
  }
  std::size_t skipped = 0;
  {
    WaitCursor wait;
    path_logger_->PathLogInit();
    path_logger_->LogPath(source_folder_);
    file_list_ = path_logger_->TakeFullFileNames();
    skipped = path_logger_->skippedFolders().size();
    path_logger_->Terminate();
  }
  // The count is that of the list taken: a folder that vanished before it was listed leaves
  // the enumerator's count of the previous folder, which no longer describes anything.
  const std::size_t count = std::min<std::size_t>(
      file_list_.size(), static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()));
  file_count_ = static_cast<std::int32_t>(count);
  listing_ = false;

  SetAddFolderEnabled(true);
  SetConvertEnabled(file_count_ >= 1);
  FocusNextStep();  // not left on "E&xit", where the listing's disabled buttons sent it
  const std::string text = source::QueuedCountText(count);
  SetCountText(text);
  std::string message = text;
  if (skipped > 0) {
    message += "\r\n" + std::to_string(skipped) + " folder(s) could not be read and were skipped.";
  }
  ShowMessage(message, run::kApplicationTitle, source::MessageBoxIcon::kNone,
              source::MessageBoxButtons::kOk);
}

}  // namespace mailvane::app
