// The file type list of video and raw-file mode: built from the mode's
// catalogue when the user comes forward from the range screen, ticked and
// unticked by the user, and applied to the scan's working header lists and
// the summary records when Next is pressed.
#include <QCheckBox>
#include <QHeaderView>
#include <QModelIndex>
#include <QtGlobal>
#include <algorithm>

#include "ui/MyTableController.h"
#include "engine/type_selection.h"
#include "ui_MyTableController.h"

namespace tamberlin::ui {

void MyTableController::Setup_File_Type_Table() {
  file_type_model_.Set_Records({});
  QTableView* table = ui->idCheckTableView;
  table->setModel(&file_type_model_);
  table->verticalHeader()->hide();
  table->horizontalHeader()->setSectionResizeMode(FileTypeTableModel::kState,
                                                  QHeaderView::ResizeToContents);
  table->horizontalHeader()->setSectionResizeMode(FileTypeTableModel::kExtension,
                                                  QHeaderView::ResizeToContents);
  table->horizontalHeader()->setStretchLastSection(true);
  // The rows keep the program's order (by type, Next builds the summary rows
  // in it); a click on a header must not turn them round.
  table->setSortingEnabled(false);
  // A box toggled from the keyboard reaches the rows without a click.
  connect(&file_type_model_, &QAbstractItemModel::dataChanged, this,
          [this](const QModelIndex& first, const QModelIndex&, const QList<int>& roles) {
            if (first.column() == FileTypeTableModel::kState && roles.contains(Qt::CheckStateRole))
              clickTable(ui->idCheckTableView, first);
          });
}

void MyTableController::Build_File_Type_List() {
  const auto mode = static_cast<RecoveryMode>(Recovery_MODE.load());
  std::vector<ExtensionListRecord> rows =
      tamberlin::Build_Extension_List(catalogue.General(mode), catalogue.Thorough(mode));
  file_type_model_.Set_Records(std::move(rows));
  ui->_select_unselect_Chk->setChecked(true);
  file_type_model_.sort(FileTypeTableModel::kExtension, Qt::AscendingOrder);
}

void MyTableController::Select_Unselect_Check_btn() {
  file_type_model_.Set_All_States(ui->_select_unselect_Chk->isChecked());
}

void MyTableController::clickTable(QObject* sender, const QModelIndex& index) {
  if (sender != ui->idCheckTableView) return;
  if (!index.isValid() || index.column() != FileTypeTableModel::kState) return;
  const auto& rows = file_type_model_.Records();
  const bool all = std::all_of(rows.begin(), rows.end(), [](const ExtensionListRecord& r) { return r.State; });
  ui->_select_unselect_Chk->setChecked(all);
}

bool MyTableController::setObjectValue(const QVariant& value, const QString& column, int row) {
  if (!(row >= 0 && row < file_type_model_.rowCount())) {
    qWarning("MyTableController: Invalid parameter not satisfying: %s",
             "pRowIndex >= 0 && pRowIndex < [nsCheckedListDataObject count]");
    return false;
  }
  int section = -1;
  for (int c = 0; c < FileTypeTableModel::kColumnCount; ++c) {
    if (file_type_model_.headerData(c, Qt::Horizontal, FileTypeTableModel::kColumnIdentifierRole).toString() ==
        column)
      section = c;
  }
  if (section != FileTypeTableModel::kState) return false;  // only the boxes can be changed
  const bool on = value.typeId() == QMetaType::Bool ? value.toBool() : value.toInt() != 0;
  return file_type_model_.setData(file_type_model_.index(row, section), on ? Qt::Checked : Qt::Unchecked,
                                  Qt::CheckStateRole);
}

bool MyTableController::Apply_File_Type_Selection() {
  const auto mode = static_cast<RecoveryMode>(Recovery_MODE.load());
  const AppliedSelection applied =
      Apply_Selection(file_type_model_.Records(), catalogue.General(mode), catalogue.Thorough(mode));
  CheckListHeader_Array = applied.lists.CheckListHeader_Array;
  CheckListHeader_Adv_Array = applied.lists.CheckListHeader_Adv_Array;
  nsSIGFileInfoDataObject.Clear();
  for (const std::string& type : applied.ticked_types)
    nsSIGFileInfoDataObject.createSignatureListTableRecord(type, 0, "", "", type);
  return Check_For_One_Extension_Selection(file_type_model_.Records());
}

}  // namespace tamberlin::ui
