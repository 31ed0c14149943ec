// mailvane-gui: the desktop window of the converter.
#include <QApplication>
#include <QIcon>

#include "app/dialogs.h"
#include "app/frm_step1.h"
#include "app/guide_address.h"
#include "run/conversion_setup.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Larkwell Mailvane"));
  // Ties the window to the menu's mailvane.desktop, for its icon and name in task bars.
  QGuiApplication::setDesktopFileName(QStringLiteral("mailvane"));
  QIcon icon(QStringLiteral(":/mailvane/mailvane.png"));
  icon.addFile(QStringLiteral(":/mailvane/mailvane-256.png"));
  QApplication::setWindowIcon(icon);

  const std::unique_ptr<mailvane::app::Dialogs> dialogs = mailvane::app::CreateQtDialogs();
  mailvane::app::WindowServices services;
  services.dialogs = dialogs.get();
  services.conversion = mailvane::run::DefaultConversionSetup();
  services.end_program = mailvane::app::EndProcess;
  services.guide_address =
      mailvane::app::GuideAddress(QCoreApplication::applicationDirPath().toStdString());

  mailvane::app::FrmStep1 window(std::move(services));
  window.show();
  return QApplication::exec();
}
