#include "app/frm_step1.h"
#include "run/run_texts.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "app/link_label.h"
#include "source/archive_source.h"
#include "source/path_logger.h"
#include "source/path_names.h"

namespace mailvane::app {

using source::MessageBoxAnswer;
using source::MessageBoxButtons;
using source::MessageBoxIcon;

void EndProcess(bool busy) {
  if (busy) {
    // The listing or the run is further down the stack, inside a yield. Unwinding would let
    // it go on or log off; the store was committed just before, so the process simply ends.
    std::fflush(nullptr);
    std::_Exit(0);
  }
  QCoreApplication::exit(0);
}

FrmStep1::FrmStep1(WindowServices services, QWidget* parent)
    : QWidget(parent), services_(std::move(services)) {
  if (services_.dialogs == nullptr) {
    throw std::invalid_argument("the main window needs its dialogs");
  }
  if (!services_.end_program) services_.end_program = EndProcess;
  setAcceptDrops(true);
  BuildControls();
  ConnectHandlers();
  Form_Load();
}

FrmStep1::~FrmStep1() = default;

namespace {

// The one local file (not a folder) a drag carries, or "".
std::string DroppedFile(const QMimeData* mime) {
  if (mime == nullptr || !mime->hasUrls() || mime->urls().size() != 1) return {};
  const QUrl url = mime->urls().front();
  if (!url.isLocalFile()) return {};
  const QFileInfo info(url.toLocalFile());
  return info.isFile() ? info.absoluteFilePath().toStdString() : std::string();
}

}  // namespace

void FrmStep1::dragEnterEvent(QDragEnterEvent* event) {
  if (!listing_ && !run_in_progress_ && !DroppedFile(event->mimeData()).empty()) {
    event->acceptProposedAction();
  }
}

void FrmStep1::dropEvent(QDropEvent* event) {
  const std::string path = DroppedFile(event->mimeData());
  if (path.empty() || listing_ || run_in_progress_) return;
  event->acceptProposedAction();
  TakeDroppedArchive(path);
}

void FrmStep1::TakeDroppedArchive(const std::string& path) {
  source_folder_.clear();
  file_list_ = source::PathList();
  source_archive_ = path;
  file_count_ = 1;  // not known before it is read; the run reads it
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  SetCountText(source::ArchiveQueuedText(source::FileNameOf(path), ec ? 0 : size));
  SetConvertEnabled(true);
}

void FrmStep1::Form_Load() {
  source_archive_.clear();
  source_folder_.clear();
  file_list_ = source::PathList();
  file_count_ = 0;
}

void FrmStep1::ConnectHandlers() {
  connect(CmdAddFolder_, &QPushButton::clicked, this, [this] { CmdAddFolder_Click(); });
  connect(CmdExtractDBX_, &QPushButton::clicked, this, [this] { CmdExtractDBX_Click(); });
  connect(CmdHelp_, &QPushButton::clicked, this, [this] { CmdHelp_Click(); });
  connect(Label4_, &LinkLabel::clicked, this, [this] { Label4_Click(); });
  connect(cmdEnd_, &QPushButton::clicked, this, [this] { cmdEnd_Click(); });
}

void FrmStep1::CmdHelp_Click() {
  if (ShellOpen(services_.guide_address)) return;
  // Nothing opened it: a click with no visible effect would leave the user guessing.
  const QUrl url(QString::fromStdString(services_.guide_address));
  const std::string where =
      url.isLocalFile() ? url.toLocalFile().toStdString() : services_.guide_address;
  ShowMessage(std::string(kGuideNotOpened) + "\r\n" + kGuideLocationPrefix + where,
              run::kApplicationTitle, MessageBoxIcon::kInformation, MessageBoxButtons::kOk);
}

void FrmStep1::Label4_Click() { CmdHelp_Click(); }

void FrmStep1::cmdEnd_Click() {
  const MessageBoxAnswer answer =
      ShowMessage(kExitQuestion, run::kApplicationTitle, MessageBoxIcon::kQuestion,
                  MessageBoxButtons::kYesNo);
  if (answer == MessageBoxAnswer::kYes) EndProgram();
}

void FrmStep1::FocusNextStep() {
  QPushButton* next = CmdExtractDBX_->isEnabled() ? CmdExtractDBX_ : CmdAddFolder_;
  if (next->isEnabled()) next->setFocus(Qt::OtherFocusReason);
}

void FrmStep1::closeEvent(QCloseEvent* event) {
  event->accept();
  EndProgram();
}

void FrmStep1::EndProgram() {
  if (ending_) return;
  ending_ = true;
  // Stopping mid-run is not a log-off: the store is only made durable as far as it got.
  for (const std::string& failure : stores_.CommitAll()) {
    std::fprintf(stderr, "mailvane-gui: ending during a conversion: %s\n", failure.c_str());
  }
  services_.end_program(run_in_progress_ || listing_);
}

// --- the controls -------------------------------------------------------------------

void FrmStep1::SetStatusText(const std::string& text) {
  LblCurrentDBX_->setText(QString::fromStdString(text));
}

void FrmStep1::SetFrameCaption(const std::string& text) {
  FrameConversion_->setTitle(QString::fromStdString(text));
}

void FrmStep1::SetProgressRange(int minimum, int maximum) {
  ProgressBar1_->setRange(minimum, maximum);
}

void FrmStep1::SetProgressValue(int value) { ProgressBar1_->setValue(value); }

void FrmStep1::SetConvertEnabled(bool enabled) { CmdExtractDBX_->setEnabled(enabled); }

void FrmStep1::SetAddFolderEnabled(bool enabled) { CmdAddFolder_->setEnabled(enabled); }

void FrmStep1::SetCountText(const std::string& text) {
  lblCount1_->setText(QString::fromStdString(text));
}

std::string FrmStep1::BrowseForFolder(const std::string& title) {
  return services_.dialogs->ChooseFolder(this, title);
}

bool FrmStep1::ShellOpen(const std::string& address) {
  if (address.empty()) return false;
  return services_.dialogs->OpenAddress(address);
}

MessageBoxAnswer FrmStep1::ShowMessage(const std::string& text, const std::string& title,
                                       MessageBoxIcon icon, MessageBoxButtons buttons) {
  return services_.dialogs->ShowMessage(this, text, title, icon, buttons);
}

// --- source::FrontEnd ---------------------------------------------------------------

std::string FrmStep1::ChooseTargetFolder() { return BrowseForFolder(run::kChooseTargetTitle); }

void FrmStep1::RunStarted() {
  SetConvertEnabled(false);
  SetAddFolderEnabled(false);
  SetProgressRange(0, 100);
  message_stored_ = false;
}

void FrmStep1::Doing(source::Activity activity, const std::string& subject) {
  SetStatusText(run::StatusText(activity, subject));
}

void FrmStep1::FileDone(const source::FileProgress& progress) {
  SetFrameCaption(run::ProgressCaption(progress));
  if (const std::optional<int> value = run::ProgressPercent(progress)) SetProgressValue(*value);
}

void FrmStep1::FirstMessage() {
  SetConvertEnabled(false);
  message_stored_ = true;
}

void FrmStep1::SetUpFailed(const source::SetUpFailure& failure) {
  SetStatusText(run::NotStartedStatus(failure));
  const run::BoxText box = run::SetUpFailureBox(failure);
  ShowMessage(box.text, box.title, box.icon, MessageBoxButtons::kOk);
  SetAddFolderEnabled(true);
  SetConvertEnabled(true);
}

void FrmStep1::RunEnded(const source::RunEnd& end) {
  const run::BoxText box = run::EndBox(end);
  ShowMessage(box.text, box.title, box.icon, MessageBoxButtons::kOk);
  SetAddFolderEnabled(true);
  SetConvertEnabled(!message_stored_);
}

void FrmStep1::Yield() { pump_.Pump(); }

}  // namespace mailvane::app
