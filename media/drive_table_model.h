// The data source of the drive table (idTableView): one row per record of
// nsMutaryOfDataObject, columns identified by "Collumn1" to "Collumn6".
#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "media/MyDataObject.h"

namespace tamberlin::media {

class DriveTableModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  // headerData(section, Qt::Horizontal, kColumnIdentifierRole) gives the
  // column's identifier, "Collumn1" ... "Collumn6".
  static constexpr int kColumnIdentifierRole = Qt::UserRole + 1;

  using QAbstractTableModel::QAbstractTableModel;

  // The records, replaced as a whole by every rebuild.
  const std::vector<MyDataObject>& Records() const { return records_; }
  void Set_Records(std::vector<MyDataObject> records);
  // The record at `row`, or null outside the list.
  const MyDataObject* Record(int row) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  std::vector<MyDataObject> records_;
};

}  // namespace tamberlin::media
