// The summary table (idSigTableView): one row per chosen file type with its
// count so far and the name of the latest item. The model shows a copy of
// the records taken on the UI thread in Refresh, which a timer calls while a
// scan counts on its own thread. Read-only.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <optional>
#include <vector>

#include "results/summary_records.h"

namespace tamberlin::results {

class SummaryTableModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  // Column identifiers are record keys.
  static constexpr const char* kColumns[] = {"FileTypes", "NoOfFile", "FileName"};
  static constexpr int kColumnCount = 3;

  explicit SummaryTableModel(const SignatureList& records, QObject* parent = nullptr);

  // Takes a new copy when the records changed since the last one; rows that
  // only changed their values are updated in place. True when anything changed.
  bool Refresh();

  // The value of row `row` under the column identifier. A row outside the
  // table is reported as a failed check and gives nothing.
  std::optional<QString> objectValueForTableColumn(const QString& column, int row) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex&, const QVariant&, int) override { return false; }

 private:
  const SignatureList& records_;
  std::vector<SignatureListRecord> rows_;
  std::uint64_t revision_ = ~std::uint64_t{0};
};

}  // namespace tamberlin::results
