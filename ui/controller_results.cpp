// Found items, the two browsers over them, and the summary table. The scan
// thread adds items here; the list and the summary take the change under
// their locks right away and the browsers catch up on the UI thread, where a
// queued reload runs at most once per turn of the event loop however fast
// the scan finds things.
#include <QAbstractItemView>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QItemSelectionModel>
#include <QListView>
#include <QMediaPlayer>
#include <QMetaObject>
#include <QPointer>
#include <QScrollBar>
#include <QSlider>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "ui/MyTableController.h"
#include "results/qt/browser_model.h"
#include "results/qt/file_type_icons.h"
#include "results/qt/item_text.h"
#include "ui/results_parts.h"
#include "results/qt/summary_model.h"
#include "results/qt/thumbnails.h"
#include "ui_MyTableController.h"

namespace tamberlin::ui {


namespace {
// Every sixth photo and every fourth video or raw item of a run scrolls its
// browser to the end.
constexpr std::uint64_t kPhotoScrollEvery = 6;
constexpr std::uint64_t kFileScrollEvery = 4;
constexpr int kSummaryRefreshMs = 250;
}  // namespace

void MyTableController::Setup_Results() {
  results_ = std::make_shared<Results_Parts>();
  Results_Parts& r = *results_;
  results::Ensure_Icon_Theme();
  r.model = std::make_unique<results::FoundItemModel>(images, [this] { return Recovery_MODE.load(); });
  r.delegate = std::make_unique<results::FoundItemDelegate>();
  for (QListView* browser : {ui->imageBrowser, ui->imageBrowser_2}) {
    browser->setModel(r.model.get());
    browser->setItemDelegate(r.delegate.get());
    browser->setDragEnabled(false);
    browser->setDragDropMode(QAbstractItemView::NoDragDrop);
    browser->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(browser->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this, browser] {
              imageBrowserSelectionDidChange(browser);
              Update_Counts();
            });
  }
  // The counts follow every reload (Reload_Results) and a change of what is shown.
  connect(r.model.get(), &QAbstractItemModel::modelReset, this, [this] { Update_Counts(); });
  r.photo_view = ui->imageBrowser;
  r.file_view = ui->imageBrowser_2;
  connect(ui->imageBrowser->verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
          &MyTableController::scrollerAction);

  r.summary = std::make_unique<results::SummaryTableModel>(nsSIGFileInfoDataObject);
  ui->idSigTableView->setModel(r.summary.get());
  ui->idSigTableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ui->idSigTableView->verticalHeader()->hide();
  ui->idSigTableView->horizontalHeader()->setStretchLastSection(true);
  ui->idSigTableView->horizontalHeader()->resizeSection(0, 110);
  ui->idSigTableView->horizontalHeader()->resizeSection(1, 80);
  r.summary_view = ui->idSigTableView;
  // Counts change on the scan thread; the table shows them within a moment.
  r.summary_timer = std::make_unique<QTimer>();
  r.summary_timer->setInterval(kSummaryRefreshMs);
  connect(r.summary_timer.get(), &QTimer::timeout, this, [this] { results_->summary->Refresh(); });
  r.summary_timer->start();

  Setup_Preview();
}

void MyTableController::Queue_Results_Reload() {
  if (results_->reload_queued.exchange(true)) return;
  QMetaObject::invokeMethod(this, "Run_Results_Reload", Qt::QueuedConnection);
}

void MyTableController::Run_Results_Reload() {
  results_->reload_queued = false;
  Reload_Results();
}

void MyTableController::Queue_Scroll_To_End(bool photo) {
  (photo ? results_->scroll_photo : results_->scroll_file) = true;
  QMetaObject::invokeMethod(this, "Run_Scroll_To_End", Qt::QueuedConnection);
}

void MyTableController::Run_Scroll_To_End() {
  const bool photo = results_->scroll_photo.exchange(false);
  const bool file = results_->scroll_file.exchange(false);
  if (!photo && !file) return;
  Reload_Results();
  if (photo) ui->imageBrowser->scrollToBottom();
  if (file) ui->imageBrowser_2->scrollToBottom();
}

void MyTableController::Run_Pictures_Changed() {
  results_->pictures_queued = false;
  results_->model->Pictures_Changed();
}

void MyTableController::Reload_Results() {
  Results_Parts& r = *results_;
  // File-type icons for the video and raw items added since the last time.
  const std::uint64_t generation = images.Generation();
  if (generation != r.icon_generation) {
    r.icon_generation = generation;
    r.icon_rows = 0;
  }
  const std::size_t size = images.size();
  for (std::size_t row = r.icon_rows; row < size; ++row) {
    const auto item = images.At(row);
    if (item && item->image.isNull() && !item->path.isEmpty())
      images.Set_Image({row, generation}, results::File_Type_Icon(item->path));
  }
  r.icon_rows = std::max(r.icon_rows, size);
  r.model->Reload();
  r.summary->Refresh();
  // Also when every new item was a repeat the browser leaves out.
  Update_Counts();
}

void MyTableController::addImageWithData(const QByteArray& bytes, const QString& name,
                                         const QString& uid, quint64 first_sector,
                                         quint64 sector_count) {
  if (bytes.isEmpty()) return;
  auto item = results::MyImageObject::initWithImage_data({}, name, uid);
  item.First_Sector = first_sector;
  item.Sector_Count = sector_count;
  item.thumbnail_pending = true;
  item.picture_size = results::Picture_Size(bytes);
  const auto slot = images.Append(std::move(item));
  // The thumbnail is made on a worker thread and filled in; the item already
  // holds its place in the list.
  const QByteArray placeholder = Null_Image_Data;
  Results_Parts* parts = results_.get();
  // The worker gets bytes of its own, shared with no other thread.
  QByteArray own(bytes.constData(), bytes.size());
  parts->thumbnails->Submit(std::move(own), [this, parts, slot, placeholder](const QByteArray& thumbnail) {
    if (!images.Set_Image_Data(slot, thumbnail.isEmpty() ? placeholder : thumbnail)) return;
    if (parts->pictures_queued.exchange(true)) return;
    QMetaObject::invokeMethod(this, "Run_Pictures_Changed", Qt::QueuedConnection);
  });
  Queue_Results_Reload();
  if (++Image_Count % kPhotoScrollEvery == 0) Queue_Scroll_To_End(true);
}

void MyTableController::addImageWithData_2(const QString& name, const QString& uid,
                                           quint64 File_Start_Sec, quint64 File_End_Sec) {
  const QString trimmed = name.trimmed();
  if (trimmed.isEmpty()) return;
  auto item = results::MyImageObject::initWithImage({}, trimmed, uid, File_Start_Sec, File_End_Sec);
  item.setPath(trimmed);
  images.Append(std::move(item));
  nsSIGFileInfoDataObject.Count_Item(trimmed.toStdString());
  Queue_Results_Reload();
  if (++Image_Count % kFileScrollEvery == 0) Queue_Scroll_To_End(false);
}

void MyTableController::Clear_Found_Items() {
  images.Clear();
  results_->thumbnails->Drop_Pending();
  results_->reset_mode = Recovery_MODE.load();
  if (QThread::currentThread() == thread())
    Run_Reset_Views();
  else
    QMetaObject::invokeMethod(this, "Run_Reset_Views", Qt::QueuedConnection);
}

// A general pass starts: the photo browser back to its first zoom, or no
// file item previewed.
void MyTableController::Run_Reset_Views() {
  const int mode = results_->reset_mode.exchange(-1);
  if (mode < 0) return;
  if (mode == 0) {
    ui->_zoom_slider->blockSignals(true);
    ui->_zoom_slider->setValue(50);
    ui->_zoom_slider->blockSignals(false);
    imageBrowser_zoom = 0.55;
    const int side = Browser_Icon_Size(imageBrowser_zoom);
    ui->imageBrowser->setIconSize(QSize(side, side));
  } else {
    Prev_Index = 0x7FFFFFFF;
  }
  Reload_Results();
}

void MyTableController::Update_Counts() {
  if (!results_) return;
  const int shown = results_->model->rowCount();
  const int found = results_->model->Items_Seen();
  for (auto [browser, label] : {std::pair{ui->imageBrowser, ui->_photo_count_label},
                                std::pair{ui->imageBrowser_2, ui->_file_count_label}}) {
    const QItemSelectionModel* selection = browser->selectionModel();
    const int selected = selection ? static_cast<int>(selection->selectedIndexes().size()) : 0;
    label->setText(results::Count_Text(shown, found, selected));
  }
}

int MyTableController::Found_Item_Count() const { return static_cast<int>(images.size()); }

void MyTableController::Wait_For_Thumbnails() {
  results_->thumbnails->Wait_Idle();
  QCoreApplication::sendPostedEvents(this);
  Reload_Results();
  results_->model->Pictures_Changed();
}

void MyTableController::Show_Each_File_Once(bool on) {
  Reload_Results();
  results_->model->Set_Show_Once(on);
  // The rows were renumbered and the selection dropped: whatever is selected
  // next is previewed, even at the row last previewed.
  Prev_Index = 0x7FFFFFFF;
}

void MyTableController::zoomSliderDidChange(int value) {
  imageBrowser_zoom = value / 100.0;
  const int side = Browser_Icon_Size(imageBrowser_zoom);
  ui->imageBrowser->setIconSize(QSize(side, side));
  ui->imageBrowser->viewport()->update();
}

void MyTableController::scrollerAction(int action) {
  QScrollBar* scroller = ui->imageBrowser->verticalScrollBar();
  const auto step = results::Scroller_Step(action);
  const int range = scroller->maximum() - scroller->minimum();
  if (!step || range <= 0) return;
  const double value = static_cast<double>(scroller->value() - scroller->minimum()) / range;
  const float moved = static_cast<float>(value + *step);
  // The scroll bar keeps the position inside its range.
  scroller->setSliderPosition(scroller->minimum() +
                              static_cast<int>(std::lround(static_cast<double>(moved) * range)));
}

void MyTableController::imageBrowserSelectionDidChange(QListView* browser) {
  if (browser != ui->imageBrowser_2) return;
  // A selection made while a preview is being made waits for the next change.
  if (session) return;
  const QModelIndexList selected = browser->selectionModel()->selectedIndexes();
  if (selected.isEmpty()) {
    // Nothing selected, nothing previewed; selecting the same item again shows it again.
    Prev_Index = 0x7FFFFFFF;
    Clear_Preview();
    return;
  }
  int first = selected.front().row();
  for (const QModelIndex& index : selected) first = std::min(first, index.row());
  if (first < 0 || static_cast<std::uint32_t>(first) == 0x7FFFFFFFu) return;
  if (static_cast<std::uint32_t>(first) == Prev_Index) return;
  Prev_Index = static_cast<std::uint32_t>(first);

  Clear_Preview();
  const auto item = results_->model->itemAtIndex(first);
  if (!item) return;
  CreateFile_QuickLook_View(item->valueForKey(QStringLiteral("path")).toString(),
                            item->valueForKey(QStringLiteral("File_Start_Sector")).toULongLong(),
                            item->valueForKey(QStringLiteral("File_End_Sector")).toULongLong());
}

}  // namespace tamberlin::ui
