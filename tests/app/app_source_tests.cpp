// Choosing the source folder: the listing, the count, the box, and what a cancel keeps.
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <memory>
#include <utility>

#include "app/fake_dialogs.h"
#include "app/frm_step1.h"

using mailvane::app::FrmStep1;
using mailvane::app::WindowServices;
using mailvane::app::testing::FakeDialogs;
using mailvane::source::MessageBoxButtons;
using mailvane::source::MessageBoxIcon;
namespace fs = std::filesystem;

namespace {

// Records every count text as it is shown, with the state of the buttons and the cursor.
class RecordingWindow : public FrmStep1 {
 public:
  using FrmStep1::FrmStep1;
  struct Shown {
    std::string text;
    bool add_enabled;
    bool convert_enabled;
    bool waiting;  // the hourglass is up
  };
  std::vector<Shown> shown;
  std::function<void()> during_listing;  // called once, at the first count shown

  void SetCountText(const std::string& text) override {
    shown.push_back({text, findChild<QPushButton*>(QStringLiteral("CmdAddFolder"))->isEnabled(),
                     findChild<QPushButton*>(QStringLiteral("CmdExtractDBX"))->isEnabled(),
                     QApplication::overrideCursor() != nullptr});
    if (during_listing) std::exchange(during_listing, nullptr)();
    FrmStep1::SetCountText(text);
  }
};

struct Harness {
  FakeDialogs dialogs;
  std::unique_ptr<RecordingWindow> window;
  QTemporaryDir temp;

  Harness() {
    WindowServices services;
    services.dialogs = &dialogs;
    services.end_program = [](bool) {};
    window = std::make_unique<RecordingWindow>(std::move(services));
  }
  std::string Root() const { return temp.path().toStdString(); }
  void Touch(const std::string& relative) const {
    const fs::path path = fs::path(Root()) / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
  }
  void Choose(const std::string& folder) {
    dialogs.folder_answers.push_back(folder);
    window->CmdAddFolder_Click();
  }
  QString CountLabel() const {
    return window->findChild<QLabel*>(QStringLiteral("lblCount1"))->text();
  }
  bool ConvertEnabled() const {
    return window->findChild<QPushButton*>(QStringLiteral("CmdExtractDBX"))->isEnabled();
  }
};

}  // namespace

class SourceSelectionTest : public QObject {
  Q_OBJECT

 private slots:
  void CountsEveryFileBeneathTheFolder() {
    Harness h;
    for (const char* f : {"A/1.eml", "A/1.eml.meta", "A/readme.txt", "A/Inbox/2.eml",
                          "A/Inbox/Sub/3.eml"}) {
      h.Touch(f);
    }
    h.Choose(h.Root() + "/A");  // given without its separator
    QCOMPARE(h.dialogs.folder_titles, std::vector<std::string>{"Choose Source Folder..."});
    QCOMPARE(h.window->SourceFolder(), h.Root() + "/A/");
    QCOMPARE(h.window->FileCount(), 5);
    QCOMPARE(h.window->FileList().size(), size_t{5});
    // Breadth-first, and exactly one separator between the folder and each name.
    QCOMPARE(h.window->FileList()[3], h.Root() + "/A/Inbox/2.eml");
    QCOMPARE(h.window->FileList()[4], h.Root() + "/A/Inbox/Sub/3.eml");
    QCOMPARE(h.CountLabel(), QStringLiteral("5 Messages Queued for Conversion."));
    QVERIFY(h.ConvertEnabled());
    QVERIFY(h.window->findChild<QPushButton*>(QStringLiteral("CmdAddFolder"))->isEnabled());
    QCOMPARE(h.dialogs.messages.size(), size_t{1});
    QCOMPARE(h.dialogs.messages[0].text, std::string("5 Messages Queued for Conversion."));
    QCOMPARE(h.dialogs.messages[0].title, std::string("Larkwell Mailvane"));
    QCOMPARE(h.dialogs.messages[0].icon, MessageBoxIcon::kNone);
    QCOMPARE(h.dialogs.messages[0].buttons, MessageBoxButtons::kOk);
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }

  void CountGrowsWhileListingWithTheButtonsOff() {
    Harness h;
    for (const char* f : {"A/1.eml", "A/x/2.eml", "A/y/3.eml", "A/y/z/4.eml"}) h.Touch(f);
    h.Choose(h.Root() + "/A/");
    const auto& shown = h.window->shown;
    QCOMPARE(shown.size(), size_t{5});  // one per file found, then the final count
    for (size_t i = 0; i + 1 < shown.size(); ++i) {
      QCOMPARE(shown[i].text, std::to_string(i + 1) + " Messages Queued for Conversion.");
      QVERIFY(!shown[i].add_enabled);
      QVERIFY(!shown[i].convert_enabled);
      QVERIFY(shown[i].waiting);
    }
    QCOMPARE(shown.back().text, std::string("4 Messages Queued for Conversion."));
    QVERIFY(shown.back().add_enabled);
    QVERIFY(shown.back().convert_enabled);
    QVERIFY(!shown.back().waiting);
  }

  void APressDuringTheListingIsNotActedOn() {
    Harness h;
    h.Touch("A/1.eml");
    h.Touch("A/2.eml");
    h.window->during_listing = [&] { h.window->CmdAddFolder_Click(); };
    h.Choose(h.Root() + "/A");
    QCOMPARE(h.dialogs.folder_titles.size(), size_t{1});
    QCOMPARE(h.window->FileCount(), 2);
  }

  void EmptyFolderDisablesConvert() {
    Harness h;
    h.Touch("A/1.eml");
    fs::create_directories(h.Root() + "/Empty");
    h.Choose(h.Root() + "/A");
    QVERIFY(h.ConvertEnabled());
    h.Choose(h.Root() + "/Empty");
    QCOMPARE(h.window->FileCount(), 0);
    QVERIFY(h.window->FileList().empty());
    QCOMPARE(h.CountLabel(), QStringLiteral("0 Messages Queued for Conversion."));
    QCOMPARE(h.dialogs.messages.back().text, std::string("0 Messages Queued for Conversion."));
    QVERIFY(!h.ConvertEnabled());
  }

  void CancelKeepsTheEarlierChoice() {
    Harness h;
    h.Touch("A/1.eml");
    h.Touch("A/2.eml");
    h.Choose(h.Root() + "/A");
    const std::vector<std::string> before = h.window->FileList();
    h.Choose("");  // cancelled
    QCOMPARE(h.dialogs.folder_titles.size(), size_t{2});
    QCOMPARE(h.window->FileList(), before);
    QCOMPARE(h.window->FileCount(), 2);
    QCOMPARE(h.CountLabel(), QStringLiteral("2 Messages Queued for Conversion."));
    QVERIFY(h.ConvertEnabled());
    QCOMPARE(h.dialogs.messages.size(), size_t{1});  // no box for a cancel
  }

  void SecondFolderReplacesTheFirst() {
    Harness h;
    h.Touch("A/a1.eml");
    h.Touch("A/a2.eml");
    h.Touch("A/a3.eml");
    h.Touch("B/b1.eml");
    h.Choose(h.Root() + "/A");
    h.Choose(h.Root() + "/B/");
    QCOMPARE(h.window->FileList(), std::vector<std::string>{h.Root() + "/B/b1.eml"});
    QCOMPARE(h.window->FileCount(), 1);
    QCOMPARE(h.window->SourceFolder(), h.Root() + "/B/");
  }

  void VanishedFolderCountsNothing() {
    // The enumerator keeps its previous count for a start that is not a folder; the window
    // must not show (or convert) a count that no list backs.
    Harness h;
    h.Touch("A/1.eml");
    h.Touch("A/2.eml");
    h.Choose(h.Root() + "/A");
    h.Choose(h.Root() + "/Gone");
    QCOMPARE(h.window->FileCount(), 0);
    QCOMPARE(h.CountLabel(), QStringLiteral("0 Messages Queued for Conversion."));
    QVERIFY(!h.ConvertEnabled());
  }

  void SkippedFoldersAreTold() {
    Harness h;
    h.Touch("A/1.eml");
    h.Touch("Elsewhere/2.eml");
    fs::create_directory_symlink(h.Root() + "/Elsewhere", h.Root() + "/A/link");
    h.Choose(h.Root() + "/A");
    QCOMPARE(h.window->FileCount(), 1);
    QCOMPARE(h.dialogs.messages.back().text,
             std::string("1 Messages Queued for Conversion.\r\n"
                         "1 folder(s) could not be read and were skipped."));
    // The label keeps the count alone.
    QCOMPARE(h.CountLabel(), QStringLiteral("1 Messages Queued for Conversion."));
  }
};

QTEST_MAIN(SourceSelectionTest)
#include "app_source_tests.moc"
