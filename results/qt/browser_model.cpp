#include "results/qt/browser_model.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QPixmapCache>

#include "results/qt/item_text.h"

namespace tamberlin::results {

std::optional<double> Scroller_Step(int action) {
  switch (action) {
    case QAbstractSlider::SliderPageStepSub: return -0.2;
    case QAbstractSlider::SliderPageStepAdd: return 0.2;
    case QAbstractSlider::SliderSingleStepSub: return -0.05;
    case QAbstractSlider::SliderSingleStepAdd: return 0.05;
    default: return std::nullopt;
  }
}

bool First_At_Sector::Admit(const MyImageObject& item) {
  const auto start = item.Medium_Start();
  return !start || claimed_.insert(*start).second;
}

FoundItemModel::FoundItemModel(const FoundItemList& items, std::function<int()> mode,
                               QObject* parent)
    : QAbstractListModel(parent), items_(items), mode_(std::move(mode)) {
  generation_ = items_.Generation();
}

std::vector<std::size_t> FoundItemModel::Take_New_Rows(std::size_t size) {
  std::vector<std::size_t> rows;
  for (; seen_ < size; ++seen_) {
    const auto item = items_.At(seen_);
    if (!item) break;  // emptied meanwhile: the next Reload resets
    if (!show_once_ || filter_.Admit(*item)) rows.push_back(seen_);
  }
  return rows;
}

void FoundItemModel::Rebuild() {
  shown_.clear();
  seen_ = 0;
  filter_.Clear();
  shown_ = Take_New_Rows(items_.size());
}

int FoundItemModel::Reload() {
  const std::uint64_t generation = items_.Generation();
  const std::size_t size = items_.size();
  if (generation != generation_ || size < seen_) {
    beginResetModel();
    generation_ = generation;
    Rebuild();
    endResetModel();
  } else if (size > seen_) {
    const std::vector<std::size_t> rows = Take_New_Rows(size);
    if (!rows.empty()) {
      const int first = static_cast<int>(shown_.size());
      beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
      shown_.insert(shown_.end(), rows.begin(), rows.end());
      endInsertRows();
    }
  }
  return rowCount();
}

void FoundItemModel::Set_Show_Once(bool on) {
  if (on == show_once_) return;
  beginResetModel();
  show_once_ = on;
  generation_ = items_.Generation();
  Rebuild();
  endResetModel();
}

std::optional<std::size_t> FoundItemModel::List_Row(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= shown_.size()) return std::nullopt;
  return shown_[static_cast<std::size_t>(row)];
}

void FoundItemModel::Pictures_Changed() {
  if (!shown_.empty()) emit dataChanged(index(0), index(rowCount() - 1), {Qt::DecorationRole});
}

std::optional<MyImageObject> FoundItemModel::itemAtIndex(int index) const {
  const auto row = List_Row(index);
  if (!row) return std::nullopt;
  return items_.At(*row);
}

int FoundItemModel::writeItemsAtIndexes(const QModelIndexList&, QMimeData*) const { return 0; }

int FoundItemModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

QVariant FoundItemModel::data(const QModelIndex& index, int role) const {
  const auto item = itemAtIndex(index.row());
  if (!index.isValid() || !item) return {};
  switch (role) {
    case Qt::DisplayRole:
      return item->imageTitle();
    case Qt::ToolTipRole:
      return Item_Tooltip(*item);
    case Qt::DecorationRole: {
      const int mode = mode_();
      if (MyImageObject::imageRepresentationType(mode) == RepresentationType::Image)
        return item->imageRepresentation(mode);
      const QByteArray bytes = item->imageRepresentation(mode).toByteArray();
      if (bytes.isEmpty()) return {};
      // Thumbnails are small JPEGs; keep the decoded ones while they fit.
      const QString key = QStringLiteral("tamberlin-thumb-%1-%2")
                              .arg(qHash(bytes))
                              .arg(bytes.size());
      QPixmap pixmap;
      if (!QPixmapCache::find(key, &pixmap)) {
        pixmap = QPixmap::fromImage(QImage::fromData(bytes));
        if (!pixmap.isNull()) QPixmapCache::insert(key, pixmap);
      }
      if (pixmap.isNull()) return {};
      return pixmap;
    }
    case kItemRole:
      return QVariant::fromValue(*item);
    default:
      return {};
  }
}

Qt::ItemFlags FoundItemModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

QMimeData* FoundItemModel::mimeData(const QModelIndexList&) const { return nullptr; }

namespace {
constexpr int kPadding = 4;
}

QSize FoundItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
  QSize icon = option.decorationSize;
  if (const auto* view = qobject_cast<const QAbstractItemView*>(option.widget))
    icon = view->iconSize();
  const int text = option.fontMetrics.height() * 2;
  // Wide enough for a whole item name even at the smallest zoom, where the
  // icon alone would cut "PDF00001.PDF" down to "P…F".
  const int name = option.fontMetrics.horizontalAdvance(QStringLiteral("DOCX00000.DOCX")) +
                   2 * option.fontMetrics.averageCharWidth();
  return {std::max(icon.width(), name) + 2 * kPadding, icon.height() + text + 3 * kPadding};
}

void FoundItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
  QStyleOptionViewItem opt = option;
  initStyleOption(&opt, index);
  QSize icon_size = opt.decorationSize;
  if (const auto* view = qobject_cast<const QAbstractItemView*>(opt.widget))
    icon_size = view->iconSize();

  painter->save();
  if (opt.state & QStyle::State_Selected)
    painter->fillRect(opt.rect, opt.palette.highlight());

  const QRect icon_rect(opt.rect.left() + (opt.rect.width() - icon_size.width()) / 2,
                        opt.rect.top() + kPadding, icon_size.width(), icon_size.height());
  const QVariant decoration = index.data(Qt::DecorationRole);
  QPixmap picture;
  const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
  if (decoration.canConvert<QIcon>() && decoration.userType() == QMetaType::QIcon) {
    picture = qvariant_cast<QIcon>(decoration).pixmap(icon_size, dpr);
  } else if (decoration.userType() == QMetaType::QPixmap) {
    picture = qvariant_cast<QPixmap>(decoration);
  }
  if (!picture.isNull()) {
    // Scale up as well as down so the picture follows the zoom: once, smoothly,
    // to the pixels it takes on screen, and kept for the next paint.
    const QSize fitted = picture.deviceIndependentSize().toSize().scaled(icon_rect.size(), Qt::KeepAspectRatio);
    const QSize pixels = (QSizeF(fitted) * dpr).toSize();
    if (picture.size() != pixels && !pixels.isEmpty()) {
      const QString key = QStringLiteral("tamberlin-fit-%1-%2x%3")
                              .arg(picture.cacheKey())
                              .arg(pixels.width())
                              .arg(pixels.height());
      QPixmap scaled;
      if (!QPixmapCache::find(key, &scaled)) {
        scaled = picture.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QPixmapCache::insert(key, scaled);
      }
      picture = scaled;
    }
    picture.setDevicePixelRatio(dpr);
    const QRect target(icon_rect.left() + (icon_rect.width() - fitted.width()) / 2,
                       icon_rect.top() + (icon_rect.height() - fitted.height()) / 2,
                       fitted.width(), fitted.height());
    painter->drawPixmap(target.topLeft(), picture);
  } else {
    painter->setPen(opt.palette.color(QPalette::Mid));
    painter->drawRect(icon_rect.adjusted(0, 0, -1, -1));
  }

  const QRect text_rect(opt.rect.left() + kPadding, icon_rect.bottom() + kPadding,
                        opt.rect.width() - 2 * kPadding,
                        opt.rect.bottom() - icon_rect.bottom() - kPadding);
  painter->setPen(opt.palette.color((opt.state & QStyle::State_Selected) ? QPalette::HighlightedText
                                                                         : QPalette::Text));
  const QString title =
      opt.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle,
                                 text_rect.width());
  painter->drawText(text_rect, Qt::AlignHCenter | Qt::AlignTop, title);
  painter->restore();
}

}  // namespace tamberlin::results
