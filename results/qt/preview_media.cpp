#include "results/qt/preview_media.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QImageReader>
#include <QMediaPlayer>
#include <QMimeDatabase>
#include <QPainter>
#include <QTimer>
#include <QUrl>
#include <memory>
#include <poppler-qt6.h>

namespace tamberlin::results {

namespace {

void Quiet_Poppler(const QString&, const QVariant&) {}

QImage Pdf_Thumbnail(const QString& path, int side) {
  static const bool quiet = [] {
    Poppler::setDebugErrorFunction(&Quiet_Poppler, QVariant());
    return true;
  }();
  (void)quiet;
  std::unique_ptr<Poppler::Document> doc = Poppler::Document::load(path);
  if (!doc || doc->isLocked() || doc->numPages() < 1) return {};
  std::unique_ptr<Poppler::Page> page = doc->page(0);
  if (!page) return {};
  const QSizeF points = page->pageSizeF();
  if (points.width() <= 0 || points.height() <= 0) return {};
  const double dpi = 72.0 * side / std::max(points.width(), points.height());
  doc->setRenderHint(Poppler::Document::Antialiasing);
  doc->setRenderHint(Poppler::Document::TextAntialiasing);
  QImage image = page->renderToImage(dpi, dpi);
  if (image.isNull()) return {};
  if (image.width() > side || image.height() > side)
    image = image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  return image;
}

}  // namespace

QImage Preview_Thumbnail(const QString& path, int side) {
  static const QMimeDatabase db;
  const QMimeType type = db.mimeTypeForFile(path);
  if (type.inherits(QStringLiteral("application/pdf"))) return Pdf_Thumbnail(path, side);
  QImageReader reader(path);
  reader.setAutoTransform(true);
  reader.setDecideFormatFromContent(true);
  const QSize full = reader.size();
  if (full.isValid() && (full.width() > side || full.height() > side))
    reader.setScaledSize(full.scaled(side, side, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
  QImage image = reader.read();
  if (image.isNull()) return {};
  if (image.width() > side || image.height() > side)
    image = image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  return image;
}

bool Load_Movie(QMediaPlayer& player, const QString& path, int timeout_ms) {
  static const QMimeDatabase db;
  if (!db.mimeTypeForFile(path).name().startsWith(QLatin1String("video/"))) {
    player.setSource(QUrl());
    return false;
  }
  QEventLoop loop;
  QTimer deadline;
  deadline.setSingleShot(true);
  auto settled = [&player] {
    const auto status = player.mediaStatus();
    return status == QMediaPlayer::InvalidMedia ||
           ((status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::BufferedMedia) &&
            (!player.hasVideo() || player.duration() > 0));
  };
  const auto check = [&] {
    if (settled()) loop.quit();
  };
  const auto c1 = QObject::connect(&player, &QMediaPlayer::mediaStatusChanged, &loop, check);
  const auto c2 = QObject::connect(&player, &QMediaPlayer::durationChanged, &loop, check);
  const auto c3 = QObject::connect(&player, &QMediaPlayer::hasVideoChanged, &loop, check);
  const auto c4 = QObject::connect(&player, &QMediaPlayer::errorOccurred, &loop, &QEventLoop::quit);
  QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
  player.setSource(QUrl());
  player.setSource(QUrl::fromLocalFile(path));
  if (!settled() && player.error() == QMediaPlayer::NoError) {
    deadline.start(timeout_ms);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
  }
  QObject::disconnect(c1);
  QObject::disconnect(c2);
  QObject::disconnect(c3);
  QObject::disconnect(c4);
  const bool movie = player.error() == QMediaPlayer::NoError &&
                     player.mediaStatus() != QMediaPlayer::InvalidMedia && player.hasVideo() &&
                     player.duration() > 0;
  if (!movie) player.setSource(QUrl());
  return movie;
}

}  // namespace tamberlin::results
