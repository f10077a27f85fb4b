#include "results/qt/thumbnails.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <algorithm>

namespace tamberlin::results {

QByteArray Make_Thumbnail(const QByteArray& bytes, int longest_side) {
  if (bytes.isEmpty()) return {};
  QBuffer buffer;
  buffer.setData(bytes);
  if (!buffer.open(QIODevice::ReadOnly)) return {};
  QImageReader reader(&buffer);
  reader.setAutoTransform(true);  // EXIF orientation
  reader.setDecideFormatFromContent(true);
  const QSize full = reader.size();
  if (full.isValid() && (full.width() > longest_side || full.height() > longest_side)) {
    // Lets the JPEG decoder scale while decoding, which is what keeps a
    // camera photo cheap; the size is taken before the rotation, whose
    // longest side is the same.
    reader.setScaledSize(full.scaled(longest_side, longest_side, Qt::KeepAspectRatio)
                             .expandedTo(QSize(1, 1)));
  }
  QImage image = reader.read();
  if (image.isNull()) return {};
  if (image.width() > longest_side || image.height() > longest_side)
    image = image.scaled(longest_side, longest_side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  if (image.hasAlphaChannel()) {
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, image);
    painter.end();
    image = flat;
  }
  QByteArray jpeg;
  QBuffer out(&jpeg);
  out.open(QIODevice::WriteOnly);
  if (!image.save(&out, "JPEG")) return {};
  return jpeg;
}

QSize Picture_Size(const QByteArray& bytes) {
  QBuffer buffer;
  buffer.setData(bytes);
  if (bytes.isEmpty() || !buffer.open(QIODevice::ReadOnly)) return {};
  QImageReader reader(&buffer);
  reader.setDecideFormatFromContent(true);
  const QSize size = reader.size();
  if (!size.isValid()) return {};
  return reader.transformation().testFlag(QImageIOHandler::TransformationRotate90) ? size.transposed() : size;
}

ThumbnailWorker::ThumbnailWorker(unsigned threads, std::size_t max_pending_bytes)
    : max_pending_bytes_(max_pending_bytes) {
  if (threads == 0) threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
  for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Run(); });
}

ThumbnailWorker::~ThumbnailWorker() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    queue_.clear();
    pending_bytes_ = 0;
  }
  work_.notify_all();
  room_.notify_all();
  for (auto& t : threads_) t.join();
}

void ThumbnailWorker::Submit(QByteArray bytes, Job done) {
  std::unique_lock lock(mutex_);
  const std::size_t size = static_cast<std::size_t>(bytes.size());
  // One oversized photo is still taken when nothing else waits.
  room_.wait(lock, [&] {
    return stopping_ || pending_bytes_ == 0 || pending_bytes_ + size <= max_pending_bytes_;
  });
  if (stopping_) return;
  pending_bytes_ += size;
  queue_.push_back({std::move(bytes), std::move(done)});
  lock.unlock();
  work_.notify_one();
}

void ThumbnailWorker::Drop_Pending() {
  {
    std::lock_guard lock(mutex_);
    queue_.clear();
    pending_bytes_ = 0;
  }
  room_.notify_all();
  idle_.notify_all();
}

void ThumbnailWorker::Wait_Idle() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [&] { return queue_.empty() && running_ == 0; });
}

void ThumbnailWorker::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    work_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    Task task = std::move(queue_.front());
    queue_.pop_front();
    pending_bytes_ -= static_cast<std::size_t>(task.bytes.size());
    ++running_;
    lock.unlock();
    room_.notify_all();
    const QByteArray thumbnail = Make_Thumbnail(task.bytes);
    // Released by assignment rather than clear(): the reference count then
    // drops in inline code the thread sanitizer sees, so the caller's copy
    // and this one are known to be ordered.
    task.bytes = QByteArray();
    task.done(thumbnail);
    lock.lock();
    --running_;
    if (queue_.empty() && running_ == 0) idle_.notify_all();
  }
}

}  // namespace tamberlin::results
