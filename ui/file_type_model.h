// The file type list of video and raw-file mode (idCheckTableView): one row
// per type with its check box. Columns are identified by the record keys.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <vector>

#include "engine/type_selection.h"

namespace tamberlin::ui {

class FileTypeTableModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kState = 0, kExtension = 1, kDescription = 2, kColumnCount = 3 };
  // headerData(section, Qt::Horizontal, kColumnIdentifierRole): "State",
  // "Extension" or "Description".
  static constexpr int kColumnIdentifierRole = Qt::UserRole + 1;

  using QAbstractTableModel::QAbstractTableModel;

  std::vector<ExtensionListRecord>& Records() { return records_; }
  const std::vector<ExtensionListRecord>& Records() const { return records_; }
  void Set_Records(std::vector<ExtensionListRecord> records);
  // Every row's State at once (select all / none); the order stays.
  void Set_All_States(bool state);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  // Any column sorts by Extension, compared case-insensitively; equal keys keep
  // their order.
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

 private:
  std::vector<ExtensionListRecord> records_;
  Qt::SortOrder order_ = Qt::AscendingOrder;
};

}  // namespace tamberlin::ui
