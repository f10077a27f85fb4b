// The file type list of video and raw-file mode.
#include <QCheckBox>
#include <QHeaderView>

#include "MyTableController.h"
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
  table->setSortingEnabled(true);
}

// The scans read the box themselves when a pass ends.
void MyTableController::Thro_Mode_Chk_SIG_Btn() { (void)ui->_Thro_Mode_Chk_SIG->isChecked(); }

}  // namespace tamberlin::ui
