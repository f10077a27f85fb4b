#include <QtTest>

#include "summary_model.h"

using namespace tamberlin;
using namespace tamberlin::results;

class SummaryModelTest : public QObject {
  Q_OBJECT

 private slots:
  // Counts made on the records show after Refresh, in place, without
  // resetting the table (the user's scroll position stays).
  void Counts_Show_After_Refresh() {
    SignatureList records;
    records.createSignatureListTableRecord("DOC", 0, "", "", "DOC");
    records.createSignatureListTableRecord("PDF", 0, "", "", "PDF");
    SummaryTableModel model(records);
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.index(0, 1).data().toString(), QString("0"));
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    for (int i = 0; i < 10; ++i) records.Count_Item("DOC0000" + std::to_string(i) + ".DOC");
    QCOMPARE(model.index(0, 1).data().toString(), QString("0"));  // not yet
    QVERIFY(model.Refresh());
    QVERIFY(!model.Refresh());  // nothing new
    QCOMPARE(reset.count(), 0);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(model.index(0, 0).data().toString(), QString("DOC"));
    QCOMPARE(model.index(0, 1).data().toString(), QString("10"));
    QCOMPARE(model.index(0, 2).data().toString(), QString("DOC00009.DOC"));
    QCOMPARE(model.index(1, 1).data().toString(), QString("0"));
    records.Clear();
    QVERIFY(model.Refresh());
    QCOMPARE(reset.count(), 1);
    QCOMPARE(model.rowCount(), 0);
  }

  void Out_Of_Range_Row_Gives_Nothing_data() {
    QTest::addColumn<int>("row");
    QTest::newRow("negative") << -1;
    QTest::newRow("one past the end") << 1;
    QTest::newRow("far past the end") << 1000;
  }
  void Out_Of_Range_Row_Gives_Nothing() {
    QFETCH(int, row);
    SignatureList records;
    records.createSignatureListTableRecord("DOC", 0, "", "", "DOC");
    SummaryTableModel model(records);
    QTest::ignoreMessage(QtWarningMsg,
                         "Invalid parameter not satisfying: pRowIndex >= 0 && pRowIndex < "
                         "[nsSIGFileInfoDataObject count]");
    QVERIFY(!model.objectValueForTableColumn("FileTypes", row));
    // The table goes on working.
    QCOMPARE(*model.objectValueForTableColumn("FileTypes", 0), QString("DOC"));
  }

  void Read_Only() {
    SignatureList records;
    records.createSignatureListTableRecord("DOC", 0, "", "", "DOC");
    SummaryTableModel model(records);
    QVERIFY(!(model.flags(model.index(0, 1)) & Qt::ItemIsEditable));
    QVERIFY(!model.setData(model.index(0, 1), "99", Qt::EditRole));
    QCOMPARE(records.At(0)->NoOfFile, std::string("0"));
  }
};

QTEST_MAIN(SummaryModelTest)
#include "summary_model_test.moc"
