// Closing the window in the middle of a real conversion: the program ends at once, and the
// .pst it leaves opens and holds every message converted up to that moment.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <filesystem>
#include <fstream>

#include "pst/check/pst_checker.h"
#include "support/files.h"
#include "support/pst_readers.h"

namespace fs = std::filesystem;

namespace {

constexpr int kMessages = 40;
constexpr int kCloseAfter = 17;

void WriteExport(const fs::path& root) {
  fs::create_directories(root / "Inbox");
  for (int i = 1; i <= kMessages; ++i) {
    std::ofstream(root / "Inbox" / (std::to_string(100 + i) + ".eml"))
        << mailvane::testsupport::Rfc822("Message " + std::to_string(i));
  }
}

}  // namespace

class EndDuringRunTest : public QObject {
  Q_OBJECT

 private slots:
  void ClosingMidRunLeavesAUsableStore() {
    QTemporaryDir temp;
    const fs::path source = fs::path(temp.path().toStdString()) / "export";
    const fs::path target = fs::path(temp.path().toStdString()) / "out";
    WriteExport(source);
    fs::create_directories(target);

    QProcess helper;
    helper.setProcessChannelMode(QProcess::SeparateChannels);
    helper.start(QStringLiteral(MAILVANE_END_HELPER),
                 {QString::fromStdString(source.string()), QString::fromStdString(target.string()),
                  QString::number(kCloseAfter)});
    QVERIFY(helper.waitForFinished(120000));
    const QString out = QString::fromUtf8(helper.readAllStandardOutput());
    const QString err = QString::fromUtf8(helper.readAllStandardError());
    QVERIFY2(helper.exitStatus() == QProcess::NormalExit, qPrintable(err));
    QCOMPARE(helper.exitCode(), 0);
    QVERIFY2(out.contains(QStringLiteral("closing after %1 files").arg(kCloseAfter)), qPrintable(out));
    // Ended where it stood: no completion box, no further file.
    QVERIFY2(!out.contains(QStringLiteral("Converted")), qPrintable(out));
    QVERIFY2(!out.contains(QStringLiteral("without being closed")), qPrintable(out));

    const fs::path pst = mailvane::testsupport::OnlyFile(target, ".pst");
    QVERIFY2(!pst.empty(), "no .pst was left");

    const mailvane::pst::check::CheckResult check = mailvane::pst::check::CheckPstFile(pst, {.folder_tree = true});
    QVERIFY2(check.clean(), mailvane::pst::check::FormatFindings(check).c_str());
    int inbox_items = -1;
    for (const auto& folder : check.tree) {
      if (folder.name == "Inbox") inbox_items = folder.items;
    }
    QCOMPARE(inbox_items, kCloseAfter);

    if (!mailvane::testsupport::HavePypff()) QSKIP("python3-pypff is not installed");
    const auto pypff = mailvane::testsupport::ReadWithPypff(pst);
    QVERIFY2(pypff.ok, pypff.run.err.c_str());
    int pypff_inbox = -1;
    for (const auto& folder : pypff.folders) {
      if (!folder.path.empty() && folder.path.back() == "Inbox") pypff_inbox = folder.messages;
    }
    QCOMPARE(pypff_inbox, kCloseAfter);
  }
};

QTEST_MAIN(EndDuringRunTest)
#include "app_end_during_run_tests.moc"
