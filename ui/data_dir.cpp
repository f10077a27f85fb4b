#include "ui/data_dir.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <unistd.h>

namespace tamberlin::ui {

QString Data_Dir() {
  const QString exe_dir = QCoreApplication::applicationDirPath();
  return QDir::cleanPath(exe_dir + QStringLiteral("/../share/tamberlin"));
}

QString Preview_Dir() {
  QString dir = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
  if (dir.isEmpty())
    dir = QDir::tempPath() + QStringLiteral("/tamberlin-%1").arg(static_cast<qulonglong>(getuid()));
  QDir().mkpath(dir);
  return dir;
}

}  // namespace tamberlin::ui
