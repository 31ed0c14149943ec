// The window offscreen with answered dialogs, on the real store: choosing the source, a
// dropped archive, presses while it is busy and its labels. (Keys, help, closing, the
// whole run and the exit question as a person uses them are the gui_session test's.)
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <utility>

#include "app/fake_dialogs.h"
#include "app/frm_step1.h"
#include "app/status_label.h"
#include "run/conversion_setup.h"
#include "support/files.h"

using mailvane::app::FrmStep1;
using mailvane::app::StatusLabel;
using mailvane::source::MessageBoxAnswer;
namespace fs = std::filesystem;

namespace {

// Records every count text with the state of the buttons and the cursor, and lets a test
// act as a person would while the window is busy: at the first count shown, or at the
// k-th "Details" caption of a run.
class WatchedWindow : public FrmStep1 {
 public:
  using FrmStep1::FrmStep1;
  struct Shown {
    std::string text;
    bool add_enabled, convert_enabled, waiting;
  };
  std::vector<Shown> shown;
  std::function<void()> during_listing;
  std::vector<std::string> captions;
  int act_at = 0;
  std::function<void()> during_run;

  void SetCountText(const std::string& text) override {
    shown.push_back({text, findChild<QPushButton*>(QStringLiteral("CmdAddFolder"))->isEnabled(),
                     findChild<QPushButton*>(QStringLiteral("CmdExtractDBX"))->isEnabled(),
                     QApplication::overrideCursor() != nullptr});
    if (during_listing) std::exchange(during_listing, nullptr)();
    FrmStep1::SetCountText(text);
  }
  void SetFrameCaption(const std::string& text) override {
    captions.push_back(text);
    FrmStep1::SetFrameCaption(text);
    if (during_run && static_cast<int>(captions.size()) == act_at) std::exchange(during_run, nullptr)();
  }
};

struct Harness {
  mailvane::app::testing::FakeDialogs dialogs;
  std::vector<bool> ends;  // one per end of the program: was it busy
  int sessions = 0;
  QTemporaryDir temp;
  std::unique_ptr<WatchedWindow> window;

  Harness() {
    mailvane::app::WindowServices services;
    services.dialogs = &dialogs;
    services.conversion = mailvane::run::DefaultConversionSetup();
    services.conversion.session_factory = [this, real = services.conversion.session_factory] {
      ++sessions;
      return real();
    };
    services.end_program = [this](bool busy) { ends.push_back(busy); };
    services.guide_address = "file:///opt/larkwell/share/mailvane/guide.html";
    window = std::make_unique<WatchedWindow>(std::move(services));
  }
  std::string Root() const { return temp.path().toStdString(); }
  void Touch(const std::string& relative, const std::string& text = "x") const {
    mailvane::testsupport::WriteFile(fs::path(Root()) / relative, text);
  }
  // A small export: three messages, the records Zimbra writes beside them, a stray file.
  void MakeExport() const {
    for (const char* f : {"export/Inbox/1.eml", "export/Sent/2.eml", "export/Work/3.eml"}) {
      Touch(f, mailvane::testsupport::Rfc822("Hi"));
    }
    Touch("export/Inbox/1.eml.meta", "{}");
    Touch("export/readme.txt", "not mail");
  }
  void Choose(const std::string& folder) {
    dialogs.folder_answers.push_back(folder);
    window->CmdAddFolder_Click();
  }
  void Convert() {
    dialogs.folder_answers.push_back(Root() + "/out");
    window->CmdExtractDBX_Click();
  }
  template <typename T>
  T* Control(const char* name) {
    T* control = window->findChild<T*>(QString::fromLatin1(name));
    if (control == nullptr) qFatal("no control named %s", name);
    return control;
  }
  QString CountLabel() { return Control<QLabel>("lblCount1")->text(); }
  std::size_t MessagesWritten() const {
    return window->LastRun()->Report().Items(mailvane::run::ItemKind::kMessage);
  }
};

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void CountsEveryFileBeneathTheFolderWhileTheButtonsAreOff() {
    Harness h;
    for (const char* f : {"A/1.eml", "A/1.eml.meta", "A/readme.txt", "A/Inbox/2.eml",
                          "A/Inbox/Sub/3.eml", "Elsewhere/4.eml"}) {
      h.Touch(f);
    }
    fs::create_directory_symlink(h.Root() + "/Elsewhere", h.Root() + "/A/link");
    h.Choose(h.Root() + "/A");  // given without its separator
    QCOMPARE(h.window->SourceFolder(), h.Root() + "/A/");
    QCOMPARE(h.window->FileCount(), 5);
    // Breadth-first, and exactly one separator between the folder and each name.
    QCOMPARE(h.window->FileList()[3], h.Root() + "/A/Inbox/2.eml");
    QCOMPARE(h.window->FileList()[4], h.Root() + "/A/Inbox/Sub/3.eml");
    // The count grows folder by folder while listing, with the buttons off and the
    // hourglass up.
    const auto& shown = h.window->shown;
    QVERIFY(shown.size() > 2);
    for (size_t i = 0; i < shown.size(); ++i) {
      const bool last = i + 1 == shown.size();
      QCOMPARE(shown[i].add_enabled, last);
      QCOMPARE(shown[i].convert_enabled, last);
      QCOMPARE(shown[i].waiting, !last);
    }
    QCOMPARE(shown.front().text, std::string("3 Messages Queued for Conversion."));
    // The box tells the folder link passed over; the label keeps the count alone.
    QCOMPARE(h.CountLabel(), QStringLiteral("5 Messages Queued for Conversion."));
    QCOMPARE(h.dialogs.messages.size(), size_t{1});
    QCOMPARE(h.dialogs.messages[0].text,
             std::string("5 Messages Queued for Conversion.\r\n"
                         "1 folder(s) could not be read and were skipped."));
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }

  void EachChoiceReplacesTheLastAndACancelKeepsIt() {
    Harness h;
    for (const char* f : {"A/1.eml", "A/2.eml", "B/b1.eml"}) h.Touch(f);
    fs::create_directories(h.Root() + "/Empty");
    const struct {
      std::string folder;  // "" cancels
      int count;
      size_t boxes;  // boxes shown so far: none for a cancel
    } steps[] = {{"/A", 2, 1}, {"", 2, 1}, {"/Empty", 0, 2}, {"/B/", 1, 3},
                 // The enumerator keeps its previous count for a start that is not a
                 // folder; the window must not show (or convert) a count no list backs.
                 {"/Gone", 0, 4}};
    for (const auto& step : steps) {
      h.Choose(step.folder.empty() ? "" : h.Root() + step.folder);
      QCOMPARE(h.window->FileCount(), step.count);
      QCOMPARE(h.window->FileList().size(), size_t(step.count));
      QCOMPARE(h.CountLabel(),
               QString::fromStdString(std::to_string(step.count) + " Messages Queued for Conversion."));
      QCOMPARE(h.Control<QPushButton>("CmdExtractDBX")->isEnabled(), step.count > 0);
      QCOMPARE(h.dialogs.messages.size(), step.boxes);
    }
  }

  void PressesWhileBusyAreNotActedOn() {
    Harness h;
    h.MakeExport();
    h.window->during_listing = [&] { h.window->CmdAddFolder_Click(); };
    h.Choose(h.Root() + "/export");
    QCOMPARE(h.dialogs.folder_titles.size(), size_t{1});
    h.window->act_at = 2;
    h.window->during_run = [&] {
      QVERIFY(h.window->RunInProgress());
      QVERIFY(!h.Control<QPushButton>("CmdAddFolder")->isEnabled());
      h.window->CmdExtractDBX_Click();
      h.window->CmdAddFolder_Click();
    };
    h.Convert();
    // Only the dialogs of the source choice and of the one run.
    QCOMPARE(h.dialogs.folder_titles.size(), size_t{2});
    QCOMPARE(h.sessions, 1);
    QCOMPARE(h.window->FileCount(), 5);
    QCOMPARE(h.MessagesWritten(), size_t{3});
    // Once the run has logged off its store is closed: ending then is an idle end.
    h.dialogs.yes_no_answers = {MessageBoxAnswer::kYes};
    h.window->cmdEnd_Click();
    QCOMPARE(h.ends, std::vector<bool>{false});
  }

  void DroppedArchiveIsTheSource() {
    Harness h;
    h.MakeExport();
    const std::string archive = h.Root() + "/export.tgz";
    QCOMPARE(std::system(("tar czf '" + archive + "' -C '" + h.Root() + "/export' .").c_str()), 0);
    h.window->TakeDroppedArchive(archive);  // what a drop of the file on the window does
    // The label names the archive and its size: its files are known only once it is read.
    QVERIFY(h.CountLabel().startsWith(QStringLiteral("export.tgz (")));
    QVERIFY(h.CountLabel().endsWith(QStringLiteral(") Queued for Conversion.")));
    QVERIFY(h.Control<QPushButton>("CmdExtractDBX")->isEnabled());
    h.Convert();
    QCOMPARE(h.MessagesWritten(), size_t{3});
    QVERIFY(h.dialogs.messages.back().text.starts_with("Zimbra Messages Converted Successfully."));
    QVERIFY(h.window->captions.back().find("%") != std::string::npos);
  }

  void LabelsShowMarkupAsText() {
    // A status line carries paths; one that looks like markup must appear as written.
    Harness h;
    h.window->SetStatusText("Converting Messages... from (/x/<b>R&D</b>/1.eml)");
    QCOMPARE(h.Control<QLabel>("LblCurrentDBX")->text(),
             QStringLiteral("Converting Messages... from (/x/<b>R&D</b>/1.eml)"));
    for (QLabel* label : h.window->findChildren<QLabel*>()) {
      QCOMPARE(label->textFormat(), Qt::PlainText);
    }
  }

  void StatusTextFitsItsBox() {
    Harness h;
    auto* status = h.Control<StatusLabel>("LblCurrentDBX");
    const QSize box = status->contentsRect().size();
    const QFontMetrics metrics(status->font());
    const struct {
      QString text;
      bool cut;
    } cases[] = {
        {QStringLiteral("Converting Messages..."), false},
        {QStringLiteral("Converting Messages... from (/srv/") + QString(400, QLatin1Char('x')) +
             QStringLiteral(".eml)"),
         true},
        {QStringLiteral("word ").repeated(200).trimmed(), true},
        // Lines beyond the box run on in the last one rather than being dropped.
        {QStringLiteral("one\ntwo\nthree\nfour\nfive\nsix"), false},
    };
    for (const auto& c : cases) {
      const QStringList lines = StatusLabel::FittedLines(c.text, status->font(), box);
      QVERIFY2(!lines.isEmpty(), qPrintable(c.text));
      QVERIFY2(lines.size() * metrics.lineSpacing() <= box.height(), qPrintable(c.text));
      for (const QString& line : lines) {
        QVERIFY2(metrics.horizontalAdvance(line) <= box.width(), qPrintable(line));
      }
      QCOMPARE(lines.last().endsWith(QChar(0x2026)), c.cut);
      if (!c.cut) QCOMPARE(lines.join(QLatin1Char(' ')).simplified(), c.text.simplified());
    }
  }
};

QTEST_MAIN(WindowTest)
#include "app_window_tests.moc"
