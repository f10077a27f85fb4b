#include "media/drive_table_model.h"

namespace tamberlin::media {
namespace {

const char* const kTitles[kDriveColumnCount] = {"Device", "Volume", "File System",
                                                "Size", "Parent Disk", "Sectors"};

}  // namespace

void DriveTableModel::Set_Records(std::vector<MyDataObject> records) {
  beginResetModel();
  records_ = std::move(records);
  endResetModel();
}

const MyDataObject* DriveTableModel::Record(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= records_.size()) return nullptr;
  return &records_[static_cast<std::size_t>(row)];
}

int DriveTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(records_.size());
}

int DriveTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kDriveColumnCount;
}

QVariant DriveTableModel::data(const QModelIndex& index, int role) const {
  const MyDataObject* record = Record(index.row());
  if (!record || index.column() < 0 || index.column() >= kDriveColumnCount) return {};
  const QString identifier = Column_Identifier(index.column());
  switch (role) {
    case Qt::DisplayRole:
      return record->Column_Value(identifier);
    case Qt::ToolTipRole:
      return index.column() == 0 ? QVariant(record->nsStrDiskIdentifier) : QVariant();
    case Qt::TextAlignmentRole:
      if (identifier == u"Collumn4" || identifier == u"Collumn6")
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
      return {};
    default:
      return {};
  }
}

QVariant DriveTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kDriveColumnCount) return {};
  if (role == Qt::DisplayRole) return QString::fromLatin1(kTitles[section]);
  if (role == kColumnIdentifierRole) return Column_Identifier(section);
  return {};
}

}  // namespace tamberlin::media
