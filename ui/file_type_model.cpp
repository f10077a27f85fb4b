#include "ui/file_type_model.h"

#include <algorithm>

namespace tamberlin::ui {

void FileTypeTableModel::Set_Records(std::vector<ExtensionListRecord> records) {
  beginResetModel();
  records_ = std::move(records);
  endResetModel();
}

void FileTypeTableModel::Set_All_States(bool state) {
  if (records_.empty()) return;
  for (ExtensionListRecord& r : records_) r.State = state;
  emit dataChanged(index(0, kState), index(rowCount() - 1, kState), {Qt::CheckStateRole});
}

int FileTypeTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(records_.size());
}

int FileTypeTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant FileTypeTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() < 0 || index.row() >= rowCount()) return {};
  const ExtensionListRecord& r = records_[static_cast<std::size_t>(index.row())];
  if (index.column() == kState && role == Qt::CheckStateRole)
    return r.State ? Qt::Checked : Qt::Unchecked;
  if (role != Qt::DisplayRole) return {};
  if (index.column() == kExtension) return QString::fromStdString(r.Extension);
  if (index.column() == kDescription) return QString::fromStdString(r.Description);
  return {};
}

bool FileTypeTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.row() < 0 || index.row() >= rowCount()) return false;
  if (index.column() != kState || role != Qt::CheckStateRole) return false;
  records_[static_cast<std::size_t>(index.row())].State =
      value.value<Qt::CheckState>() == Qt::Checked;
  emit dataChanged(index, index, {Qt::CheckStateRole});
  return true;
}

Qt::ItemFlags FileTypeTableModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.isValid() && index.column() == kState) f |= Qt::ItemIsUserCheckable;
  return f;
}

QVariant FileTypeTableModel::headerData(int section, Qt::Orientation orientation,
                                        int role) const {
  if (orientation != Qt::Horizontal) return {};
  static const char* const kIds[kColumnCount] = {"State", "Extension", "Description"};
  static const char* const kTitles[kColumnCount] = {"", "Type", "Description"};
  if (section < 0 || section >= kColumnCount) return {};
  if (role == Qt::DisplayRole) return QString::fromLatin1(kTitles[section]);
  if (role == kColumnIdentifierRole) return QString::fromLatin1(kIds[section]);
  return {};
}

void FileTypeTableModel::sort(int /*column*/, Qt::SortOrder order) {
  order_ = order;
  emit layoutAboutToBeChanged();
  std::stable_sort(records_.begin(), records_.end(),
                   [order](const ExtensionListRecord& a, const ExtensionListRecord& b) {
                     const int c = QString::fromStdString(a.Extension)
                                       .compare(QString::fromStdString(b.Extension), Qt::CaseInsensitive);
                     return order == Qt::AscendingOrder ? c < 0 : c > 0;
                   });
  emit layoutChanged();
}

}  // namespace tamberlin::ui
