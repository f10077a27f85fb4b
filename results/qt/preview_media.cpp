#include "results/qt/preview_media.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImageReader>
#include <QMediaPlayer>
#include <QMimeDatabase>
#include <QPainter>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <memory>
#include <poppler-qt6.h>

namespace tamberlin::results {

namespace {

void Quiet_Poppler(const QString&, const QVariant&) {}

QString Tr(const char* text) { return QCoreApplication::translate("Preview", text); }

QImage Pdf_Page(const QString& path, QSize box) {
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
  // The page fills the box at whatever resolution that takes; nothing is
  // scaled after rendering.
  const double scale = std::min(box.width() / points.width(), box.height() / points.height());
  const double dpi = std::clamp(72.0 * scale, 1.0, 600.0);
  doc->setRenderHint(Poppler::Document::Antialiasing);
  doc->setRenderHint(Poppler::Document::TextAntialiasing);
  doc->setRenderHint(Poppler::Document::TextHinting);
  return page->renderToImage(dpi, dpi);
}

}  // namespace

QImage Preview_Image(const QString& path, QSize box) {
  if (box.isEmpty()) return {};
  static const QMimeDatabase db;
  const QMimeType type = db.mimeTypeForFile(path);
  if (type.inherits(QStringLiteral("application/pdf"))) return Pdf_Page(path, box);
  QImageReader reader(path);
  reader.setAutoTransform(true);
  reader.setDecideFormatFromContent(true);
  QSize full = reader.size();
  // The size is the stored one; a quarter turn swaps what fits.
  const bool turned = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
  if (turned) full.transpose();
  if (full.isValid() && (full.width() > box.width() || full.height() > box.height())) {
    QSize fitted = full.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    if (turned) fitted.transpose();
    // The reader scales while decoding, smoothly and once.
    reader.setScaledSize(fitted);
  }
  return reader.read();
}

bool Load_Movie(QMediaPlayer& player, const QString& path, QString* why, int timeout_ms) {
  static const QMimeDatabase db;
  const QMimeType type = db.mimeTypeForFile(path);
  if (!type.name().startsWith(QLatin1String("video/"))) {
    player.setSource(QUrl());
    if (why) *why = Tr("its contents are not a movie (they look like: %1).").arg(type.comment());
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
  if (why && !movie) {
    if (player.error() != QMediaPlayer::NoError && !player.errorString().isEmpty())
      *why = player.errorString();
    else if (player.mediaStatus() == QMediaPlayer::InvalidMedia)
      *why = Tr("the movie player cannot read this file.");
    else if (player.mediaStatus() == QMediaPlayer::LoadingMedia || player.mediaStatus() == QMediaPlayer::NoMedia)
      *why = Tr("the movie player did not open it within %1 seconds.").arg(timeout_ms / 1000);
    else if (!player.hasVideo())
      *why = Tr("the file holds no picture stream.");
    else
      *why = Tr("the file does not say how long it runs.");
  }
  if (!movie) player.setSource(QUrl());
  return movie;
}

}  // namespace tamberlin::results
