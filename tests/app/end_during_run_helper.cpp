// A window that converts a source into a target with the real store and closes itself
// after a given number of files, as a person closing it mid-run would. The program must end
// right there (exit code 0, no further box); the test that starts it then reads the .pst.
// Usage: end_during_run_helper SOURCE TARGET CLOSE_AFTER_FILES
#include <QApplication>
#include <cstdio>
#include <string>
#include <utility>

#include "app/fake_dialogs.h"
#include "app/frm_step1.h"
#include "store/mail_store.h"

namespace {

class ClosingWindow : public mailvane::app::FrmStep1 {
 public:
  using FrmStep1::FrmStep1;
  int close_after = 0;
  int seen = 0;

  void SetFrameCaption(const std::string& text) override {
    FrmStep1::SetFrameCaption(text);
    if (++seen == close_after) {
      std::printf("closing after %d files\n", seen);
      std::fflush(stdout);
      close();
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s SOURCE TARGET CLOSE_AFTER_FILES\n", argv[0]);
    return 64;
  }
  mailvane::app::testing::FakeDialogs dialogs;
  dialogs.folder_answers = {argv[1], argv[2]};
  dialogs.on_message = [](const mailvane::app::testing::ShownMessage& box) {
    std::printf("box: %s: %s\n", box.title.c_str(), box.text.c_str());
    std::fflush(stdout);
  };
  mailvane::app::WindowServices services;
  services.dialogs = &dialogs;
  services.conversion = mailvane::run::DefaultConversionSetup();
  services.end_program = mailvane::app::EndProcess;

  ClosingWindow window(std::move(services));
  window.close_after = std::stoi(argv[3]);
  window.show();
  window.CmdAddFolder_Click();
  window.CmdExtractDBX_Click();
  std::printf("the run ended without being closed\n");
  return 3;
}
