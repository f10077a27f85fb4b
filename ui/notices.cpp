#include "ui/notices.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/help_texts.h"

namespace tamberlin::ui {

void Apply_Window_Style(QWidget* window) {
  QPalette palette = window->palette();
  palette.setColor(QPalette::Window, QColor(241, 244, 250));
  window->setPalette(palette);
  window->setAutoFillBackground(true);
}

void Show_Alert(QWidget* parent, const QString& message, const QString& informative) {
  QMessageBox box(parent);
  Apply_Window_Style(&box);
  box.setWindowTitle(QStringLiteral("Tamberlin"));
  box.setIcon(QMessageBox::Warning);
  box.setText(message);
  box.setInformativeText(informative);
  box.setDefaultButton(box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole));
  box.exec();
}

bool Ask_Yes_No(QWidget* parent, const QString& question) {
  QMessageBox box(parent);
  Apply_Window_Style(&box);
  box.setWindowTitle(QStringLiteral("Tamberlin"));
  box.setIcon(QMessageBox::Question);
  box.setText(question);
  box.setInformativeText(QString());
  QPushButton* yes = box.addButton(QStringLiteral("Yes"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QStringLiteral("No"), QMessageBox::NoRole);
  box.setDefaultButton(yes);
  box.setEscapeButton(no);
  box.exec();
  return box.clickedButton() == yes;
}

int Run_Modal_Notice(QDialog* notice) {
  notice->setWindowModality(Qt::ApplicationModal);
  const int code = notice->exec();
  notice->hide();
  return code;
}

NoticeWindow::NoticeWindow(QWidget* parent, const QString& title, const QString& message,
                           const QString& button_text)
    : QDialog(parent) {
  Apply_Window_Style(this);
  setWindowTitle(title);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 20, 20, 16);
  layout->setSpacing(14);
  message_ = new QLabel(message, this);
  message_->setWordWrap(true);
  message_->setMinimumWidth(380);
  layout->addWidget(message_);
  informative_ = new QLabel(this);
  informative_->setObjectName(QStringLiteral("informative"));
  informative_->setWordWrap(true);
  informative_->hide();
  layout->addWidget(informative_);
  if (!button_text.isEmpty()) {
    auto* row = new QDialogButtonBox(this);
    button_ = row->addButton(button_text, QDialogButtonBox::AcceptRole);
    button_->setDefault(true);
    layout->addWidget(row);
  }
}

void NoticeWindow::Set_Informative(const QString& text) {
  informative_->setText(text);
  informative_->setVisible(!text.isEmpty());
}

Browse_Info::Browse_Info(QWidget* parent)
    : NoticeWindow(parent, QStringLiteral("Choose a Destination Folder"),
                   QStringLiteral("Next you choose the folder that recovered files are to be "
                                  "saved in.\n\nPick a folder on a different disk from the one "
                                  "you are searching: writing to the medium you recover from "
                                  "can overwrite the very files you are looking for."),
                   QStringLiteral("Continue")) {
  setObjectName(QStringLiteral("BrowseInfo_Window"));
  connect(Button(), &QPushButton::clicked, this, &Browse_Info::Continue_Btn);
}

SaveFile_Info::SaveFile_Info(QWidget* parent)
    : NoticeWindow(parent, QStringLiteral("Search Finished"),
                   QStringLiteral("The search has ended.\n\nThe pictures found are shown as "
                                  "thumbnails. Use the zoom slider to make them larger, or "
                                  "press Back to search another medium or range."),
                   QStringLiteral("OK")) {
  setObjectName(QStringLiteral("SaveFile_Info_Window"));
  connect(Button(), &QPushButton::clicked, this, &SaveFile_Info::OK_Btn);
}

SaveFile_Info_For_RAW::SaveFile_Info_For_RAW(QWidget* parent)
    : NoticeWindow(parent, QStringLiteral("Search Finished"),
                   QStringLiteral("The search has ended.\n\nThe table counts the files found "
                                  "per type. Select a file to see its preview, or press Back "
                                  "to choose other file types."),
                   QStringLiteral("OK")) {
  setObjectName(QStringLiteral("SaveFile_Info_For_RAW_Window"));
  connect(Button(), &QPushButton::clicked, this, &SaveFile_Info_For_RAW::OK_Btn);
}

ClearPreview_Modeless::ClearPreview_Modeless(QWidget* parent)
    : NoticeWindow(parent, QStringLiteral("Preparing Preview"),
                   QStringLiteral("Reading the selected file from the medium to show its "
                                  "preview. This takes longer for large files; the preview "
                                  "appears when it is done."),
                   QString()) {
  setObjectName(QStringLiteral("ClearPreview_Window"));
}

LoadDrive_Modeless::LoadDrive_Modeless(QWidget* parent)
    : NoticeWindow(parent, QStringLiteral("Looking for Media"),
                   QStringLiteral("Looking for USB sticks, memory cards and other removable "
                                  "media. The list appears in a moment."),
                   QString()) {
  setObjectName(QStringLiteral("LoadDisk_Window"));
}

void Begin_Sheet(QDialog* sheet) {
  sheet->setWindowModality(Qt::WindowModal);
  sheet->show();
  sheet->raise();
  // Let it draw once before the caller blocks the event loop.
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void End_Sheet(QDialog* sheet) { sheet->hide(); }

Help_Support::Help_Support(QWidget* parent, QString data_dir)
    : NoticeWindow(
          parent, QStringLiteral("Tamberlin Help"),
          QStringLiteral(
              "Tamberlin finds lost files on USB sticks, memory cards and disk images by "
              "looking for the first bytes every file of a type begins with. It only reads "
              "the medium; nothing is ever written to it.\n\n"
              "1. Choose a medium and a recovery mode, then press Next.\n"
              "2. Search the entire medium or a range of sectors.\n"
              "3. In Video and Raw File mode, tick the file types to look for.\n"
              "4. Watch the files appear; select one to preview it.\n\n"
              "The user guide explains each screen and why reading a device needs "
              "administrator rights or membership of the \u201cdisk\u201d group."),
          QStringLiteral("Continue")),
      data_dir_(std::move(data_dir)) {
  setObjectName(QStringLiteral("HelpWindow"));
  _Help_File_Label = new QPushButton(QStringLiteral("Open the user guide (Help.pdf)"), this);
  _Help_File_Label->setObjectName(QStringLiteral("_Help_File_Label"));
  _Help_File_Label->setFlat(true);
  _Help_File_Label->setCursor(Qt::OpenHandCursor);
  QFont bold = _Help_File_Label->font();
  bold.setBold(true);
  bold.setUnderline(true);
  _Help_File_Label->setFont(bold);
  _Help_File_Label->setStyleSheet(
      QStringLiteral("QPushButton { color: blue; background: rgb(241,244,250); border: none; "
                     "text-align: left; padding: 2px; }"
                     "QPushButton:focus { outline: 1px dotted blue; }"));
  static_cast<QVBoxLayout*>(layout())->insertWidget(1, _Help_File_Label, 0, Qt::AlignLeft);
  connect(_Help_File_Label, &QPushButton::clicked, this, &Help_Support::HelpFilePressed);
  connect(Button(), &QPushButton::clicked, this, &Help_Support::Continue_Btn);
}

void Help_Support::HelpFilePressed() {
  const QString path = QDir(data_dir_).filePath(QStringLiteral("Help.pdf"));
  if (!QFileInfo(path).isFile()) {
    Show_Alert(this, QString::fromUtf8(kHelpMissing),
               QStringLiteral("The user guide should be at %1").arg(QDir::toNativeSeparators(path)));
    return;
  }
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
    Show_Alert(this, QStringLiteral("\nThe user guide could not be opened."),
               QStringLiteral("No program to show PDF files was found. You can open the guide "
                              "yourself: %1")
                   .arg(QDir::toNativeSeparators(path)));
  }
}

}  // namespace tamberlin::ui
