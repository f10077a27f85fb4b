// The media list: removable volumes from lsblk plus the disk images the user
// added, which stay listed across refreshes.
#include <QApplication>
#include <algorithm>
#include <QDir>
#include <QFileInfo>
#include <QItemSelectionModel>

#include "ui/MyTableController.h"
#include "media/raw_access.h"
#include "ui_MyTableController.h"

namespace tamberlin::ui {

void MyTableController::Reload_Drive_list_Function() {
  // The notice can only sit on a window that is on screen.
  const bool sheet = isVisible();
  if (sheet) Begin_Sheet(LoadDisk_Window);

  const QString selected = Selected_Medium() ? Selected_Medium()->nsStrDiskIdentifier : QString();
  // lsblk missing, failing or printing garbage leaves the list without
  // removable volumes; nothing is reported.
  std::vector<media::MyDataObject> records = media::getVolumeToFSGetInfo(*runner_);
  const media::BlkidProbe probe = media::Blkid_Probe(*runner_);
  for (const QString& path : image_paths_) {
    if (auto record = media::Image_Record(path, probe)) records.push_back(*record);
  }
  drive_model_.Set_Records(std::move(records));

  // Keep the user's choice when the medium is still there.
  for (int row = 0; row < drive_model_.rowCount(); ++row) {
    if (drive_model_.Record(row)->nsStrDiskIdentifier == selected) {
      ui->idTableView->selectRow(row);
      break;
    }
  }
  ui->_refresh_Label->setText(
      drive_model_.rowCount() == 0
          ? QStringLiteral("No removable media found. Plug in a USB stick or memory card and "
                           "press Refresh, or add a disk image.")
          : QStringLiteral("Plugged in a stick or card after start-up? Press Refresh to list it."));
  // Without the rights to read devices a scan of a stick would fail on its
  // first read; say so beside the list, in plain words.
  const QString rights = QString::fromStdString(media::Raw_Device_Rights_Note());
  ui->_rights_Label->setText(rights);
  ui->_rights_Label->setVisible(!rights.isEmpty());

  if (sheet) {
    End_Sheet(LoadDisk_Window);
    raise();
    activateWindow();
  }
}

const media::MyDataObject* MyTableController::Selected_Medium() const {
  const QItemSelectionModel* selection = ui->idTableView->selectionModel();
  if (!selection) return nullptr;
  const QModelIndexList rows = selection->selectedRows();
  if (rows.isEmpty()) return nullptr;
  return drive_model_.Record(rows.front().row());
}

void MyTableController::Add_Image_Pressed() {
  if (const auto path = chooser_->Choose_Image(this)) Add_Image(*path);
}

bool MyTableController::Add_Image(const QString& path) {
  QString why;
  const auto record = media::Image_Record(path, media::Blkid_Probe(*runner_), &why);
  if (!record) {
    Show_Alert(this, QStringLiteral("\nThe disk image cannot be added."), why);
    return false;
  }
  const QString absolute = record->nsStrDiskIdentifier;
  if (!image_paths_.contains(absolute)) image_paths_.append(absolute);
  const auto& listed = drive_model_.Records();
  if (std::none_of(listed.begin(), listed.end(), [&](const media::MyDataObject& r) {
        return r.nsStrDiskIdentifier == absolute;
      })) {
    std::vector<media::MyDataObject> records = listed;
    records.push_back(*record);
    drive_model_.Set_Records(std::move(records));
  }
  for (int row = 0; row < drive_model_.rowCount(); ++row) {
    if (drive_model_.Record(row)->nsStrDiskIdentifier == absolute) {
      ui->idTableView->selectRow(row);
      break;
    }
  }
  return true;
}

}  // namespace tamberlin::ui
