// The small windows around the main window: notices run modally, the two
// "please wait" sheets, the help window, and the alert helpers. Every window
// of the program gets the same background colour (Apply_Window_Style).
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

namespace tamberlin::ui {

// Background red 241, green 244, blue 250.
void Apply_Window_Style(QWidget* window);

// A modal alert with one "OK" button. Returns when the user dismissed it.
void Show_Alert(QWidget* parent, const QString& message, const QString& informative = {});
// The exit question: true when the user answered "Yes" (the default button).
bool Ask_Yes_No(QWidget* parent, const QString& question);

// Runs a notice modally and closes it afterwards; returns the code its
// button ended the run with (1), or 0 when it was closed otherwise.
int Run_Modal_Notice(QDialog* notice);

// A titled message with at most one button that ends the modal run with 1.
class NoticeWindow : public QDialog {
  Q_OBJECT

 public:
  QLabel* Message() const { return message_; }
  QPushButton* Button() const { return button_; }
  // A second, plainer line under the message; hidden while empty.
  QLabel* Informative() const { return informative_; }
  void Set_Informative(const QString& text);

 protected:
  NoticeWindow(QWidget* parent, const QString& title, const QString& message,
               const QString& button_text);

 private:
  QLabel* message_ = nullptr;
  QLabel* informative_ = nullptr;
  QPushButton* button_ = nullptr;
};

// Before the folder chooser opens.
class Browse_Info final : public NoticeWindow {
  Q_OBJECT

 public:
  explicit Browse_Info(QWidget* parent);
  void Continue_Btn() { done(1); }
};

// End of a photo scan.
class SaveFile_Info final : public NoticeWindow {
  Q_OBJECT

 public:
  explicit SaveFile_Info(QWidget* parent);
  void OK_Btn() { done(1); }
};

// End of a video or raw-file scan.
class SaveFile_Info_For_RAW final : public NoticeWindow {
  Q_OBJECT

 public:
  explicit SaveFile_Info_For_RAW(QWidget* parent);
  void OK_Btn() { done(1); }
};

// Sheet shown while a found item is copied into its preview file.
class ClearPreview_Modeless final : public NoticeWindow {
  Q_OBJECT

 public:
  explicit ClearPreview_Modeless(QWidget* parent);
};

// Sheet shown while the media list is read.
class LoadDrive_Modeless final : public NoticeWindow {
  Q_OBJECT

 public:
  explicit LoadDrive_Modeless(QWidget* parent);
};

// Window-modal "please wait" sheets: shown and drawn at once, closed by End_Sheet.
void Begin_Sheet(QDialog* sheet);
void End_Sheet(QDialog* sheet);

// The help window; its link opens Help.pdf from the data folder.
class Help_Support final : public NoticeWindow {
  Q_OBJECT

 public:
  Help_Support(QWidget* parent, QString data_dir);
  QPushButton* Help_File_Label() const { return _Help_File_Label; }
  void Continue_Btn() { done(1); }
  // Opens Help.pdf with the desktop's PDF viewer; tells the user when the
  // file is missing or no viewer could open it. The window stays open.
  void HelpFilePressed();

 private:
  QString data_dir_;
  QPushButton* _Help_File_Label = nullptr;
};

}  // namespace tamberlin::ui
