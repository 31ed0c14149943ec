// The program's one window, frmStep1: its controls, its handlers, and the front end
// through which a conversion run shows its progress and asks its questions.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/event_pump.h"
#include "app/store_tracker.h"
#include "source/path_list.h"
#include "run/conversion_run.h"
#include "run/conversion_setup.h"
#include "source/front_end.h"

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace mailvane::source {
class PathLogger;
}

namespace mailvane::app {

class LinkLabel;

inline constexpr char kExitQuestion[] = "Are you sure you want to exit now?";
inline constexpr char kGuideNotOpened[] =
    "The product guide could not be opened: no program is set up to open it.";
inline constexpr char kGuideLocationPrefix[] = "Open it in a web browser: ";

// What the window is given by main (or by a test).
struct WindowServices {
  Dialogs* dialogs = nullptr;  // not owned; outlives the window
  run::ConversionSetup conversion;  // run::DefaultConversionSetup() in the program
  // Ends the process. busy: a listing or a conversion is in progress further down the
  // stack and must stop where it stands; the store has already been committed.
  std::function<void(bool busy)> end_program;
  std::string guide_address;
};

// The real end of the program: leaves the event loop, or, in the middle of a listing or a
// run, ends the process at once (no destructor may run a log-off or show anything).
void EndProcess(bool busy);

class FrmStep1 : public QWidget, public source::FrontEnd {
  Q_OBJECT

 public:
  explicit FrmStep1(WindowServices services, QWidget* parent = nullptr);
  ~FrmStep1() override;

  // Handlers, named after control and event.
  void Form_Load();
  void CmdAddFolder_Click();
  void CmdExtractDBX_Click();
  void CmdHelp_Click();
  void Label4_Click();
  void cmdEnd_Click();

  // An archive dropped on the window becomes the source, in place of a chosen folder.
  void TakeDroppedArchive(const std::string& path);
  const std::string& SourceArchive() const { return source_archive_; }

  // The source chosen last: the folder (ending in a separator), its files and their number.
  const std::string& SourceFolder() const { return source_folder_; }
  const source::PathList& FileList() const { return file_list_; }
  std::int32_t FileCount() const { return file_count_; }
  bool RunInProgress() const { return run_in_progress_; }
  // The last run, or nullptr before the first.
  const run::ConversionRun* LastRun() const { return run_.get(); }
  EventPump& Pump() { return pump_; }

  // The window's controls and boxes, as the handlers and the reports below use them.
  virtual void SetStatusText(const std::string& text);
  virtual void SetFrameCaption(const std::string& text);
  void SetProgressRange(int minimum, int maximum);
  void SetProgressValue(int value);
  void SetConvertEnabled(bool enabled);
  void SetAddFolderEnabled(bool enabled);
  virtual void SetCountText(const std::string& text);
  std::string BrowseForFolder(const std::string& title);
  bool ShellOpen(const std::string& address);
  source::MessageBoxAnswer ShowMessage(const std::string& text, const std::string& title,
                                       source::MessageBoxIcon icon,
                                       source::MessageBoxButtons buttons);

  // source::FrontEnd: what a run reports, in the window's words (run/run_texts.h).
  std::string ChooseTargetFolder() override;
  void RunStarted() override;
  void Doing(source::Activity activity, const std::string& subject) override;
  void FileDone(const source::FileProgress& progress) override;
  void FirstMessage() override;
  void SetUpFailed(const source::SetUpFailure& failure) override;
  void RunEnded(const source::RunEnd& end) override;
  void Yield() override;

 protected:
  // Form_Unload: closing the window ends the program at once, without a question.
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildControls();  // frm_step1_layout.cpp
  void ConnectHandlers();
  void EndProgram();
  // After a choice or a run: the focus on what a person does next.
  void FocusNextStep();

  WindowServices services_;
  EventPump pump_;

  QLabel* lblTitle_ = nullptr;
  QLabel* lblCount1_ = nullptr;
  LinkLabel* Label4_ = nullptr;
  QGroupBox* FrameConversion_ = nullptr;
  QLabel* LblCurrentDBX_ = nullptr;
  QProgressBar* ProgressBar1_ = nullptr;
  QPushButton* CmdAddFolder_ = nullptr;
  QPushButton* CmdExtractDBX_ = nullptr;
  QPushButton* CmdHelp_ = nullptr;
  QPushButton* cmdEnd_ = nullptr;

  std::unique_ptr<source::PathLogger> path_logger_;  // made on first use, then kept
  StoreTracker stores_;                              // outlives every session of run_
  std::unique_ptr<run::ConversionRun> run_;          // keeps the state of the last run
  std::string source_folder_;
  std::string source_archive_;  // "" unless an archive was dropped
  source::PathList file_list_;
  std::int32_t file_count_ = 0;
  bool listing_ = false;
  bool run_in_progress_ = false;
  bool ending_ = false;
  bool message_stored_ = false;  // "Convert &Messages" stays off after a run that stored one
};

}  // namespace mailvane::app
