// Showing each file once: the browsers leave out an item that starts at the
// sector of an earlier one, the list stays whole, and a selected row still
// reaches its own item (preview and Recover). Also the question before Recover.
#include "ui/help_texts.h"
#include "window_fixture.h"

using namespace tamberlin;
using namespace tamberlin::ui;
using namespace tamberlin::ui::testing;
using namespace tamberlin::media;
using namespace tamberlin::results;

namespace {

// "NAME@FIRST+COUNT" a photo item; "NAME@START-END" a video or raw item.
void Add(MyTableController& w, const QString& entry) {
  const QString name = entry.section('@', 0, 0), at = entry.section('@', 1);
  if (at.contains('+'))
    w.addImageWithData("x", name, name, at.section('+', 0, 0).toULongLong(), at.section('+', 1).toULongLong());
  else
    w.addImageWithData_2(name, name, at.section('-', 0, 0).toULongLong(), at.section('-', 1).toULongLong());
}

// A raw-file window over a medium whose sector s holds the byte s. Its
// watcher answers the question before Recover; the copy is replaced by one
// that records what it was given.
struct Once_Fixture : Window_Fixture {
  Modal_Watcher watcher;
  QStringList recovered;
  std::optional<recovery::RecoveryOptions> options;
  recovery::RecoveryOutcome outcome;
  QTemporaryDir out;
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
        {"items covering no sectors never hidden", {"DOC00001.DOC@5-5", "DOC00002.DOC@5-5"},
         {"DOC00001.DOC", "DOC00002.DOC"}},
        {"repeat after other items", {"PDF00001.PDF@7-9", "DOC00001.DOC@8-9", "ZIP00001.ZIP@7-8"},
         {"PDF00001.PDF", "DOC00001.DOC"}}};
    for (const auto& [name, found, shown] : cases) {
      QStringList all;
      for (const QString& entry : found) all << entry.section('@', 0, 0);
      QTest::newRow(qPrintable(QStringLiteral("%1, on").arg(name))) << found << true << shown;
      QTest::newRow(qPrintable(QStringLiteral("%1, off shows all").arg(name))) << found << false << all;
    }
  }
  void Browsers_Leave_Out_Repeats() {
    QFETCH(QStringList, found);
    QFETCH(bool, once);
    QFETCH(QStringList, shown);
    Once_Fixture f;
    auto* toggle = f.Find<QCheckBox>("_show_once_chk");
    QVERIFY(toggle->isChecked());  // on by default
    // Half before the toggle is flipped and back, half after: the rebuild and
    // the rows added later follow the same rule.
    for (const QString& entry : found.first(found.size() / 2)) Add(*f.window, entry);
    f.window->Wait_For_Thumbnails();
    toggle->setChecked(!once);
    toggle->setChecked(once);
    for (const QString& entry : found.sliced(found.size() / 2)) Add(*f.window, entry);
    f.window->Wait_For_Thumbnails();
    auto* model = f.Find<QListView>("imageBrowser")->model();  // both browsers share it
    QStringList names;
    for (int r = 0; r < model->rowCount(); ++r) names << model->index(r, 0).data().toString();
    QCOMPARE(names, shown);
    QCOMPARE(f.window->Found_Item_Count(), int(found.size()));  // nothing leaves the list
  }

  void Selection_Reaches_Its_Item_data() {
    QTest::addColumn<bool>("once");
    QTest::addColumn<int>("row");        // selected browser row, -1 none
    QTest::addColumn<int>("previewed");  // first sector previewed
    QTest::addColumn<QStringList>("recovered");
    QTest::newRow("on, row 1") << true << 1 << 20 << QStringList{"PDF00001.PDF"};
    QTest::newRow("on, last row") << true << 2 << 30 << QStringList{"DOC00003.DOC"};
    QTest::newRow("off, row 1") << false << 1 << 10 << QStringList{"ZIP00001.ZIP"};
    QTest::newRow("on, none: every item found, as the command line") << true << -1 << -1
        << QStringList{"DOC00001.DOC", "ZIP00001.ZIP", "PDF00001.PDF", "DOC00002.DOC", "DOC00003.DOC"};
  }
  void Selection_Reaches_Its_Item() {
    QFETCH(bool, once);
    QFETCH(int, row);
    QFETCH(int, previewed);
    QFETCH(QStringList, recovered);
    Once_Fixture f;
    for (const char* entry : {"DOC00001.DOC@10-12", "ZIP00001.ZIP@10-14", "PDF00001.PDF@20-21", "DOC00002.DOC@20-22",
                             "DOC00003.DOC@30-31"})
      Add(*f.window, entry);
    f.window->Reload_Results();
    f.Find<QCheckBox>("_show_once_chk")->setChecked(once);
    auto* browser = f.Find<QListView>("imageBrowser_2");
    if (row >= 0) {
      browser->selectionModel()->select(browser->model()->index(row, 0), QItemSelectionModel::ClearAndSelect);
      QFile preview(f.window->Preview_File);
      QVERIFY(preview.open(QIODevice::ReadOnly));
      QCOMPARE(int(preview.read(1).at(0)), previewed);  // sector s holds the byte s
    }
    f.Recover();
    QCOMPARE(f.recovered, recovered);
  }

  // The answer reaches the recovery; the closing notice counts those items apart.
  void Confirmation_Passes_Keep_Doubtful_data() {
    QTest::addColumn<bool>("tick");
    QTest::addColumn<bool>("go");
    QTest::addColumn<QString>("told");
    QTest::newRow("kept") << true << true << "2 items failed their format's checks and were put in the \u201cdoubtful\u201d";
    QTest::newRow("left out") << false << true << "2 items were not written: their bytes are not of the type";
    QTest::newRow("cancelled") << true << false << "";
  }
  void Confirmation_Passes_Keep_Doubtful() {
    QFETCH(bool, tick);
    QFETCH(bool, go);
    QFETCH(QString, told);
    Once_Fixture f;
    f.watcher.tick = tick;
    f.watcher.answer = go ? "Recover" : "Cancel";
    f.outcome.files_written = 3;
    f.outcome.not_this_format = 2;
    f.outcome.inside = 1;
    Add(*f.window, "PDF00001.PDF@20-21");
    f.Recover();
    QCOMPARE(f.options.has_value(), go);
    QCOMPARE(f.watcher.Box_Texts().size(), go ? 2 : 1);  // the question, then the closing notice
    if (!go) return;
    QCOMPARE(f.options->keep_doubtful, tick);
    const QString closing = f.watcher.seen.back().informative;
    QVERIFY2(closing.contains(told) && closing.contains("1 item lies wholly inside"), qPrintable(closing));
  }
};

QTEST_MAIN(ShowOnceTest)
#include "show_once_test.moc"
