#include "results/qt/summary_model.h"

#include <QtGlobal>

namespace tamberlin::results {

SummaryTableModel::SummaryTableModel(const SignatureList& records, QObject* parent)
    : QAbstractTableModel(parent), records_(records) {
  Refresh();
}

bool SummaryTableModel::Refresh() {
  const std::uint64_t revision = records_.Revision();
  if (revision == revision_) return false;
  std::vector<SignatureListRecord> rows = records_.Snapshot();
  revision_ = revision;
  if (rows.size() != rows_.size()) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
    return true;
  }
  rows_ = std::move(rows);
  if (!rows_.empty())
    emit dataChanged(index(0, 0), index(static_cast<int>(rows_.size()) - 1, kColumnCount - 1),
                     {Qt::DisplayRole});
  return true;
}

std::optional<QString> SummaryTableModel::objectValueForTableColumn(const QString& column,
                                                                     int row) const {
  if (!(row >= 0 && static_cast<std::size_t>(row) < rows_.size())) {
    qWarning("Invalid parameter not satisfying: %s",
             "pRowIndex >= 0 && pRowIndex < [nsSIGFileInfoDataObject count]");
    return std::nullopt;
  }
  const auto value = rows_[static_cast<std::size_t>(row)].Value(column.toStdString());
  if (!value) return std::nullopt;
  return QString::fromStdString(*value);
}

int SummaryTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int SummaryTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant SummaryTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.column() >= kColumnCount) return {};
  if (role == Qt::TextAlignmentRole && index.column() == 1)
    return QVariant(Qt::AlignRight | Qt::AlignVCenter);
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  const auto value =
      objectValueForTableColumn(QString::fromLatin1(kColumns[index.column()]), index.row());
  return value ? QVariant(*value) : QVariant();
}

QVariant SummaryTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case 0: return tr("File Type");
    case 1: return tr("Found");
    case 2: return tr("Latest File");
    default: return {};
  }
}

Qt::ItemFlags SummaryTableModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

}  // namespace tamberlin::results
