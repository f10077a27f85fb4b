// What the window keeps for its results and preview: the browser and summary
// models, the thumbnail worker and the movie player. Private to
// controller_results.cpp and controller_preview.cpp.
#pragma once

#include <QAbstractItemView>
#include <QMediaPlayer>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <memory>

#include "ui/MyTableController.h"
#include "ui/movie_controls.h"
#include "results/qt/browser_model.h"
#include "results/qt/summary_model.h"
#include "results/qt/thumbnails.h"

namespace tamberlin::ui {

struct MyTableController::Results_Parts {
  QPointer<QAbstractItemView> photo_view, file_view, summary_view;
  std::unique_ptr<results::FoundItemModel> model;
  std::unique_ptr<results::FoundItemDelegate> delegate;
  std::unique_ptr<results::SummaryTableModel> summary;
  std::unique_ptr<QTimer> summary_timer;
  std::unique_ptr<QMediaPlayer> player;
  std::unique_ptr<QObject> movie_clicks;
  std::unique_ptr<MovieControls> movie_controls;
  // The file the preview pane shows as a picture, drawn again to fit when
  // the pane changes size (preview_fit coalesces the resizes).
  QString preview_image;
  QTimer preview_fit;
  QString no_preview_title;  // the pane's title with nothing selected
  // Set while a reload (or a picture update) is queued for the UI thread.
  std::atomic<bool> reload_queued{false};
  std::atomic<bool> pictures_queued{false};
  std::atomic<bool> scroll_photo{false}, scroll_file{false};  // scroll asked for
  std::atomic<int> reset_mode{-1};  // mode of a queued view reset, -1 none
  // Icons are set on the UI thread (icon themes are not thread-safe) for the
  // rows below icon_rows of list generation icon_generation.
  std::size_t icon_rows = 0;
  std::uint64_t icon_generation = 0;
  // Last, so its threads are joined before anything they report to goes.
  std::unique_ptr<results::ThumbnailWorker> thumbnails =
      std::make_unique<results::ThumbnailWorker>();

  ~Results_Parts() {
    thumbnails.reset();
    // The views outlive these models; leave them with none.
    for (QAbstractItemView* view : {photo_view.data(), file_view.data(), summary_view.data()}) {
      if (view) view->setModel(nullptr);
    }
  }
};

}  // namespace tamberlin::ui
