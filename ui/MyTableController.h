// The main window and the one object that owns the program's state: the
// catalogue, the media list, the choices made on the screens, the found
// items and the progress of the current scan.
//
// The widgets come from MyTableController.ui (ui->_next_btn, ...). The
// implementation is split by concern:
//   controller_startup.cpp     construction, start-up, mode radios, connections
//   controller_media.cpp       media list, disk images
//   controller_screens.cpp     which screen is shown, Next and Back
//   controller_range.cpp       scan range widgets
//   controller_filetypes.cpp   file type list
//   controller_exit_help.cpp   exit, help, folder chooser
//   controller_scan.cpp        scan launch, progress, stop, end of scan
//   controller_results.cpp     found items, browsers, summary table
//   controller_preview.cpp     extraction and preview of a found item
//   controller_recover.cpp     writing found items into the destination folder
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "engine/catalogue.h"
#include "media/drive_table_model.h"
#include "ui/file_type_model.h"
#include "ui/folder_chooser.h"
#include "results/qt/found_items.h"
#include "engine/sector_source.h"
#include "media/media_list.h"
#include "ui/notices.h"
#include "ui/progress_rate.h"
#include "recovery/recover.h"
#include "engine/scan.h"
#include "results/summary_records.h"

class QLineEdit;
class QListView;
class QMediaPlayer;
class QModelIndex;
class QTimer;

namespace Ui {
class MyTableController;
}

namespace tamberlin::ui {

// What the window works with; tests replace the parts that touch the
// machine. Empty members get the real thing.
struct ControllerSetup {
  QString data_dir;     // catalogue, NoPreview.png, Help.pdf (default Data_Dir())
  QString preview_dir;  // preview files "dprv.<ext>" (default Preview_Dir())
  std::shared_ptr<media::CommandRunner> runner;  // lsblk and blkid
  std::shared_ptr<FolderChooser> chooser;        // folder and image dialogs
  std::function<void()> quit;                    // ends the program
};

class MyTableController : public QMainWindow {
  Q_OBJECT

 public:
  explicit MyTableController(ControllerSetup setup = {}, QWidget* parent = nullptr);
  ~MyTableController() override;

  const QString& Data_Folder() const { return data_dir_; }
  const QString& Preview_Folder() const { return preview_dir_; }

  // ---- recovery mode (0 photo, 1 video, 2 raw file) ----
  void Photo_Mode_Radio();
  void Video_Mode_Radio();
  void RawFile_Mode_Radio();

  // ---- media list ----
  void Reload_Drive_list_Function();
  void rebresh_drives() { Reload_Drive_list_Function(); }
  // Lets the user pick an image file and adds it.
  void Add_Image_Pressed();
  // Adds a disk-image file as a row that stays across refreshes. A path that
  // is no usable image is reported to the user and not added (false).
  bool Add_Image(const QString& path);
  const std::vector<media::MyDataObject>& nsMutaryOfDataObject() const {
    return drive_model_.Records();
  }
  const QStringList& Image_Paths() const { return image_paths_; }
  // The record of the selected row of the drive table, or null.
  const media::MyDataObject* Selected_Medium() const;

  // ---- screens ----
  void Next_btn();
  void Back_btn();
  void show_hide_1_screen(bool hide);
  void show_hide_2_screen(bool hide);
  void show_hide_3_screen_Photo(bool hide);
  void show_hide_3_screen_RawFile(bool hide);
  void show_hide_4_screen_RawFile(bool hide);

  // ---- scan range, both sets (controller_range.cpp) ----
  void Entire_Disk_Radio();
  void Entire_Disk_Radio_Sig();
  void Sector_Range_Radio();
  void Sector_Range_Radio_Sig();
  void DO_Start_slider();
  void DO_Start_slider_Sig();
  void DO_End_slider();
  void DO_End_slider_Sig();
  // The user edited a text field; only the four range fields are handled.
  void controlTextDidChange(QObject* field);
  static bool Check_For_Valid_Sec(const QString& text);
  // Next on the range screen with Sector Range chosen: checks the typed range
  // of the current set; on the first problem tells the user, focuses the
  // field and returns false.
  bool Check_Range_Fields();

  // ---- file type list (controller_filetypes.cpp) ----
  // Rebuilds the list from the mode's catalogue, every row checked.
  void Build_File_Type_List();
  void Select_Unselect_Check_btn();
  // A click in a table; keeps the select-all box in step with the rows.
  void clickTable(QObject* sender, const QModelIndex& index);
  // Stores a cell value by column identifier; a row outside the list is
  // reported and nothing is stored.
  bool setObjectValue(const QVariant& value, const QString& column, int row);
  // Filters the working header lists and rebuilds the summary records from
  // the rows; true when at least one type is ticked.
  bool Apply_File_Type_Selection();

  // ---- scan (controller_scan.cpp) ----
  // Stop button: asks the running pass to stop.
  void stop_usb_disk();
  // The end-of-scan screen; UI thread. The scan reaches it through its host.
  void Final_or_Stop_Screen();
  // Progress label and bar from the scan state.
  void timerTickSetLabel();
  // A scan thread runs; Next and Back wait until it has ended.
  bool Scan_In_Progress() const;
  // Waits (processing the window's events) until the scan thread has ended;
  // false when it was still running after `timeout_ms`.
  bool Wait_For_Scan_End(int timeout_ms);

  // ---- exit, help, destination folder ----
  void Exit_App();
  void Exit_Btn() { Exit_App(); }
  void Help_btn();
  void Browse_Path();
  void Browse_Path_Sig();
  // The chooser's answer: a folder fills both path fields, nothing leaves them.
  void openPanelDidEnd(const std::optional<QString>& folder);
  // The destination folder chosen so far, empty when none.
  QString Chosen_Folder() const;
  // Deletes the current preview file and every "dprv" entry of the preview folder.
  void Remove_Preview_Files();

  // ---- found items, browsers, summary table (controller_results.cpp) ----
  // The add operations and Clear_Found_Items may be called from the scan
  // thread: the list and the summary change under their locks at once, the
  // browsers catch up on the UI thread; the caller never waits for the UI.
  // A photo item: its bytes (thumbnailed off the caller's thread), name, id,
  // and where it lies on the medium.
  void addImageWithData(const QByteArray& bytes, const QString& name, const QString& uid,
                        quint64 first_sector, quint64 sector_count);
  // A video or raw item, sectors [start_sector, end_sector); counted in
  // nsSIGFileInfoDataObject by its trimmed name.
  void addImageWithData_2(const QString& name, const QString& uid, quint64 start_sector,
                          quint64 end_sector);
  // Empties `images` and resets the browsers as a general pass does.
  void Clear_Found_Items();
  int Found_Item_Count() const;
  results::FoundItemList images;  // in the order of finding
  // UI thread from here on.
  // _zoom_slider moved (0..100): the photo browser's zoom follows.
  void zoomSliderDidChange(int value);
  // Image_Scroller hit (a QAbstractSlider::SliderAction): pages move a fifth
  // of the range, lines a twentieth.
  void scrollerAction(int action);
  // A browser's selection changed; only the file browser starts a preview.
  void imageBrowserSelectionDidChange(QListView* browser);
  // Brings both browsers and the summary table in step with the lists now.
  void Reload_Results();
  // Returns once every queued thumbnail is made and shown.
  void Wait_For_Thumbnails();
  // _show_once_chk: the browsers show each file once (an item starting at
  // the sector of an earlier one is left out) or every item as found. The
  // found-item list, the names and the counts stay as they are.
  void Show_Each_File_Once(bool on);

  // ---- preview of a found item (controller_preview.cpp), UI thread ----
  // Copies sectors [File_Start_Sec, File_End_Sec) of the selected medium into
  // the preview file and shows it, with the ClearPreview_Window sheet up and
  // `session` set meanwhile.
  void CreateFile_QuickLook_View(const QString& path, quint64 File_Start_Sec,
                                 quint64 File_End_Sec);
  void QuickLook_Preview_Thread(const QString& path);
  void setQuickLook_View(const QString& file, const QString& file_Name);
  void Image_Preview(const QString& file, const QString& file_Name);
  void closemovie_Win();
  void stopPlayingMovie(QMediaPlayer* movie);
  static bool isPlaying(const QMediaPlayer* movie);
  QMediaPlayer* Movie() const;  // the player behind mMovieView
  // How the preview and the scan open the medium (read-only); tests read
  // from memory.
  tamberlin::SourceOpener preview_source_opener = tamberlin::File_Opener();
  tamberlin::SourceOpener scan_source_opener = tamberlin::File_Opener();
  // The medium as it was when the scan started; the passes, the preview and
  // the recovery refuse to read another one behind the same path. Empty when
  // it could not be taken (the scan then reports the open failure itself).
  std::optional<tamberlin::MediumIdentity> scan_medium_;
  // `opener`, refusing a medium other than the one scanned.
  tamberlin::SourceOpener Scanned_Medium(const tamberlin::SourceOpener& opener) const {
    return tamberlin::Same_Medium_Opener(opener, scan_medium_);
  }

  // ---- recovery into the destination folder (controller_recover.cpp) ----
  // Recover button: the selected items of the results screen (all when none
  // is selected) are written into the destination folder, which is chosen
  // first when none has been. Checks the folder, then copies on a worker
  // thread behind a progress dialog with Cancel; the window stays live.
  void Recover_btn();
  // True while a recovery's worker runs.
  bool Recovery_In_Progress() const;
  // Waits (processing events) until a running recovery has ended; false on timeout.
  bool Wait_For_Recovery_End(int timeout_ms);
  // The items Recover would write now, in list order: the selected ones
  // (whatever the browser leaves out), or every item found when none is.
  std::vector<results::MyImageObject> Items_To_Recover() const;
  // Asks before the copy starts: how many items go where, and whether items
  // that fail their format's checks are kept in a "doubtful" subfolder. None
  // when the user cancels. The choice is offered again next time.
  std::optional<recovery::RecoveryOptions> Confirm_Recovery(std::size_t items, const QString& folder);
  // What writes the items, on the recovery's worker thread; tests replace it.
  std::function<recovery::RecoveryOutcome(SectorSource&, const std::vector<recovery::RecoveryItem>&,
                                          const std::filesystem::path&, recovery::RecoveryProgress&,
                                          const recovery::RecoveryOptions&)>
      recover_items = recovery::Recover_Items;

  // ---- lists ----
  Catalogue catalogue;  // Ext_Array, Adv_Ext_Array, Video_Array, ...
  CatalogueList CheckListHeader_Array;
  CatalogueList CheckListHeader_Adv_Array;
  std::vector<ExtensionListRecord>& nsCheckedListDataObject() { return file_type_model_.Records(); }
  SignatureList nsSIGFileInfoDataObject;

  // ---- scan state ----
  std::atomic<int> Recovery_MODE{0};
  int screen_counter = 0;
  // stop_now, stop_screen_already_show, the sector range and for_index,
  // shared with the scan thread.
  tamberlin::ScanState scan_state;
  std::atomic<int>& stop_now = scan_state.stop_now;
  std::atomic<int>& stop_screen_already_show = scan_state.stop_screen_already_show;
  std::atomic<std::uint64_t> Image_Count{0};
  QTimer* mSetLabelTimer = nullptr;     // progress timer while a scan runs
  // The preview extraction's sheet, and the end of a raw scan handed over to
  // it. The scan thread moves kSessionOpen to kScanEndHandedOver in one step;
  // the preview takes the value back to kNoSession in one step when it
  // closes, so the end-of-scan screen is shown by exactly one of the two.
  static constexpr int kNoSession = 0;
  static constexpr int kSessionOpen = 1;
  static constexpr int kScanEndHandedOver = 2;
  std::atomic<int> session{kNoSession};
  std::uint32_t Prev_Index = 0x7FFFFFFF;  // item last previewed; 0x7FFFFFFF none
  QString Preview_File;                 // path of the current preview file
  QByteArray Null_Image_Data;           // NoPreview.png, placeholder thumbnail
  double imageBrowser_zoom = 0.55;      // 0 smallest .. 1 largest
  double imageBrowser_2_zoom = 0.05;

  // ---- windows ----
  QWidget* controlPanel = this;  // hosts the sheets
  Browse_Info* BrowseInfo_Window = nullptr;
  SaveFile_Info* SaveFile_Info_Window = nullptr;
  SaveFile_Info_For_RAW* SaveFile_Info_For_RAW_Window = nullptr;
  ClearPreview_Modeless* ClearPreview_Window = nullptr;
  LoadDrive_Modeless* LoadDisk_Window = nullptr;
  Help_Support* HelpWindow = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void awakeFromNib();
  void Connect_Actions();
  void Setup_Browser(QListView* browser, double zoom);
  void Setup_File_Type_Table();
  void Set_Captions(bool sig);
  // Fills the range screen of one set from a medium (Next on the media screen).
  void Fill_Range_Screen(bool sig, const media::MyDataObject& medium);
  // Resets the range group of one set to 0 .. `sectors`.
  void Reset_Range_Group(bool sig, const QString& sectors);
  void Set_Mode(int mode);

  // Back from a results screen: found items cleared, browsers at first zoom.
  void Reset_Results_View();
  // Scan range helpers (controller_range.cpp).
  void Choose_Entire_Disk(bool sig);
  void Choose_Sector_Range(bool sig);
  void Slider_Moved(bool sig, bool end);

  // Scan launch and hand-off (controller_scan.cpp).
  class Window_Scan_Host;
  friend class Window_Scan_Host;
  void Setup_Scan();
  void Launch_Scan();
  tamberlin::ScanSettings Read_Scan_Settings() const;
  void Scan_Open_Failed(tamberlin::RecoveryMode mode);
  void Stop_Progress_Timer();
  void Show_Progress_Value(double value);
  void Shut_Down_Scan();
  // Runs the window calls the scan thread has handed over.
  Q_INVOKABLE void Run_Scan_Calls();

  // Recovery worker and its progress dialog (controller_recover.cpp).
  struct Recovery_Run;
  std::shared_ptr<Recovery_Run> recovery_;
  bool keep_doubtful_ = false;  // the last answer to Confirm_Recovery
  void Poll_Recovery();
  void Finish_Recovery();
  void Shut_Down_Recovery();

  std::unique_ptr<Ui::MyTableController> ui;
  // Browser and summary models, thumbnail worker, movie player; set up by
  // Setup_Results (controller_results.cpp). Declared after `ui` so it goes
  // before the widgets do.
  struct Results_Parts;
  std::shared_ptr<Results_Parts> results_;
  void Setup_Results();
  void Setup_Preview();
  // Other threads (the scan, the thumbnail worker) ask for these UI-thread
  // updates through flags and a call by name, so nothing they allocate
  // crosses over with the request.
  void Queue_Results_Reload();
  void Queue_Scroll_To_End(bool photo);
  Q_INVOKABLE void Run_Results_Reload();
  Q_INVOKABLE void Run_Scroll_To_End();
  Q_INVOKABLE void Run_Pictures_Changed();
  Q_INVOKABLE void Run_Reset_Views();
  // The item's type icon in the preview area, for a preview that could not be made.
  void Show_Type_Icon(const QString& file_Name);
  // The preview pane with nothing in it: no picture, no movie, no note.
  void Clear_Preview();
  // Draws the picture or PDF page `file` to fit the preview pane; false when
  // it is neither.
  bool Show_Picture(const QString& file);
  // The found and selected counts under the browsers.
  void Update_Counts();
  QString data_dir_;
  QString preview_dir_;
  std::shared_ptr<media::CommandRunner> runner_;
  std::shared_ptr<FolderChooser> chooser_;
  std::function<void()> quit_;
  media::DriveTableModel drive_model_;
  FileTypeTableModel file_type_model_;
  QStringList image_paths_;
  // Sector counts the range sliders of each set (0 photo, 1 _Sig) stand for.
  std::uint64_t slider_sectors_[2] = {0, 0};
  double progress_maximum_ = 0;     // sectors the progress bar stands for
  // Speed, elapsed time and time left of the running scan, from the
  // progress ticks timed by scan_clock_.
  ProgressRate progress_rate_;
  QElapsedTimer scan_clock_;
  void Show_Pass(bool thorough);
  bool end_notice_running_ = false;
  std::shared_ptr<Window_Scan_Host> scan_host_;
  tamberlin::ScanRunner scan_runner_;
};

// Zoom 0..1 as an icon size for a browser.
int Browser_Icon_Size(double zoom);

}  // namespace tamberlin::ui
