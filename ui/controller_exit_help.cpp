// Leaving the program, the help window and the destination folder chooser.
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>

#include "ui/MyTableController.h"
#include "ui/help_texts.h"
#include "ui_MyTableController.h"

namespace tamberlin::ui {

void MyTableController::Exit_App() {
  if (!Ask_Yes_No(this, QString::fromUtf8(kExitQuestion))) return;
  Remove_Preview_Files();
  quit_();
}

void MyTableController::Remove_Preview_Files() {
  // Failures are of no consequence: the program ends all the same.
  if (!Preview_File.isEmpty() && QFileInfo(Preview_File).isFile()) QFile::remove(Preview_File);
  const QDir folder(preview_dir_);
  if (!folder.exists()) return;
  const QFileInfoList entries =
      folder.entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
  for (const QFileInfo& entry : entries) {
    if (entry.completeBaseName() == QLatin1String("dprv")) QFile::remove(entry.absoluteFilePath());
  }
}

void MyTableController::closeEvent(QCloseEvent* event) {
  // The window closes only by the program ending.
  event->ignore();
  Exit_App();
}

void MyTableController::Help_btn() { Run_Modal_Notice(HelpWindow); }

// The notice only tells what comes next: however it is closed (Continue,
// Esc or the title bar), the chooser follows, in the folder chosen so far.
void MyTableController::Browse_Path() {
  Run_Modal_Notice(BrowseInfo_Window);
  openPanelDidEnd(chooser_->Choose_Folder(controlPanel, Chosen_Folder()));
}

void MyTableController::Browse_Path_Sig() { Browse_Path(); }

QString MyTableController::Chosen_Folder() const {
  // Choosing a medium empties the field of the mode's set; the other one may
  // still hold the folder chosen before.
  QString path = (Recovery_MODE == 0 ? ui->_path : ui->_path_Sig)->text().trimmed();
  if (path.isEmpty()) path = (Recovery_MODE == 0 ? ui->_path_Sig : ui->_path)->text().trimmed();
  return QDir::fromNativeSeparators(path);
}

void MyTableController::openPanelDidEnd(const std::optional<QString>& folder) {
  if (!folder || folder->isEmpty()) return;
  const QString shown = QDir::toNativeSeparators(*folder);
  ui->_path->setText(shown);
  ui->_path_Sig->setText(shown);
}

}  // namespace tamberlin::ui
