// The file type screen of video and raw-file mode: the rows built from the
// mode's catalogue, the select-all box, clicks in the table, the set-value
// operation and the choice applied to the working lists and summary rows.
#include <QCheckBox>

#include "help_texts.h"
#include "window_fixture.h"

using namespace tamberlin;
using namespace tamberlin::ui;
using namespace tamberlin::ui::testing;

namespace {

// Raw catalogue with a duplicate (first description wins), two extensions
// that differ only in case ("doc" has no full stop, so it is not upper-cased),
// and a type in both lists.
void Write_Raw_Catalogue(const QString& dir) {
  Write_File(dir + "/USBRaw.dll", Catalogue_Group(".doc", "D0CF11E0A1B11AE1", "Word document") +
                                      Catalogue_Group(".xls", "D0CF11E0A1B11AE1", "Excel workbook") +
                                      Catalogue_Group("doc", "646F63", "Lower case doc") +
                                      Catalogue_Group(".pdf", "255044462D", "PDF document") +
                                      Catalogue_Group(".doc", "DBA52D00", "Old Word document"));
  Write_File(dir + "/USBRawAdv.dll", Catalogue_Group(".doc", "0D444F43", "Word document again") +
                                         Catalogue_Group(".zip", "504B0304", "ZIP archive") +
                                         Catalogue_Group("abc", "616263", "Thorough only"));
}

struct Row {
  QString ext, description, thoro;
};

QStringList Types_Of(const StringList& records) {
  QStringList out;
  for (std::size_t i = 0; i + kRecordWidth <= records.size(); i += kRecordWidth)
    out << QString::fromStdString(records[i]);
  return out;
}

// A window on the file type screen in raw-file mode (2) or video mode (1).
struct On_File_Types : Window_Fixture {
  explicit On_File_Types(int mode) {
    Write_Raw_Catalogue(data.path());
    window->catalogue = Catalogue::Load(data.path().toStdString());
    To_Range_Screen(mode);
    window->Next_btn();
  }
  std::vector<ExtensionListRecord>& Rows() { return window->nsCheckedListDataObject(); }
  QCheckBox* Select_All() { return Find<QCheckBox>("_select_unselect_Chk"); }
  QTableView* Table() { return Find<QTableView>("idCheckTableView"); }
  std::vector<bool> States() {
    std::vector<bool> out;
    for (const auto& r : Rows()) out.push_back(r.State);
    return out;
  }
};

}  // namespace

class FileTypesTest : public QObject {
  Q_OBJECT

 private slots:
  void list_built_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("rows");  // extension|description|thoro
    QTest::newRow("raw file") << 2
                              << QStringList{"abc|Thorough only|YES", "DOC|Word document|", "doc|Lower case doc|",
                                             "PDF|PDF document|", "XLS|Excel workbook|", "ZIP|ZIP archive|YES"};
    QTest::newRow("video") << 1 << QStringList{"AVI|AVI video|", "MOV|QuickTime movie|YES"};
  }
  void list_built() {
    QFETCH(int, mode);
    QFETCH(QStringList, rows);
    On_File_Types f(mode);
    QCOMPARE(f.window->screen_counter, 2);
    QVERIFY(f.Shown("_screen_filetypes"));
    QCOMPARE(f.Text("_help_info"), QString::fromUtf8(kFileTypeHelp));
    QStringList got;
    for (const auto& r : f.Rows()) {
      QVERIFY(r.State);
      got << QString::fromStdString(r.Extension + "|" + r.Description + "|" + r.Thoro);
    }
    QCOMPARE(got, rows);
    QVERIFY(f.Select_All()->isChecked());
    QCOMPARE(f.Table()->model()->rowCount(), rows.size());

    // Coming forward from the range screen again starts over, every row ticked.
    f.window->setObjectValue(0, QStringLiteral("State"), 0);
    f.window->Back_btn();
    f.window->Next_btn();
    QCOMPARE(f.window->screen_counter, 2);
    QVERIFY(f.States() == std::vector<bool>(static_cast<std::size_t>(rows.size()), true));
    QVERIFY(f.Select_All()->isChecked());
  }

  void select_all() {
    On_File_Types f(2);
    const std::size_t n = f.Rows().size();
    QStringList order;
    for (const auto& r : f.Rows()) order << QString::fromStdString(r.Extension);
    f.Select_All()->click();
    QVERIFY(!f.Select_All()->isChecked());
    QVERIFY(f.States() == std::vector<bool>(n, false));
    QCOMPARE(f.Table()->model()->index(0, 0).data(Qt::CheckStateRole).toInt(), int{Qt::Unchecked});
    f.Select_All()->click();
    QVERIFY(f.States() == std::vector<bool>(n, true));
    QStringList after;
    for (const auto& r : f.Rows()) after << QString::fromStdString(r.Extension);
    QCOMPARE(after, order);
  }

  void clicks_in_the_table() {
    On_File_Types f(2);
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    QTableView* table = f.Table();
    const QModelIndex box = table->model()->index(2, 0);
    // A real click on a row's box unticks it and the select-all box follows.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(box).center());
    QVERIFY(!f.Rows()[2].State);
    QVERIFY(!f.Select_All()->isChecked());
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(box).center());
    QVERIFY(f.Rows()[2].State);
    QVERIFY(f.Select_All()->isChecked());

    // Clicks outside the State column, or from another table, change nothing.
    f.window->setObjectValue(false, QStringLiteral("State"), 4);
    QVERIFY(!f.Select_All()->isChecked());
    f.Select_All()->setChecked(true);
    f.window->clickTable(table, table->model()->index(4, 1));
    QVERIFY(f.Select_All()->isChecked());
    f.window->clickTable(f.Find<QTableView>("idTableView"), table->model()->index(4, 0));
    QVERIFY(f.Select_All()->isChecked());
    f.window->clickTable(table, table->model()->index(4, 0));
    QVERIFY(!f.Select_All()->isChecked());
    f.window->hide();
  }

  void set_value_outside_the_list_data() {
    QTest::addColumn<int>("row");
    QTest::newRow("before the first row") << -1;
    QTest::newRow("one past the last row") << 6;
    QTest::newRow("far past the last row") << 1000;
  }
  void set_value_outside_the_list() {
    QFETCH(int, row);
    On_File_Types f(2);
    QTest::ignoreMessage(QtWarningMsg,
                         "MyTableController: Invalid parameter not satisfying: pRowIndex >= 0 && "
                         "pRowIndex < [nsCheckedListDataObject count]");
    QVERIFY(!f.window->setObjectValue(0, QStringLiteral("State"), row));
    QVERIFY(f.States() == std::vector<bool>(6, true));
    // The table goes on working.
    QVERIFY(f.window->setObjectValue(0, QStringLiteral("State"), 5));
    QVERIFY(!f.Rows()[5].State);
  }

  void selection_applied_data() {
    QTest::addColumn<QStringList>("untick");
    QTest::addColumn<QStringList>("general");   // types left in CheckListHeader_Array
    QTest::addColumn<QStringList>("thorough");  // ... and in CheckListHeader_Adv_Array
    QTest::addColumn<QStringList>("summary");   // summary rows, in display order
    QTest::newRow("all ticked") << QStringList{} << QStringList{"DOC", "XLS", "doc", "PDF", "DOC"}
                                << QStringList{"DOC", "ZIP", "abc"}
                                << QStringList{"abc", "DOC", "doc", "PDF", "XLS", "ZIP"};
    QTest::newRow("a type in both lists") << QStringList{"DOC"} << QStringList{"XLS", "doc", "PDF"}
                                          << QStringList{"ZIP", "abc"}
                                          << QStringList{"abc", "doc", "PDF", "XLS", "ZIP"};
    QTest::newRow("case counts") << QStringList{"doc"} << QStringList{"DOC", "XLS", "PDF", "DOC"}
                                 << QStringList{"DOC", "ZIP", "abc"}
                                 << QStringList{"abc", "DOC", "PDF", "XLS", "ZIP"};
    QTest::newRow("one type left") << QStringList{"abc", "DOC", "doc", "XLS", "ZIP"} << QStringList{"PDF"}
                                   << QStringList{} << QStringList{"PDF"};
  }
  void selection_applied() {
    QFETCH(QStringList, untick);
    QFETCH(QStringList, general);
    QFETCH(QStringList, thorough);
    QFETCH(QStringList, summary);
    On_File_Types f(2);
    for (std::size_t r = 0; r < f.Rows().size(); ++r) {
      if (untick.contains(QString::fromStdString(f.Rows()[r].Extension)))
        f.window->setObjectValue(0, QStringLiteral("State"), static_cast<int>(r));
    }
    QVERIFY(f.window->Apply_File_Type_Selection());
    QCOMPARE(Types_Of(f.window->CheckListHeader_Array), general);
    QCOMPARE(Types_Of(f.window->CheckListHeader_Adv_Array), thorough);
    QStringList got;
    for (const auto& rec : f.window->nsSIGFileInfoDataObject.Snapshot()) {
      QCOMPARE(rec.NoOfFile, std::string("0"));
      QCOMPARE(rec.FileTypes_Hidden, rec.FileTypes);
      QVERIFY(rec.FileName.empty() && rec.FilePath.empty());
      got << QString::fromStdString(rec.FileTypes);
    }
    QCOMPARE(got, summary);
  }

  void nothing_ticked() {
    On_File_Types f(2);
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    f.window->nsSIGFileInfoDataObject.createSignatureListTableRecord("OLD", 3, "", "", "OLD");
    f.Select_All()->click();
    Modal_Watcher watcher;
    f.window->Next_btn();
    QCOMPARE(watcher.Box_Texts(), QStringList{"\nPlease select atleast one extension type."});
    QCOMPARE(watcher.seen[0].informative, QString());
    QCOMPARE(f.window->screen_counter, 2);
    QCOMPARE(f.window->focusWidget(), f.Table());
    QVERIFY(f.window->CheckListHeader_Array.empty());
    QCOMPARE(f.window->nsSIGFileInfoDataObject.size(), std::size_t{0});  // rebuilt, with nothing
    f.window->hide();
  }
};

QTEST_MAIN(FileTypesTest)
#include "filetypes_test.moc"
