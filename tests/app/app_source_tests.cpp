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
    QCOMPARE(shown.back().text, std::string("5 Messages Queued for Conversion."));
    // The box tells the folder link passed over; the label keeps the count alone.
    QCOMPARE(h.CountLabel(), QStringLiteral("5 Messages Queued for Conversion."));
    QCOMPARE(h.dialogs.messages.size(), size_t{1});
    QCOMPARE(h.dialogs.messages[0].text,
             std::string("5 Messages Queued for Conversion.\r\n"
                         "1 folder(s) could not be read and were skipped."));
    QCOMPARE(h.dialogs.messages[0].icon, MessageBoxIcon::kNone);
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
      QCOMPARE(h.ConvertEnabled(), step.count > 0);
      QCOMPARE(h.dialogs.messages.size(), step.boxes);
    }
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
};

QTEST_MAIN(SourceSelectionTest)
#include "app_source_tests.moc"
