// Which screen is shown and what Next and Back do. Each show_hide_* function
// decides the visibility of one screen's widgets. The screens, by
// screen_counter: 0 media, 1 scan range, 2 photo results (photo) or file
// types (video, raw file), 3 raw results (video, raw file).
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>

#include "ui/MyTableController.h"
#include "ui/help_texts.h"
#include "ui_MyTableController.h"

namespace tamberlin::ui {

void MyTableController::show_hide_1_screen(bool hide) { ui->_screen_media->setHidden(hide); }

void MyTableController::show_hide_2_screen(bool hide) {
  const bool sig = Recovery_MODE != 0;
  QWidget* set = sig ? ui->_range_set_Sig : ui->_range_set_Photo;
  QRadioButton* entire = sig ? ui->_entire_disk_rd_Sig : ui->_entire_disk_rd;
  QRadioButton* range = sig ? ui->_sector_range_rd_Sig : ui->_sector_range_rd;
  QWidget* disk_info = sig ? ui->_disk_info_group_Sig : ui->_disk_info_group;
  QWidget* range_group = sig ? ui->_range_group_Sig : ui->_range_group;
  if (entire->isChecked() && !range->isChecked()) {
    disk_info->setHidden(hide);
    if (!hide) range_group->hide();
  }
  if (!entire->isChecked() && range->isChecked()) {
    range_group->setHidden(hide);
    if (!hide) disk_info->hide();
  }
  set->setHidden(hide);
  if (!hide) (sig ? ui->_range_set_Photo : ui->_range_set_Sig)->hide();
  ui->_screen_range->setHidden(hide);
}

namespace {

// The progress strip's widgets; the end-of-scan screen hides them, a results
// screen shows them again for the next scan.
void Show_Progress_Widgets(Ui::MyTableController& ui, bool hide) {
  ui._progress_strip->setHidden(hide);
  for (QWidget* w : {static_cast<QWidget*>(ui._Mode_label), static_cast<QWidget*>(ui._Progress_Horz),
                     static_cast<QWidget*>(ui._sector_label), static_cast<QWidget*>(ui._stop_scan),
                     static_cast<QWidget*>(ui._rate_label)})
    w->setHidden(hide);
}

}  // namespace

void MyTableController::show_hide_3_screen_Photo(bool hide) {
  ui->_screen_photo_results->setHidden(hide);
  Show_Progress_Widgets(*ui, hide);
  ui->_recover_btn->setHidden(hide);
  ui->_recover_btn->setEnabled(false);  // until the scan has ended
  ui->_show_once_chk->setHidden(hide);
  ui->_next_btn->setEnabled(hide);
  ui->_back_btn->setEnabled(hide);
}

void MyTableController::show_hide_3_screen_RawFile(bool hide) {
  ui->_screen_filetypes->setHidden(hide);
}

void MyTableController::show_hide_4_screen_RawFile(bool hide) {
  ui->_screen_raw_results->setHidden(hide);
  Show_Progress_Widgets(*ui, hide);
  ui->_recover_btn->setHidden(hide);
  ui->_recover_btn->setEnabled(false);  // until the scan has ended
  ui->_show_once_chk->setHidden(hide);
  ui->_next_btn->setEnabled(hide);
  ui->_back_btn->setEnabled(hide);
  // The pane starts empty; the movie view shows only with a movie in it.
  if (hide) Clear_Preview();  // a movie must not play on out of sight
  ui->mMovieView->hide();
  ui->_QuickLook_View->setHidden(hide);
}

void MyTableController::Fill_Range_Screen(bool sig, const media::MyDataObject& medium) {
  const QString s = sig ? QStringLiteral("_Sig") : QString();
  auto field = [&](const char* name) { return findChild<QLabel*>(QLatin1String(name) + s); };
  (sig ? ui->_path_Sig : ui->_path)->clear();
  (sig ? ui->_entire_disk_rd_Sig : ui->_entire_disk_rd)->setChecked(true);
  (sig ? ui->_sector_range_rd_Sig : ui->_sector_range_rd)->setChecked(false);
  ui->_disk_identifier->setText(medium.nsStrDiskIdentifier);
  field("_disk_val")->setText(medium.nsStrDiskIdentifier);
  ui->_sectors_val->setText(medium.nsStrSectors);
  field("_vol_name_val")->setText(medium.nsStrVolName);
  field("_file_system_val")->setText(medium.nsStrFileSystem);
  field("_size_val")->setText(medium.nsStrSize);
  field("_start_sector_entire_val")->setText(QStringLiteral("0"));
  field("_end_sector_entire_val")->setText(medium.nsStrSectors);
  Reset_Range_Group(sig, medium.nsStrSectors);
  if (!sig) ui->_Thro_Mode_Chk->setChecked(true);
  ui->_Search_Type->setText(QString::fromUtf8(kSearchTypeTexts[Recovery_MODE]));
  ui->_Search_Type->show();
}

void MyTableController::Next_btn() {
  // While a scan runs both buttons are disabled; a call from elsewhere waits too.
  if (Scan_In_Progress() || Recovery_In_Progress()) return;
  switch (screen_counter) {
    case 0: {
      const media::MyDataObject* medium = Selected_Medium();
      if (!medium) {
        Show_Alert(this, QString::fromUtf8(kNoMediumSelected));
        ui->idTableView->setFocus();
        return;
      }
      const media::MyDataObject chosen = *medium;
      screen_counter = 1;
      ui->_help_info->setText(QString::fromUtf8(kEntireDiskHelp));
      Fill_Range_Screen(Recovery_MODE != 0, chosen);
      ui->_back_btn->setEnabled(true);
      show_hide_1_screen(true);
      show_hide_2_screen(false);
      return;
    }
    case 1: {
      const bool sig = Recovery_MODE != 0;
      const bool entire = (sig ? ui->_entire_disk_rd_Sig : ui->_entire_disk_rd)->isChecked();
      const bool range = (sig ? ui->_sector_range_rd_Sig : ui->_sector_range_rd)->isChecked();
      if (!entire && range && !Check_Range_Fields()) return;
      screen_counter = 2;
      ui->_Thro_Mode_Chk_SIG->setChecked(true);
      ui->_select_unselect_Chk->setChecked(true);
      show_hide_2_screen(true);
      stop_now = 0;
      Image_Count = 0;
      if (!sig) {
        show_hide_3_screen_Photo(false);
        Launch_Scan();
        return;
      }
      Build_File_Type_List();
      ui->_help_info->setText(QString::fromUtf8(kFileTypeHelp));
      show_hide_3_screen_RawFile(false);
      return;
    }
    case 2: {
      if (Recovery_MODE == 0) return;  // the photo results screen has no Next
      if (!Apply_File_Type_Selection()) {
        Show_Alert(this, QString::fromUtf8(kNoTypeSelected));
        ui->idCheckTableView->setFocus();
        return;
      }
      screen_counter = 3;
      show_hide_3_screen_RawFile(true);
      show_hide_4_screen_RawFile(false);
      Launch_Scan();
      return;
    }
    default:
      return;  // the raw results screen has no Next
  }
}

// Back from a results screen: the found items go and both browsers start
// from their first zoom.
void MyTableController::Reset_Results_View() {
  Clear_Found_Items();
  {
    const QSignalBlocker quiet(ui->_zoom_slider);
    ui->_zoom_slider->setValue(50);
  }
  imageBrowser_zoom = 0.55;
  imageBrowser_2_zoom = 0.05;
  for (QListView* browser : {ui->imageBrowser, ui->imageBrowser_2}) {
    const int side = Browser_Icon_Size(browser == ui->imageBrowser ? imageBrowser_zoom : imageBrowser_2_zoom);
    browser->setIconSize(QSize(side, side));
  }
  ui->_zoom_label->hide();
  ui->_zoom_slider->hide();
}

void MyTableController::Back_btn() {
  if (Scan_In_Progress() || Recovery_In_Progress()) return;
  switch (screen_counter) {
    case 1: {
      screen_counter = 0;
      ui->_Search_Type->hide();
      ui->_help_info->setText(QString::fromUtf8(kMediaHelp));
      const QString none = QStringLiteral("<None>");
      ui->_sectors_val->setText(none);
      ui->_disk_identifier->setText(none);
      for (const QString& s : {QString(), QStringLiteral("_Sig")}) {
        for (const char* name : {"_disk_val", "_vol_name_val", "_file_system_val", "_size_val",
                                 "_start_sector_entire_val", "_end_sector_entire_val"}) {
          findChild<QLabel*>(QLatin1String(name) + s)->setText(none);
        }
      }
      ui->_back_btn->setEnabled(false);
      show_hide_1_screen(false);
      show_hide_2_screen(true);  // still sees the old mode, so hides the right set
      Set_Mode(0);
      Reload_Drive_list_Function();
      ui->idTableView->setFocus();
      return;
    }
    case 2: {
      screen_counter = 1;
      const bool sig = Recovery_MODE != 0;
      const bool entire = (sig ? ui->_entire_disk_rd_Sig : ui->_entire_disk_rd)->isChecked();
      const bool range = (sig ? ui->_sector_range_rd_Sig : ui->_sector_range_rd)->isChecked();
      if (entire && !range) ui->_help_info->setText(QString::fromUtf8(kEntireDiskHelp));
      if (!entire && range) ui->_help_info->setText(QString::fromUtf8(kSectorRangeHelp));
      Reset_Results_View();
      show_hide_2_screen(false);
      if (sig) {
        show_hide_3_screen_RawFile(true);
      } else {
        show_hide_3_screen_Photo(true);
      }
      stop_now = 0;
      Image_Count = 0;
      return;
    }
    case 3: {
      screen_counter = 2;
      Clear_Found_Items();
      imageBrowser_2_zoom = 0.05;
      const int side = Browser_Icon_Size(imageBrowser_2_zoom);
      ui->imageBrowser_2->setIconSize(QSize(side, side));
      ui->_help_info->setText(QString::fromUtf8(kFileTypeHelp));
      show_hide_4_screen_RawFile(true);
      show_hide_3_screen_RawFile(false);
      stop_now = 0;
      Image_Count = 0;
      return;
    }
    default:
      return;  // Back is disabled on the media screen
  }
}

}  // namespace tamberlin::ui
