// Showing each file once: the browsers leave out an item that starts at the
// sector of an earlier one, the list and counts stay whole, and a selection
// still reaches the item it shows (preview and Recover). Also the question
// asked before Recover copies anything.
#include <QCheckBox>
#include <QItemSelectionModel>
#include <QListView>

#include "window_fixture.h"

using namespace tamberlin;
using namespace tamberlin::ui;
using namespace tamberlin::ui::testing;

namespace {

// "NAME@FIRST+COUNT" a photo item; "NAME@START-END" a video or raw item.
void Add(MyTableController& w, const QString& spec) {
  const QString name = spec.section('@', 0, 0), where = spec.section('@', 1);
  if (where.contains('+'))
    w.addImageWithData("x", name, name, where.section('+', 0, 0).toULongLong(), where.section('+', 1).toULongLong());
  else
    w.addImageWithData_2(name, name, where.section('-', 0, 0).toULongLong(), where.section('-', 1).toULongLong());
}

QStringList Shown(QListView* browser) {
  QStringList out;
  for (int r = 0; r < browser->model()->rowCount(); ++r) out << browser->model()->index(r, 0).data().toString();
  return out;
}

// Answers the question before a recovery: ticks the box as told, then Recover
// or Cancel; every later box is recorded and closed.
struct Confirm_Answerer {
  bool tick = false, go = true;
  QStringList closing;  // informative texts of the boxes after the question
  QTimer timer;
  Confirm_Answerer() {
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      if (box->objectName() != QLatin1String("_recover_confirm")) {
        closing << box->informativeText();
        box->buttons().front()->click();
        return;
      }
      box->checkBox()->setChecked(tick);
      for (QAbstractButton* b : box->buttons())
        if ((box->buttonRole(b) == QMessageBox::AcceptRole) == go) return b->click();
    });
    timer.start();
  }
};

// A raw-file window over a medium whose sector s holds the byte s, with the
// recovery replaced by one that records what it was given.
struct Once_Fixture : Window_Fixture {
  Confirm_Answerer answer;
  QTemporaryDir out;
  std::optional<recovery::RecoveryOptions> options;
  QStringList recovered;
  recovery::RecoveryOutcome outcome;
  Once_Fixture() {
    window->preview_source_opener = [](const std::string&, std::string*) -> std::unique_ptr<SectorSource> {
      std::vector<std::uint8_t> bytes(64 * 512);
      for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i / 512);
      return std::make_unique<MemorySectorSource>(std::move(bytes));
    };
    window->recover_items = [this](SectorSource&, const std::vector<recovery::RecoveryItem>& items,
                                   const std::filesystem::path&, recovery::RecoveryProgress&,
                                   const recovery::RecoveryOptions& o) {
      options = o;
      for (const auto& i : items) recovered << QString::fromStdString(i.name);
      return outcome;
    };
    Find<QLineEdit>("_disk_identifier")->setText("sdb1");
    Find<QLineEdit>("_path_Sig")->setText(out.path());
    Choose_Mode(2);
  }
  void Recover() {
    window->Recover_btn();
    QVERIFY(window->Wait_For_Recovery_End(60000));
  }
};

}  // namespace

class ShowOnceTest : public QObject {
  Q_OBJECT

 private slots:
  void Browsers_Leave_Out_Repeats_data() {
    QTest::addColumn<QStringList>("found");
    QTest::addColumn<bool>("once");
    QTest::addColumn<QStringList>("shown");
    const std::vector<std::tuple<const char*, QStringList, QStringList>> cases = {
        {"thorough tile at a general tile's sector", {"GND00001.JPG@10+4", "THD00001.JPG@10+4"}, {"GND00001.JPG"}},
        {"two types at one sector", {"ZIP00001.ZIP@20-30", "DOCX00001.DOCX@20-30", "XLSX00001.XLSX@20-25"},
         {"ZIP00001.ZIP"}},
        {"different sectors kept", {"GND00001.JPG@10+4", "THD00001.JPG@11+4", "DOC00001.DOC@12-13"},
         {"GND00001.JPG", "THD00001.JPG", "DOC00001.DOC"}},
        {"sector 0 is a sector like any", {"GND00001.JPG@0+1", "THD00001.JPG@0+1"}, {"GND00001.JPG"}},
        {"items covering no sectors are never hidden", {"DOC00001.DOC@5-5", "DOC00002.DOC@5-5"},
         {"DOC00001.DOC", "DOC00002.DOC"}},
        {"repeat after other items", {"PDF00001.PDF@7-9", "DOC00001.DOC@8-9", "ZIP00001.ZIP@7-8", "DOC00002.DOC@9-9"},
         {"PDF00001.PDF", "DOC00001.DOC", "DOC00002.DOC"}}};
    for (const auto& [name, found, shown] : cases) {
      QTest::newRow(qPrintable(QStringLiteral("%1, on").arg(name))) << found << true << shown;
      QStringList all;
      for (const QString& spec : found) all << spec.section('@', 0, 0);
      QTest::newRow(qPrintable(QStringLiteral("%1, off shows all").arg(name))) << found << false << all;
    }
  }
  void Browsers_Leave_Out_Repeats() {
    QFETCH(QStringList, found);
    QFETCH(bool, once);
    QFETCH(QStringList, shown);
    Window_Fixture f;
    auto* toggle = f.Find<QCheckBox>("_show_once_chk");
    QVERIFY(toggle->isChecked());  // on by default
    // Half before the toggle is set, half after: both the rebuild and the
    // rows added later follow the same rule.
    const qsizetype half = found.size() / 2;
    for (const QString& spec : found.first(half)) Add(*f.window, spec);
    f.window->Wait_For_Thumbnails();
    toggle->setChecked(!once);
    toggle->setChecked(once);
    for (const QString& spec : found.sliced(half)) Add(*f.window, spec);
    f.window->Wait_For_Thumbnails();
    QCOMPARE(Shown(f.Find<QListView>("imageBrowser")), shown);
    QCOMPARE(Shown(f.Find<QListView>("imageBrowser_2")), shown);
    QCOMPARE(f.window->Found_Item_Count(), int(found.size()));  // nothing leaves the list
  }

  void Selection_Reaches_The_Item_Shown_data() {
    QTest::addColumn<bool>("once");
    QTest::addColumn<int>("row");  // selected browser row, -1 none
    QTest::addColumn<int>("previewed");  // first sector previewed, -1 none
    QTest::addColumn<QStringList>("recovered");
    QTest::newRow("on, row 1") << true << 1 << 20 << QStringList{"PDF00001.PDF"};
    QTest::newRow("on, last row") << true << 2 << 30 << QStringList{"DOC00003.DOC"};
    QTest::newRow("on, none: all shown")
        << true << -1 << -1 << QStringList{"DOC00001.DOC", "PDF00001.PDF", "DOC00003.DOC"};
    QTest::newRow("off, row 1") << false << 1 << 10 << QStringList{"ZIP00001.ZIP"};
    QTest::newRow("off, none: all") << false << -1 << -1
                                    << QStringList{"DOC00001.DOC", "ZIP00001.ZIP", "PDF00001.PDF", "DOC00002.DOC",
                                                   "DOC00003.DOC"};
  }
  void Selection_Reaches_The_Item_Shown() {
    QFETCH(bool, once);
    QFETCH(int, row);
    QFETCH(int, previewed);
    QFETCH(QStringList, recovered);
    Once_Fixture f;
    for (const char* spec : {"DOC00001.DOC@10-12", "ZIP00001.ZIP@10-14", "PDF00001.PDF@20-21", "DOC00002.DOC@20-22",
                             "DOC00003.DOC@30-31"})
      Add(*f.window, spec);
    f.window->Reload_Results();
    f.Find<QCheckBox>("_show_once_chk")->setChecked(once);
    auto* browser = f.Find<QListView>("imageBrowser_2");
    if (row >= 0)
      browser->selectionModel()->select(browser->model()->index(row, 0), QItemSelectionModel::ClearAndSelect);
    if (previewed >= 0) {
      QFile preview(f.window->Preview_File);
      QVERIFY(preview.open(QIODevice::ReadOnly));
      QCOMPARE(int(preview.read(1).at(0)), previewed);  // sector s holds the byte s
    }
    f.Recover();
    QCOMPARE(f.recovered, recovered);
  }

  // The question before the copy hands the doubtful-items choice to the
  // recovery, and the closing notice counts those items apart.
  void Confirmation_Passes_Keep_Doubtful_data() {
    QTest::addColumn<bool>("tick");
    QTest::addColumn<bool>("go");
    QTest::addColumn<QString>("told");  // in the closing notice; empty: no recovery ran
    QTest::newRow("kept") << true << true << "2 items failed their format's checks and were put in the \u201cdoubtful\u201d";
    QTest::newRow("left out") << false << true << "2 items were not written: their bytes are not of the type";
    QTest::newRow("cancelled") << true << false << "";
  }
  void Confirmation_Passes_Keep_Doubtful() {
    QFETCH(bool, tick);
    QFETCH(bool, go);
    QFETCH(QString, told);
    Once_Fixture f;
    f.answer.tick = tick;
    f.answer.go = go;
    f.outcome.files_written = 3;
    f.outcome.not_this_format = 2;
    f.outcome.inside = 1;
    Add(*f.window, "PDF00001.PDF@20-21");
    f.Recover();
    QCOMPARE(f.options.has_value(), go);
    if (!go) {
      QVERIFY(f.answer.closing.isEmpty());
      return;
    }
    QCOMPARE(f.options->keep_doubtful, tick);
    QCOMPARE(f.answer.closing.size(), 1);
    QVERIFY2(f.answer.closing[0].contains(told), qPrintable(f.answer.closing[0]));
    QVERIFY2(f.answer.closing[0].contains("1 item lies wholly inside"), qPrintable(f.answer.closing[0]));
  }
};

QTEST_MAIN(ShowOnceTest)
#include "show_once_test.moc"
