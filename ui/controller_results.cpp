// Found items, the two browsers over them, and the summary table. The scan
// thread adds items here; the list and the summary take the change under
// their locks right away and the browsers catch up on the UI thread.
#include <QListView>
#include <QMetaObject>
#include <QTableView>

#include "MyTableController.h"
#include "thumbnails.h"
#include "ui_MyTableController.h"

namespace tamberlin::ui {

struct MyTableController::Results_Parts {
  results::ThumbnailWorker thumbnails;
  // Set while a browser reload is queued for the UI thread, so a fast scan
  // queues one reload per UI-thread turn, not one per item.
  std::atomic<bool> reload_queued{false};
};

void MyTableController::Setup_Results() {
  results_ = std::make_shared<Results_Parts>();
}

namespace {
// Every sixth photo and every fourth video or raw item of a run scrolls its
// browser to the end.
constexpr std::uint64_t kPhotoScrollEvery = 6;
constexpr std::uint64_t kFileScrollEvery = 4;
}  // namespace

void MyTableController::addImageWithData(const QByteArray& bytes, const QString& name,
                                         const QString& uid, quint64 first_sector,
                                         quint64 sector_count) {
  if (bytes.isEmpty()) return;
  auto item = results::MyImageObject::initWithImage_data({}, name, uid);
  item.First_Sector = first_sector;
  item.Sector_Count = sector_count;
  item.thumbnail_pending = true;
  const auto slot = images.Append(std::move(item));
  const QByteArray placeholder = Null_Image_Data;
  results_->thumbnails.Submit(bytes, [this, slot, placeholder](const QByteArray& thumbnail) {
    images.Set_Image_Data(slot, thumbnail.isEmpty() ? placeholder : thumbnail);
    QMetaObject::invokeMethod(this, [this] { /* thumbnails changed */ }, Qt::QueuedConnection);
  });
  const std::uint64_t count = ++Image_Count;
  const bool scroll = count % kPhotoScrollEvery == 0;
  QMetaObject::invokeMethod(this, [this, scroll] { (void)scroll; }, Qt::QueuedConnection);
}

void MyTableController::addImageWithData_2(const QString& name, const QString& uid,
                                           quint64 File_Start_Sec, quint64 File_End_Sec) {
  const QString trimmed = name.trimmed();
  if (trimmed.isEmpty()) return;
  auto item = results::MyImageObject::initWithImage({}, trimmed, uid, File_Start_Sec, File_End_Sec);
  item.setPath(trimmed);
  images.Append(std::move(item));
  nsSIGFileInfoDataObject.Count_Item(trimmed.toStdString());
  const std::uint64_t count = ++Image_Count;
  const bool scroll = count % kFileScrollEvery == 0;
  QMetaObject::invokeMethod(this, [this, scroll] { (void)scroll; }, Qt::QueuedConnection);
}

void MyTableController::Clear_Found_Items() {
  images.Clear();
  if (results_) results_->thumbnails.Drop_Pending();
}

int MyTableController::Found_Item_Count() const { return static_cast<int>(images.size()); }

}  // namespace tamberlin::ui
