// The window's texts, its guide address and closing. (Keys, help and exit as a
// person uses them are the gui_session test's.)
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "app/fake_dialogs.h"
#include "app/frm_step1.h"
#include "app/guide_address.h"
#include "app/status_label.h"

using mailvane::app::FrmStep1;
using mailvane::app::StatusLabel;
using mailvane::app::WindowServices;
using mailvane::app::testing::FakeDialogs;

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

  void StatusTextFitsItsBox() {
    Harness h;
    auto* status = h.Control<StatusLabel>("LblCurrentDBX");
    const QSize box = status->contentsRect().size();
    const QFontMetrics metrics(status->font());
    const QString long_path = QStringLiteral("/srv/") + QString(400, QLatin1Char('x'));
    const struct {
      QString text;
      bool cut;
    } cases[] = {
        {QStringLiteral("Converting Messages..."), false},
        {QStringLiteral("Converting Messages... from (") + long_path + QStringLiteral(".eml)"),
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
