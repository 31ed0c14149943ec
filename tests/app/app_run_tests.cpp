// Conversions through the window on an in-memory store: a dropped archive, a press during
// the run, ending after it. The whole run and ending mid-run are the Xvfb session's and the
// real store's tests.
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <utility>

#include "app/fake_dialogs.h"
#include "app/frm_step1.h"
#include "run/fake_store.h"

using mailvane::app::FrmStep1;
using mailvane::app::WindowServices;
using mailvane::app::testing::FakeDialogs;
using mailvane::source::MessageBoxAnswer;
using mailvane::testing::FakeSession;
using mailvane::testing::FakeWorld;
namespace fs = std::filesystem;

namespace {

// Lets a test act in the middle of a run, as a person would while the window yields:
// at the k-th "Details" caption.
class ActingWindow : public FrmStep1 {
 public:
  using FrmStep1::FrmStep1;
  int act_at = 0;
  std::function<void()> act;
  std::vector<std::string> captions;

  void SetFrameCaption(const std::string& text) override {
    captions.push_back(text);
    FrmStep1::SetFrameCaption(text);
    if (act && static_cast<int>(captions.size()) == act_at) std::exchange(act, nullptr)();
  }
};

struct Harness {
  FakeDialogs dialogs;
  FakeWorld world;
  QTemporaryDir temp;
  std::vector<bool> ends;  // busy, for each end called
  std::unique_ptr<ActingWindow> window;

  Harness() {
    WindowServices services;
    services.dialogs = &dialogs;
    services.conversion = {[this] { return std::make_unique<FakeSession>(world); },
                           mailvane::run::DefaultItemSteps(), {}};
    services.end_program = [this](bool busy) {
      ends.push_back(busy);
    };
    window = std::make_unique<ActingWindow>(std::move(services));
  }
  std::string Path(const std::string& relative) const {
    return temp.path().toStdString() + "/" + relative;
  }
  void Touch(const std::string& relative, const std::string& text) const {
    const fs::path path = Path(relative);
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
  }
  // A small export: three messages, the records Zimbra writes beside them, a stray file.
  void MakeExport() const {
    const std::string eml = "From: a@example.com\r\nTo: b@example.com\r\nSubject: Hi\r\n\r\nHello\r\n";
    Touch("export/Inbox/1.eml", eml);
    Touch("export/Inbox/1.eml.meta", "{}");
    Touch("export/Sent/2.eml", eml);
    Touch("export/Work/3.eml", eml);
    Touch("export/readme.txt", "not mail");
  }
  void ChooseSource() {
    dialogs.folder_answers.push_back(Path("export"));
    window->CmdAddFolder_Click();
  }
  void Convert() {
    dialogs.folder_answers.push_back(Path("out"));
    window->CmdExtractDBX_Click();
  }
  template <typename T>
  T* Control(const char* name) {
    return window->findChild<T*>(QString::fromLatin1(name));
  }
};

// The completion box, whose last line is the .pst's path.
bool IsCompletion(const std::string& text, const fs::path& pst) {
  return text == "Zimbra Messages Converted Successfully.\r\nOpen Outlook to view converted PST "
                 "file.\r\n" + pst.string();
}

}  // namespace

class RunThroughWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void DroppedArchiveIsTheSource() {
    Harness h;
    h.MakeExport();
    const std::string archive = h.Path("export.tgz");
    QCOMPARE(std::system(("tar czf '" + archive + "' -C '" + h.Path("export") + "' .").c_str()), 0);
    h.window->TakeDroppedArchive(archive);  // what a drop of the file on the window does
    // The label names the archive and its size: its files are known only once it is read.
    QVERIFY(h.Control<QLabel>("lblCount1")->text().startsWith(QStringLiteral("export.tgz (")));
    QVERIFY(h.Control<QLabel>("lblCount1")->text().endsWith(
        QStringLiteral(") Queued for Conversion.")));
    QVERIFY(h.Control<QPushButton>("CmdExtractDBX")->isEnabled());
    h.Convert();
    QCOMPARE(h.world.items_saved, 3);
    QVERIFY(IsCompletion(h.dialogs.messages.back().text, h.world.pst_path));
    QVERIFY(h.window->captions.back().find("%") != std::string::npos);
  }

  void PressesDuringARunAreNotActedOn() {
    Harness h;
    h.MakeExport();
    h.ChooseSource();
    h.window->act_at = 2;
    h.window->act = [&] {
      QVERIFY(h.window->RunInProgress());
      QVERIFY(!h.Control<QPushButton>("CmdAddFolder")->isEnabled());
      h.window->CmdExtractDBX_Click();
      h.window->CmdAddFolder_Click();
    };
    h.Convert();
    // Only the two dialogs of the source choice and the one run.
    QCOMPARE(h.dialogs.folder_titles.size(), size_t{2});
    QCOMPARE(h.world.logons, 1);
    QCOMPARE(h.window->FileCount(), 5);
  }

  void NoCommitAfterTheRunLoggedOff() {
    // Once the run has logged off, its store is closed; ending then must not touch it.
    Harness h;
    h.MakeExport();
    h.ChooseSource();
    h.Convert();
    const int commits = h.world.commits;
    h.dialogs.yes_no_answers = {MessageBoxAnswer::kYes};
    h.window->cmdEnd_Click();
    QCOMPARE(h.ends.size(), size_t{1});
    QVERIFY(!h.ends[0]);
    QCOMPARE(h.world.commits, commits);
  }
};

QTEST_MAIN(RunThroughWindowTest)
#include "app_run_tests.moc"
