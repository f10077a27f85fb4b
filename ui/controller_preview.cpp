// Extraction and preview of a found item: its sectors are copied from the
// medium (opened read-only) into the preview file, which the preview area then
// shows as a movie, a thumbnail or the file-type icon. Everything here runs on
// the UI thread; the scan thread only hands its end over through `session`.
#include <QAudioOutput>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMediaPlayer>
#include <QPixmap>
#include <QSizePolicy>
#include <QTimer>
#include <QUrl>
#include <QVideoWidget>
#include <cmath>
#include <functional>

#include "ui/MyTableController.h"
#include "results/qt/file_type_icons.h"
#include "results/qt/preview_extract.h"
#include "results/qt/preview_media.h"
#include "ui/movie_controls.h"
#include "ui/results_parts.h"
#include "ui_MyTableController.h"

namespace tamberlin::ui {

namespace {

// A click on the movie plays or pauses it: the video view has no controls.
class Click_To_Play final : public QObject {
 public:
  Click_To_Play(QMediaPlayer* player, QObject* parent) : QObject(parent), player_(player) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonRelease && !player_->source().isEmpty()) {
      if (player_->playbackState() == QMediaPlayer::PlayingState)
        player_->pause();
      else
        player_->play();
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QMediaPlayer* player_;
};

constexpr const char* kNoMediumMessage = "\nNo medium is selected to read the file from.";
constexpr const char* kReadMessage = "\nThe selected file could not be read from the medium.";
constexpr const char* kWriteMessage = "\nThe preview file could not be written.";

// Tells `on_resize` when the watched widget changes size.
class Resize_Watcher final : public QObject {
 public:
  Resize_Watcher(QObject* watched, std::function<void()> on_resize)
      : QObject(watched), on_resize_(std::move(on_resize)) {
    watched->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Resize) on_resize_();
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> on_resize_;
};

}  // namespace

void MyTableController::Setup_Preview() {
  Results_Parts& r = *results_;
  r.no_preview_title = ui->_QuickLook_View_Box->title();
  ui->mMovieView->hide();
  ui->_movie_controls->hide();
  ui->_preview_note->hide();
  // The pane sets the picture's size, not the other way round.
  ui->_QuickLook_View->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  r.preview_fit.setSingleShot(true);
  r.preview_fit.setInterval(60);
  connect(&r.preview_fit, &QTimer::timeout, this, [this] {
    if (!results_->preview_image.isEmpty() && ui->_QuickLook_View->isVisible())
      Show_Picture(results_->preview_image);
  });
  new Resize_Watcher(ui->_QuickLook_View, [weak = std::weak_ptr<Results_Parts>(results_)] {
    if (const auto parts = weak.lock()) parts->preview_fit.start();
  });
}

void MyTableController::Clear_Preview() {
  closemovie_Win();
  ui->mMovieView->hide();
  ui->_movie_controls->hide();
  ui->_QuickLook_View->clear();
  ui->_QuickLook_View->show();
  MovieControls::Set_Note(ui->_preview_note, {});
  results_->preview_image.clear();
  ui->_QuickLook_View_Box->setTitle(results_->no_preview_title);
  ui->_QuickLook_View_Box->setToolTip({});
}

QMediaPlayer* MyTableController::Movie() const {
  // Made on first use: the player brings up the sound system and GStreamer,
  // which a photo search never needs.
  Results_Parts& r = *results_;
  if (!r.player) {
    r.player = std::make_unique<QMediaPlayer>();
    r.player->setAudioOutput(new QAudioOutput(r.player.get()));
    r.player->setVideoOutput(ui->mMovieView);
    r.movie_clicks = std::make_unique<Click_To_Play>(r.player.get(), nullptr);
    ui->mMovieView->installEventFilter(r.movie_clicks.get());
    ui->mMovieView->setToolTip(tr("Click to play or pause"));
    r.movie_controls = std::make_unique<MovieControls>(
        r.player.get(), MovieControls::Widgets{ui->_movie_controls, ui->_movie_play_btn, ui->_movie_position,
                                               ui->_movie_time, ui->_preview_note});
  }
  return r.player.get();
}

void MyTableController::CreateFile_QuickLook_View(const QString& path, quint64 File_Start_Sec,
                                                  quint64 File_End_Sec) {
  // The sheet stays up, and `session` tells the scan thread, until the end.
  session.store(kSessionOpen);
  Begin_Sheet(ClearPreview_Window);

  QString failure;
  QString reason;
  results::ExtractResult copied;
  const QString identifier = ui->_disk_identifier->text().trimmed();
  std::unique_ptr<SectorSource> medium;
  bool medium_opened = false;
  if (identifier.isEmpty()) {
    failure = QString::fromUtf8(kNoMediumMessage);
  } else {
    std::string why;
    medium = Scanned_Medium(preview_source_opener)(Device_Path(identifier.toStdString()), &why);
    if (!medium) {
      failure = QString::fromUtf8(kReadMessage);
      reason = QString::fromStdString(why);
    }
  }
  if (medium) {
    medium_opened = true;
    // At most one preview file at a time.
    if (!Preview_File.isEmpty() && QFileInfo(Preview_File).isFile()) QFile::remove(Preview_File);
    QDir().mkpath(preview_dir_);
    Preview_File = results::Preview_File_Name(preview_dir_, path);
    copied = results::Extract_Sectors(
        *medium, File_Start_Sec, File_End_Sec, Preview_File,
        [this] { return stop_now.load() == 1 || session.load() == kScanEndHandedOver; },
        // Long copies keep the window drawn and the browsers filling; the
        // sheet keeps the user's input away.
        [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
    medium.reset();
    if (!copied.file_opened || copied.write_failed) {
      failure = QString::fromUtf8(kWriteMessage);
      reason = QDir::toNativeSeparators(Preview_File) + QStringLiteral(": ") + copied.file_error;
    }
  }

  if (!medium_opened) {
    // Nothing of this item was copied: show its type, never the last preview.
    Show_Type_Icon(QFileInfo(path).fileName());
  } else {
    QuickLook_Preview_Thread(path);
  }
  ui->_QuickLook_View_Box->setToolTip(
      copied.unreadable_sectors == 0
          ? QString()
          : tr("%n sector(s) of this file could not be read and are shown as zeros.", nullptr,
               static_cast<int>(std::min<std::uint64_t>(copied.unreadable_sectors, INT32_MAX))));

  End_Sheet(ClearPreview_Window);
  // Either the scan ended while the copy ran and left its end-of-scan screen
  // to us, or from now on it sees no sheet and shows the screen itself.
  const bool scan_end_is_ours = session.exchange(kNoSession) == kScanEndHandedOver;
  if (!failure.isEmpty()) Show_Alert(this, failure, reason);
  if (scan_end_is_ours) Final_or_Stop_Screen();
}

void MyTableController::QuickLook_Preview_Thread(const QString& path) {
  setQuickLook_View(Preview_File, QFileInfo(path).fileName());
}

void MyTableController::setQuickLook_View(const QString& file, const QString& file_Name) {
  if (file_Name.isNull()) return;
  if (Recovery_MODE.load() == 1) {
    ui->_QuickLook_View_Box->setTitle(file_Name);
    QString why;
    if (!file.isEmpty() && results::Load_Movie(*Movie(), file, &why)) {
      results_->preview_image.clear();
      ui->_QuickLook_View->hide();
      ui->mMovieView->show();
      results_->movie_controls->Show(true);
      return;
    }
    Image_Preview(file, file_Name);
    if (!file.isEmpty()) MovieControls::Set_Note(ui->_preview_note, MovieControls::Cannot_Play(why));
    return;
  }
  Image_Preview(file, file_Name);
}

void MyTableController::Image_Preview(const QString& file, const QString& file_Name) {
  if (file.isEmpty()) return;
  ui->mMovieView->hide();
  ui->_movie_controls->hide();
  ui->_QuickLook_View->show();
  if (Show_Picture(file)) {
    ui->_QuickLook_View_Box->setTitle(file_Name);
    results_->preview_image = file;
    return;
  }
  Show_Type_Icon(file_Name.isEmpty() ? QFileInfo(file).fileName() : file_Name);
}

bool MyTableController::Show_Picture(const QString& file) {
  QLabel* view = ui->_QuickLook_View;
  const qreal dpr = view->devicePixelRatioF();
  const QSize box = (QSizeF(view->contentsRect().size()) * dpr).toSize();
  const QImage picture = results::Preview_Image(file, box);
  if (picture.isNull()) return false;
  QPixmap pixmap = QPixmap::fromImage(picture);
  pixmap.setDevicePixelRatio(dpr);
  view->setPixmap(pixmap);
  return true;
}

void MyTableController::Show_Type_Icon(const QString& file_Name) {
  results_->preview_image.clear();
  ui->mMovieView->hide();
  ui->_movie_controls->hide();
  ui->_QuickLook_View->show();
  ui->_QuickLook_View_Box->setTitle(file_Name);
  const QIcon icon = results::File_Type_Icon(file_Name);
  const QPixmap pixmap =
      icon.isNull() ? QPixmap() : icon.pixmap(QSize(results::kPreviewSide, results::kPreviewSide));
  if (pixmap.isNull())
    ui->_QuickLook_View->clear();
  else
    ui->_QuickLook_View->setPixmap(pixmap);
}

void MyTableController::closemovie_Win() {
  QMediaPlayer* movie = results_->player.get();
  if (!movie) return;  // no movie was ever shown
  stopPlayingMovie(movie);
  movie->setSource(QUrl());
}

void MyTableController::stopPlayingMovie(QMediaPlayer* movie) {
  if (isPlaying(movie)) movie->stop();
}

bool MyTableController::isPlaying(const QMediaPlayer* movie) {
  if (!movie) return false;
  const double rate =
      movie->playbackState() == QMediaPlayer::PlayingState ? movie->playbackRate() : 0.0;
  return !(rate == 0.0);  // a rate that is not a number counts as playing
}

}  // namespace tamberlin::ui
