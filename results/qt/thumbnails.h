// Photo thumbnails: a JPEG whose longest side is at most 100 px, decoded from
// the whole image with its orientation applied. Making one from a camera JPEG
// takes about a tenth of a second, so the scan hands the bytes to a
// ThumbnailWorker and carries on reading.
#pragma once

#include <QByteArray>
#include <QSize>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tamberlin::results {

inline constexpr int kThumbnailSide = 100;

// The thumbnail of the first image in `bytes` as JPEG, or empty when the
// bytes do not decode as an image. Transparent parts are laid on white.
// Safe on any thread.
QByteArray Make_Thumbnail(const QByteArray& bytes, int longest_side = kThumbnailSide);

// Width and height of the first image in `bytes` as shown (orientation
// applied), from its header alone; invalid when the header does not say.
// Safe on any thread.
QSize Picture_Size(const QByteArray& bytes);

// A few threads that turn photo bytes into thumbnails, oldest first.
class ThumbnailWorker {
 public:
  // Gets the thumbnail (empty when the bytes did not decode), on a worker thread.
  using Job = std::function<void(const QByteArray& thumbnail)>;

  // `threads` 0 picks one per core, at most 4. `max_pending_bytes` bounds the
  // photo bytes waiting in the queue; Submit waits for room beyond it, so a
  // slow machine cannot run out of memory on a card full of large photos.
  explicit ThumbnailWorker(unsigned threads = 0, std::size_t max_pending_bytes = 512u << 20);
  ~ThumbnailWorker();  // drops what is still queued, finishes what runs, joins
  ThumbnailWorker(const ThumbnailWorker&) = delete;
  ThumbnailWorker& operator=(const ThumbnailWorker&) = delete;

  void Submit(QByteArray bytes, Job done);
  // Forgets the queued jobs (the list they were for has been emptied).
  void Drop_Pending();
  // Returns once nothing is queued or running.
  void Wait_Idle();

 private:
  struct Task {
    QByteArray bytes;
    Job done;
  };
  void Run();

  std::mutex mutex_;
  std::condition_variable work_;   // a task arrived or stopping
  std::condition_variable room_;   // pending bytes went down
  std::condition_variable idle_;   // queue empty and nothing running
  std::deque<Task> queue_;
  std::size_t pending_bytes_ = 0;
  std::size_t max_pending_bytes_;
  unsigned running_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace tamberlin::results
