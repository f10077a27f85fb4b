// The two browsers' view of the found items: a list model over the window's
// FoundItemList, and a delegate that draws each item's picture at the view's
// icon size (thumbnails and icons grow with the zoom, not only shrink).
//
// The model keeps its own rows and catches up with the list in Reload, so a
// view never sees rows the model has not announced even while the scan
// thread appends. Items are never moved, dragged out or edited.
//
// With "show each file once" on, the model leaves out an item that starts at
// the sector of an item found before it (the thorough pass finding a general
// pass's picture again, or a second type claiming the same header). Its rows
// are then not the list's rows: List_Row and itemAtIndex map them back.
#pragma once

#include <QAbstractListModel>
#include <QStyledItemDelegate>
#include <cstddef>
#include <functional>
#include <optional>
#include <unordered_set>
#include <vector>

#include "results/qt/found_items.h"

namespace tamberlin::results {

// How far a hit on the photo browser's scroller moves it, as a fraction of
// the scroll range: pages 0.2, lines 0.05; nothing for the knob or the slot.
// `action` is a QAbstractSlider::SliderAction.
std::optional<double> Scroller_Step(int action);

// Admits the first item found at each start sector and turns away any later
// one there; items that cover no sectors are always admitted.
class First_At_Sector {
 public:
  bool Admit(const MyImageObject& item);
  void Clear() { claimed_.clear(); }

 private:
  std::unordered_set<std::uint64_t> claimed_;
};

class FoundItemModel final : public QAbstractListModel {
  Q_OBJECT

 public:
  // `mode` gives Recovery_MODE; it is asked at every call, so switching
  // modes changes what every item shows.
  FoundItemModel(const FoundItemList& items, std::function<int()> mode, QObject* parent = nullptr);

  // Brings the rows in step with the list: new rows are inserted, an emptied
  // list resets the model. Returns the row count afterwards.
  int Reload();
  // Shows each file once (true, the default) or every item as found. The
  // model is reset: views lose their selection.
  void Set_Show_Once(bool on);
  bool Show_Once() const { return show_once_; }
  // The list row behind a model row, or none outside the model.
  std::optional<std::size_t> List_Row(int row) const;
  // The list items the rows were drawn from so far (all of them after a
  // Reload, whether shown or left out).
  int Items_Seen() const { return static_cast<int>(seen_); }
  // Pictures may have changed (thumbnails filled in, icons set).
  void Pictures_Changed();

  // What a browser asks of its data source.
  int numberOfItemsInImageBrowser() const { return rowCount(); }
  std::optional<MyImageObject> itemAtIndex(int index) const;
  // Dragging out writes nothing: always 0.
  int writeItemsAtIndexes(const QModelIndexList& indexes, QMimeData* pasteboard) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  Qt::DropActions supportedDragActions() const override { return Qt::IgnoreAction; }

  // The found item itself, as a QVariant holding a MyImageObject.
  static constexpr int kItemRole = Qt::UserRole + 1;

 private:
  const FoundItemList& items_;
  std::function<int()> mode_;
  // Looks at list rows from seen_ on; returns the ones to show.
  std::vector<std::size_t> Take_New_Rows(std::size_t size);
  void Rebuild();

  bool show_once_ = true;
  std::vector<std::size_t> shown_;  // list row of each model row
  std::size_t seen_ = 0;            // list rows looked at so far
  First_At_Sector filter_;
  std::uint64_t generation_ = 0;
};

// Draws the picture scaled to fit the view's icon size, keeping its aspect,
// with the title beneath it.
class FoundItemDelegate final : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace tamberlin::results

Q_DECLARE_METATYPE(tamberlin::results::MyImageObject)
