#include "ui/folder_chooser.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include "ui/notices.h"

namespace tamberlin::ui {

std::optional<QString> DialogFolderChooser::Choose_Folder(QWidget* parent, const QString& start) {
  const QString where = !start.isEmpty() && QFileInfo(start).isDir() ? start : QDir::homePath();
  QFileDialog dialog(parent, QStringLiteral("Choose Destination Folder"), where);
  Apply_Window_Style(&dialog);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
  dialog.setWindowModality(Qt::WindowModal);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return QDir::cleanPath(QFileInfo(chosen.front()).canonicalFilePath().isEmpty()
                             ? chosen.front()
                             : QFileInfo(chosen.front()).canonicalFilePath());
}

std::optional<QString> DialogFolderChooser::Choose_Image(QWidget* parent) {
  QFileDialog dialog(parent, QStringLiteral("Add Disk Image"), QDir::homePath(),
                     QStringLiteral("Disk images (*.img *.dd *.iso *.raw *.bin *.ima);;"
                                    "All files (*)"));
  Apply_Window_Style(&dialog);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::ReadOnly);
  dialog.setWindowModality(Qt::WindowModal);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.front();
}

}  // namespace tamberlin::ui
