// Construction, start-up, the recovery-mode radios and the one place where
// widgets are connected to the controller.
#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <cmath>

#include "results/qt/thumbnails.h"
#include "ui/MyTableController.h"
#include "ui/data_dir.h"
#include "ui/help_texts.h"
#include "ui_MyTableController.h"

namespace tamberlin::ui {

// Thumbnails are made at most kThumbnailSide pixels long: the starting zoom
// (0.55) shows them at that size, so they are never blown up unless the
// user zooms in, and then at most by half.
int Browser_Icon_Size(double zoom) {
  const double z = zoom < 0 ? 0 : (zoom > 1 ? 1 : zoom);
  return 32 + static_cast<int>(std::lround(z * (results::kThumbnailSide - 32) / 0.55));
}

MyTableController::MyTableController(ControllerSetup setup, QWidget* parent)
    : QMainWindow(parent),
      ui(std::make_unique<Ui::MyTableController>()),
      data_dir_(setup.data_dir.isEmpty() ? Data_Dir() : setup.data_dir),
      preview_dir_(setup.preview_dir.isEmpty() ? Preview_Dir() : setup.preview_dir),
      runner_(setup.runner ? setup.runner : std::make_shared<media::ProcessRunner>()),
      chooser_(setup.chooser ? setup.chooser : std::make_shared<DialogFolderChooser>()),
      quit_(setup.quit ? setup.quit : [] { QCoreApplication::exit(0); }) {
  ui->setupUi(this);
  BrowseInfo_Window = new Browse_Info(this);
  SaveFile_Info_Window = new SaveFile_Info(this);
  SaveFile_Info_For_RAW_Window = new SaveFile_Info_For_RAW(this);
  ClearPreview_Window = new ClearPreview_Modeless(this);
  LoadDisk_Window = new LoadDrive_Modeless(this);
  HelpWindow = new Help_Support(this, data_dir_);
  Setup_Results();
  Setup_Scan();
  Connect_Actions();
  awakeFromNib();
}

// A scan still running is stopped and its thread ended before anything it
// uses goes away.
MyTableController::~MyTableController() {
  Shut_Down_Recovery();
  Shut_Down_Scan();
}

void MyTableController::Connect_Actions() {
  connect(ui->_rec_mode_Photo, &QRadioButton::clicked, this, &MyTableController::Photo_Mode_Radio);
  connect(ui->_rec_mode_Video, &QRadioButton::clicked, this, &MyTableController::Video_Mode_Radio);
  connect(ui->_rec_mode_RawFile, &QRadioButton::clicked, this,
          &MyTableController::RawFile_Mode_Radio);
  connect(ui->_refresh_btn, &QPushButton::clicked, this, &MyTableController::rebresh_drives);
  connect(ui->_add_image_btn, &QPushButton::clicked, this, &MyTableController::Add_Image_Pressed);
  connect(ui->idTableView, &QAbstractItemView::doubleClicked, this, &MyTableController::Next_btn);
  connect(ui->_next_btn, &QPushButton::clicked, this, &MyTableController::Next_btn);
  connect(ui->_back_btn, &QPushButton::clicked, this, &MyTableController::Back_btn);
  connect(ui->_recover_btn, &QPushButton::clicked, this, &MyTableController::Recover_btn);
  connect(ui->_show_once_chk, &QCheckBox::toggled, this, &MyTableController::Show_Each_File_Once);
  connect(ui->_exit_btn, &QPushButton::clicked, this, &MyTableController::Exit_Btn);
  connect(ui->_help_btn, &QPushButton::clicked, this, &MyTableController::Help_btn);
  connect(ui->_browse_path, &QPushButton::clicked, this, &MyTableController::Browse_Path);
  connect(ui->_browse_path_Sig, &QPushButton::clicked, this, &MyTableController::Browse_Path_Sig);
  // Scan range, both sets.
  connect(ui->_entire_disk_rd, &QRadioButton::clicked, this, &MyTableController::Entire_Disk_Radio);
  connect(ui->_entire_disk_rd_Sig, &QRadioButton::clicked, this,
          &MyTableController::Entire_Disk_Radio_Sig);
  connect(ui->_sector_range_rd, &QRadioButton::clicked, this, &MyTableController::Sector_Range_Radio);
  connect(ui->_sector_range_rd_Sig, &QRadioButton::clicked, this,
          &MyTableController::Sector_Range_Radio_Sig);
  connect(ui->_Start_Slider, &QSlider::valueChanged, this, &MyTableController::DO_Start_slider);
  connect(ui->_Start_Slider_Sig, &QSlider::valueChanged, this,
          &MyTableController::DO_Start_slider_Sig);
  connect(ui->_End_Slider, &QSlider::valueChanged, this, &MyTableController::DO_End_slider);
  connect(ui->_End_Slider_Sig, &QSlider::valueChanged, this, &MyTableController::DO_End_slider_Sig);
  for (QLineEdit* field : {ui->_Start_slider_val, ui->_End_slider_val, ui->_Start_slider_val_Sig,
                           ui->_End_slider_val_Sig}) {
    connect(field, &QLineEdit::textEdited, this, [this, field] { controlTextDidChange(field); });
  }
  // File type list.
  connect(ui->_select_unselect_Chk, &QCheckBox::clicked, this,
          &MyTableController::Select_Unselect_Check_btn);
  connect(ui->idCheckTableView, &QAbstractItemView::clicked, this,
          [this](const QModelIndex& index) { clickTable(ui->idCheckTableView, index); });
  connect(ui->_zoom_slider, &QSlider::valueChanged, this, &MyTableController::zoomSliderDidChange);
}

void MyTableController::Set_Captions(bool sig) {
  const QString s = sig ? QStringLiteral("_Sig") : QString();
  const std::pair<const char*, const char*> captions[] = {
      {"_disk", kDiskCaption},         {"_vol_name", kVolNameCaption},
      {"_file_system", kFileSystemCaption}, {"_size", kSizeCaption},
      {"_start_sector_entire", kStartSectorCaption}, {"_end_sector_entire", kEndSectorCaption}};
  for (const auto& [name, text] : captions) {
    if (auto* label = findChild<QLabel*>(QLatin1String(name) + s))
      label->setText(QString::fromUtf8(text));
  }
}

void MyTableController::Setup_Browser(QListView* browser, double zoom) {
  browser->setViewMode(QListView::IconMode);
  browser->setMovement(QListView::Static);  // found items keep the order of finding
  browser->setResizeMode(QListView::Adjust);
  browser->setDragEnabled(false);           // nothing can be dragged out
  const int side = Browser_Icon_Size(zoom);
  browser->setIconSize(QSize(side, side));
}

void MyTableController::awakeFromNib() {
  // The window: our background; closing it asks before the program ends.
  Apply_Window_Style(this);
  setWindowTitle(QStringLiteral("Tamberlin"));
  // Room for every screen, yet within a 1366x768 screen with a panel, and
  // never past the free area of the screen the window opens on.
  {
    QSize size(1180, 680);
    if (const QScreen* shown_on = screen()) {
      const QSize frame(16, 48);  // title bar and borders
      size = size.boundedTo(shown_on->availableGeometry().size() - frame);
    }
    resize(size.expandedTo(minimumSize()));
  }

  // Photo mode, thorough pass on.
  ui->_Thro_Mode_Chk->setChecked(true);
  Set_Mode(0);

  ui->_help_info->setText(QString::fromUtf8(kMediaHelp));

  Set_Captions(false);
  ui->_sector_label->setText(QStringLiteral("Sectors 0 of 0"));
  Set_Captions(true);

  // The lists and their tables.
  ui->idTableView->setModel(&drive_model_);
  ui->idTableView->horizontalHeader()->setStretchLastSection(false);
  ui->idTableView->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  ui->idTableView->verticalHeader()->hide();
  Setup_File_Type_Table();
  nsSIGFileInfoDataObject.Clear();

  Reload_Drive_list_Function();
  {
    auto* header = ui->idTableView->horizontalHeader();
    const int widths[media::kDriveColumnCount] = {180, 200, 110, 110, 110, 120};
    for (int c = 0; c < media::kDriveColumnCount; ++c) header->resizeSection(c, widths[c]);
    header->setStretchLastSection(true);
  }

  // Both browsers; the zoom slider shows 0.5 while the photo browser starts
  // at 0.55 until the slider is first moved.
  ui->_zoom_slider->blockSignals(true);
  ui->_zoom_slider->setRange(0, 100);
  ui->_zoom_slider->setValue(50);
  ui->_zoom_slider->blockSignals(false);
  imageBrowser_zoom = 0.55;
  imageBrowser_2_zoom = 0.05;
  Setup_Browser(ui->imageBrowser, imageBrowser_zoom);
  Setup_Browser(ui->imageBrowser_2, imageBrowser_2_zoom);
  ui->imageBrowser->verticalScrollBar()->setObjectName(QStringLiteral("Image_Scroller"));

  // Working lists, then the catalogue.
  CheckListHeader_Adv_Array.clear();
  CheckListHeader_Array.clear();
  catalogue = Catalogue::Load(data_dir_.toStdString());

  // Placeholder thumbnail; a missing file leaves it empty.
  {
    QFile placeholder(data_dir_ + QStringLiteral("/NoPreview.png"));
    if (placeholder.open(QIODevice::ReadOnly)) Null_Image_Data = placeholder.readAll();
  }

  ui->_Progress_Horz->setValue(0);

  // File types sort by Extension, ascending, ignoring case.
  ui->idCheckTableView->sortByColumn(FileTypeTableModel::kExtension, Qt::AscendingOrder);

  // Waiting on the media screen.
  screen_counter = 0;
  ui->_Search_Type->hide();
  show_hide_2_screen(true);
  show_hide_3_screen_Photo(true);
  show_hide_3_screen_RawFile(true);
  show_hide_4_screen_RawFile(true);
  show_hide_1_screen(false);
  ui->_back_btn->setEnabled(false);
  ui->idTableView->setFocus();
}

void MyTableController::Set_Mode(int mode) {
  Recovery_MODE = mode;
  ui->_rec_mode_Photo->setChecked(mode == 0);
  ui->_rec_mode_Video->setChecked(mode == 1);
  ui->_rec_mode_RawFile->setChecked(mode == 2);
}

void MyTableController::Photo_Mode_Radio() { Set_Mode(0); }
void MyTableController::Video_Mode_Radio() { Set_Mode(1); }
void MyTableController::RawFile_Mode_Radio() { Set_Mode(2); }

}  // namespace tamberlin::ui
