// CmdExtractDBX_Click: the conversion run, with this window as its front end.
#include <exception>

#include "app/frm_step1.h"
#include "run/file_tests.h"
#include "run/run_texts.h"
#include "source/archive_source.h"

namespace mailvane::app {

void FrmStep1::CmdExtractDBX_Click() {
  // A press that reaches us through a yield of a listing or a run is not acted on.
  if (listing_ || run_in_progress_) return;
  if (!run_) {
    const run::ConversionSetup& setup = services_.conversion;
    run_ = std::make_unique<run::ConversionRun>(*this, stores_.Track(setup.session_factory),
                                                setup.steps, setup.options);
  }
  run_in_progress_ = true;
  try {
    if (source_archive_.empty()) {
      run_->CmdExtractDBX_Click(file_list_, file_count_);
    } else {
      // Read once as it comes: a second run reads the archive again from its start.
      source::ArchiveSource archive(source_archive_, run::TakesDataFile);
      run_->CmdExtractDBX_Click(archive);
    }
    run_in_progress_ = false;
    FocusNextStep();
  } catch (const std::exception& e) {
    // The run guards its own steps; what still escapes (memory exhausted, ...) ends this
    // run only. A fresh run object starts the next one from a clean state.
    run_in_progress_ = false;
    run_.reset();
    SetAddFolderEnabled(true);
    SetConvertEnabled(file_count_ >= 1);
    ShowMessage(std::string("The conversion stopped: ") + e.what(), run::kApplicationTitle,
                source::MessageBoxIcon::kCritical, source::MessageBoxButtons::kOk);
  }
}

}  // namespace mailvane::app
