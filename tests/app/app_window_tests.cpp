// The window as it answers keys, help and exit. (How it looks is the screenshot test's.)
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "app/fake_dialogs.h"
#include "app/frm_step1.h"
#include "app/guide_address.h"

using mailvane::app::FrmStep1;
using mailvane::app::WindowServices;
using mailvane::app::testing::FakeDialogs;
using mailvane::source::MessageBoxAnswer;
using mailvane::source::MessageBoxButtons;
using mailvane::source::MessageBoxIcon;

namespace {

const char kGuide[] = "file:///opt/larkwell/share/mailvane/guide.html";

struct Harness {
  FakeDialogs dialogs;
  std::vector<bool> ends;  // one entry per end of the program: was a run in progress
  std::unique_ptr<FrmStep1> window;

  Harness() {
    WindowServices services;
    services.dialogs = &dialogs;
    services.end_program = [this](bool during_run) { ends.push_back(during_run); };
    services.guide_address = kGuide;
    window = std::make_unique<FrmStep1>(std::move(services));
  }
  template <typename T>
  T* Control(const char* name) {
    T* control = window->findChild<T*>(QString::fromLatin1(name));
    if (control == nullptr) qFatal("no control named %s", name);
    return control;
  }
};

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void CaptionSizeAndIcon() {
    Harness h;
    QCOMPARE(h.window->windowTitle(), QStringLiteral("Larkwell Mailvane v4.3"));
    QCOMPARE(h.window->objectName(), QStringLiteral("frmStep1"));
    // Fixed client area of 8295 x 5805 twips.
    QCOMPARE(h.window->minimumSize(), QSize(553, 387));
    QCOMPARE(h.window->maximumSize(), QSize(553, 387));
    QVERIFY(!h.window->windowIcon().isNull());
  }

  void EnabledStateAndBar() {
    Harness h;
    QVERIFY(!h.Control<QPushButton>("CmdExtractDBX")->isEnabled());
    for (const char* name : {"CmdAddFolder", "CmdHelp", "cmdEnd"}) {
      QVERIFY2(h.Control<QPushButton>(name)->isEnabled(), name);
    }
    auto* bar = h.Control<QProgressBar>("ProgressBar1");
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 0);
  }

  void LabelsShowMarkupAsText() {
    // A status line carries paths; one that looks like markup must appear as written.
    Harness h;
    h.window->SetStatusText("Converting Messages... from (/x/<b>R&D</b>/1.eml)");
    auto* status = h.Control<QLabel>("LblCurrentDBX");
    QCOMPARE(status->textFormat(), Qt::PlainText);
    QCOMPARE(status->text(), QStringLiteral("Converting Messages... from (/x/<b>R&D</b>/1.eml)"));
    for (QLabel* label : h.window->findChildren<QLabel*>()) {
      QCOMPARE(label->textFormat(), Qt::PlainText);
    }
  }

  void TabOrder() {
    Harness h;
    h.window->SetConvertEnabled(true);
    h.window->show();
    h.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(h.window.get()));
    h.Control<QPushButton>("CmdAddFolder")->setFocus();
    QStringList order;
    for (int i = 0; i < 5; ++i) {
      order << QApplication::focusWidget()->objectName();
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(order, (QStringList{"CmdAddFolder", "CmdExtractDBX", "cmdEnd", "CmdHelp",
                                 "CmdAddFolder"}));
  }

  void AccessKeys() {
    Harness h;
    h.window->show();
    h.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(h.window.get()));

    // A button's access key clicks it after a short animation, hence the waits.
    // Alt+M does nothing while "Convert &Messages" is disabled.
    QTest::keyClick(h.window.get(), Qt::Key_M, Qt::AltModifier);
    QTest::qWait(300);
    QVERIFY(h.dialogs.folder_titles.empty());
    h.window->SetConvertEnabled(true);
    QTest::keyClick(h.window.get(), Qt::Key_M, Qt::AltModifier);  // target dialog, cancelled
    QTRY_COMPARE(h.dialogs.folder_titles, std::vector<std::string>{"Choose Folder to Save..."});

    QTest::keyClick(h.window.get(), Qt::Key_H, Qt::AltModifier);
    QTRY_COMPARE(h.dialogs.opened.size(), size_t{1});

    h.dialogs.yes_no_answers = {MessageBoxAnswer::kNo};
    QTest::keyClick(h.window.get(), Qt::Key_X, Qt::AltModifier);
    QTRY_COMPARE(h.dialogs.messages.size(), size_t{1});
    QCOMPARE(h.dialogs.messages[0].text, std::string("Are you sure you want to exit now?"));
    QVERIFY(h.ends.empty());
  }

  void HelpButtonAndLinkOpenTheSameGuide() {
    Harness h;
    h.window->show();
    QTest::mouseClick(h.Control<QPushButton>("CmdHelp"), Qt::LeftButton);
    QTest::mouseClick(h.Control<QLabel>("Label4"), Qt::LeftButton);
    QCOMPARE(h.dialogs.opened, (std::vector<std::string>{kGuide, kGuide}));
    // No browser: the click has no visible effect, and nothing is shown.
    h.dialogs.open_succeeds = false;
    QTest::mouseClick(h.Control<QLabel>("Label4"), Qt::LeftButton);
    QVERIFY(h.dialogs.messages.empty());
  }

  void GuideAddressFindsTheInstalledCopy() {
    QTemporaryDir prefix;
    QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("bin")));
    QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("share/mailvane")));
    QFile guide(prefix.filePath(QStringLiteral("share/mailvane/guide.html")));
    QVERIFY(guide.open(QIODevice::WriteOnly));
    guide.close();
    const std::string address =
        mailvane::app::GuideAddress(prefix.filePath(QStringLiteral("bin")).toStdString());
    const QUrl url(QString::fromStdString(address));
    QVERIFY(url.isLocalFile());
    QCOMPARE(QFileInfo(url.toLocalFile()).canonicalFilePath(),
             QFileInfo(guide.fileName()).canonicalFilePath());
    QVERIFY(address.ends_with("/mailvane/guide.html"));
  }

  void BuildTreeHoldsTheGuide() {
    // The program run from the build tree finds the guide the way an installed one does.
    const QByteArray build = qgetenv("MAILVANE_BUILD_DIR");
    if (build.isEmpty()) QSKIP("MAILVANE_BUILD_DIR is not set");
    const QString program_dir = QString::fromLocal8Bit(build) + QStringLiteral("/src");
    const QUrl url(QString::fromStdString(mailvane::app::GuideAddress(program_dir.toStdString())));
    QFile guide(url.toLocalFile());
    QVERIFY2(guide.open(QIODevice::ReadOnly), qPrintable(url.toString()));
    const QByteArray page = guide.readAll();
    QVERIFY(page.contains("File &gt; Open &gt; Outlook Data File") ||
            page.contains("File > Open > Outlook Data File"));
    QVERIFY(page.contains("tar -xzf"));
  }

  void ExitQuestionNoKeepsEverything() {
    Harness h;
    h.window->show();
    h.window->SetCountText("5 Messages Queued for Conversion.");
    h.dialogs.yes_no_answers = {MessageBoxAnswer::kNo};
    QTest::mouseClick(h.Control<QPushButton>("cmdEnd"), Qt::LeftButton);
    QCOMPARE(h.dialogs.messages.size(), size_t{1});
    const auto& box = h.dialogs.messages[0];
    QCOMPARE(box.text, std::string("Are you sure you want to exit now?"));
    QCOMPARE(box.title, std::string("Larkwell Mailvane"));
    QCOMPARE(box.icon, MessageBoxIcon::kQuestion);
    QCOMPARE(box.buttons, MessageBoxButtons::kYesNo);
    QVERIFY(h.ends.empty());
    QVERIFY(h.window->isVisible());
    QCOMPARE(h.Control<QLabel>("lblCount1")->text(),
             QStringLiteral("5 Messages Queued for Conversion."));
  }

  void ExitQuestionYesEnds() {
    Harness h;
    h.dialogs.yes_no_answers = {MessageBoxAnswer::kYes};
    h.window->cmdEnd_Click();
    QCOMPARE(h.ends, std::vector<bool>{false});
  }

  void ClosingEndsWithoutAQuestion() {
    Harness h;
    h.window->show();
    QVERIFY(h.window->close());
    QVERIFY(h.dialogs.messages.empty());
    QCOMPARE(h.ends, std::vector<bool>{false});
  }
};

QTEST_MAIN(WindowTest)
#include "app_window_tests.moc"
