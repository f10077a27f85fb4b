// The file dialogs the window opens, behind an interface tests replace.
#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace tamberlin::ui {

class FolderChooser {
 public:
  virtual ~FolderChooser() = default;
  // One existing folder, or nothing when the user cancelled. The dialog
  // opens in `start`, or in the home folder when `start` is no folder.
  virtual std::optional<QString> Choose_Folder(QWidget* parent, const QString& start) = 0;
  // One disk-image file, or nothing when the user cancelled.
  virtual std::optional<QString> Choose_Image(QWidget* parent) = 0;
};

// Qt's own (non-native) file dialogs, window-modal on the main window.
class DialogFolderChooser final : public FolderChooser {
 public:
  std::optional<QString> Choose_Folder(QWidget* parent, const QString& start) override;
  std::optional<QString> Choose_Image(QWidget* parent) override;
};

}  // namespace tamberlin::ui
