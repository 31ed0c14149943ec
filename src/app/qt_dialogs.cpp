#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include "app/dialogs.h"

namespace mailvane::app {
namespace {

using source::MessageBoxAnswer;
using source::MessageBoxButtons;
using source::MessageBoxIcon;

QMessageBox::Icon ToQtIcon(MessageBoxIcon icon) {
  switch (icon) {
    case MessageBoxIcon::kInformation:
      return QMessageBox::Information;
    case MessageBoxIcon::kWarning:
      return QMessageBox::Warning;
    case MessageBoxIcon::kCritical:
      return QMessageBox::Critical;
    case MessageBoxIcon::kQuestion:
      return QMessageBox::Question;
    case MessageBoxIcon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

class QtDialogs final : public Dialogs {
 public:
  std::string ChooseFolder(QWidget* owner, const std::string& title) override {
    // Only folders of the file system can be chosen, as the shell's browse dialog allows.
    const QString dir = QFileDialog::getExistingDirectory(
        owner, QString::fromStdString(title), QString(),
        QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    return dir.toStdString();
  }

  MessageBoxAnswer ShowMessage(QWidget* owner, const std::string& text,
                               const std::string& title, MessageBoxIcon icon,
                               MessageBoxButtons buttons) override {
    QMessageBox box(owner);
    box.setWindowTitle(QString::fromStdString(title));
    // Plain text: a path in a message must never be taken for markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(text));
    box.setIcon(ToQtIcon(icon));
    if (buttons == MessageBoxButtons::kYesNo) {
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setDefaultButton(QMessageBox::Yes);
      box.setEscapeButton(QMessageBox::No);
    } else {
      box.setStandardButtons(QMessageBox::Ok);
    }
    const int pressed = box.exec();
    if (buttons == MessageBoxButtons::kYesNo) {
      return pressed == QMessageBox::Yes ? MessageBoxAnswer::kYes : MessageBoxAnswer::kNo;
    }
    return MessageBoxAnswer::kOk;
  }

  bool OpenAddress(const std::string& address) override {
    if (address.empty()) return false;
    const QUrl url = QUrl::fromUserInput(QString::fromStdString(address));
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) return QDesktopServices::openUrl(url);
    // Qt starts xdg-open and forgets it, so an address that no program takes would pass
    // as opened. xdg-open fails at once when nothing is set up for the address; a program
    // that did take it usually keeps xdg-open waiting, so a short wait tells them apart.
    auto* process = new QProcess;  // no parent: quitting must not kill the browser
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    process->start(opener, {url.toString(QUrl::FullyEncoded)});
    if (!process->waitForStarted(kOpenerStartMs)) {
      process->deleteLater();
      return false;
    }
    if (!process->waitForFinished(kOpenerVerdictMs)) return true;
    return process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
  }

 private:
  static constexpr int kOpenerStartMs = 5000;
  static constexpr int kOpenerVerdictMs = 1500;
};

}  // namespace

std::unique_ptr<Dialogs> CreateQtDialogs() { return std::make_unique<QtDialogs>(); }

}  // namespace mailvane::app
