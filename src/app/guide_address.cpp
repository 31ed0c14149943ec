#include "app/guide_address.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace mailvane::app {

std::string GuideAddress(const std::string& program_dir) {
  const QDir dir(QString::fromStdString(program_dir));
  QString path = QDir::cleanPath(dir.absoluteFilePath(QStringLiteral(MAILVANE_GUIDE_FROM_BINDIR)));
  if (!QFileInfo::exists(path)) {
    // A program run from elsewhere (copied out of the build tree) looks in the packaged copy.
    const QString system_copy = QStringLiteral("/usr/share/mailvane/guide.html");
    if (QFileInfo::exists(system_copy)) path = system_copy;
  }
  return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded).toStdString();
}

}  // namespace mailvane::app
