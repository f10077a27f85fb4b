// The two browsers' view of the found items: a list model over the window's
// FoundItemList, and a delegate that draws each item's picture at the view's
// icon size (thumbnails and icons grow with the zoom, not only shrink).
//
// The model keeps its own row count and catches up with the list in Reload,
// so a view never sees rows the model has not announced even while the scan
// thread appends. Items are never moved, dragged out or edited.
#pragma once

#include <QAbstractListModel>
#include <QStyledItemDelegate>
#include <functional>
#include <optional>

#include "found_items.h"

namespace tamberlin::results {

// How far a hit on the photo browser's scroller moves it, as a fraction of
// the scroll range: pages 0.2, lines 0.05; nothing for the knob or the slot.
// `action` is a QAbstractSlider::SliderAction.
std::optional<double> Scroller_Step(int action);

class FoundItemModel final : public QAbstractListModel {
  Q_OBJECT

 public:
  // `mode` gives Recovery_MODE; it is asked at every call, so switching
  // modes changes what every item shows.
  FoundItemModel(const FoundItemList& items, std::function<int()> mode, QObject* parent = nullptr);

  // Brings the rows in step with the list: new rows are inserted, an emptied
  // list resets the model. Returns the row count afterwards.
  int Reload();
  // Pictures may have changed (thumbnails filled in, icons set).
  void Pictures_Changed();

  // What a browser asks of its data source.
  int numberOfItemsInImageBrowser() const { return rows_; }
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
  int rows_ = 0;
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
