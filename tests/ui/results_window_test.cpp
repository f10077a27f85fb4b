// Found items through the window: the add operations as the scan thread calls
// them, the browsers' scrolling and selection, the summary table.
#include <QItemSelectionModel>
#include <QListView>
#include <QScrollBar>
#include <QTableView>
#include <atomic>
#include <chrono>
#include <thread>

#include "../results/test_images.h"
#include "window_fixture.h"

using namespace tamberlin;
using namespace tamberlin::ui;
using namespace tamberlin::ui::testing;

namespace {

// Opens a medium of numbered sectors in memory and counts the extractions.
struct Counting_Medium {
  int opens = 0;
  SourceOpener Opener() {
    return [this](const std::string&, std::string*) -> std::unique_ptr<SectorSource> {
      ++opens;
      return std::make_unique<MemorySectorSource>(std::vector<std::uint8_t>(64 * 512, 0x41));
    };
  }
};

void Settle(MyTableController& w) {
  w.Wait_For_Thumbnails();
  QCoreApplication::processEvents();
}

}  // namespace

class ResultsWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void Photo_Items_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("added");
    QTest::addColumn<bool>("placeholder");
    QTest::newRow("empty bytes add nothing") << QByteArray() << 0 << false;
    QTest::newRow("garbage gets the placeholder") << QByteArray(2048, '\x7F') << 1 << true;
    QTest::newRow("jpeg gets a thumbnail")
        << tamberlin::results::testing::Two_Colour_Jpeg(640, 480) << 1 << false;
  }
  void Photo_Items() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, added);
    QFETCH(bool, placeholder);
    Window_Fixture f;
    f.window->Null_Image_Data = QByteArray("placeholder bytes");
    f.window->addImageWithData(bytes, "GND00001.JPG", "GND00001", 100, 8);
    Settle(*f.window);
    QCOMPARE(f.window->Found_Item_Count(), added);
    QCOMPARE(int(f.window->Image_Count.load()), added);
    if (!added) return;
    const auto item = f.window->images.At(0);
    QCOMPARE(item->image_Name, QString("GND00001.JPG"));
    QCOMPARE(item->First_Sector, 100ull);
    QCOMPARE(item->Sector_Count, 8ull);
    QCOMPARE(item->File_Start_Sector, 0ull);
    if (placeholder) {
      QCOMPARE(item->imageData, f.window->Null_Image_Data);
    } else {
      const QImage thumb = QImage::fromData(item->imageData);
      QCOMPARE(thumb.size(), QSize(100, 75));
    }
    QCOMPARE(f.Find<QListView>("imageBrowser")->model()->rowCount(), 1);
  }

  void Raw_Items_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("added");
    QTest::addColumn<QString>("doc_count");
    QTest::newRow("counted") << "DOC00001.DOC" << 1 << "1";
    QTest::newRow("trimmed before counting") << "  DOC00003.DOC \r\n" << 1 << "1";
    QTest::newRow("blank name adds nothing") << " \t\r\n " << 0 << "0";
    QTest::newRow("type without a row still listed") << "ZIP00001.ZIP" << 1 << "0";
  }
  void Raw_Items() {
    QFETCH(QString, name);
    QFETCH(int, added);
    QFETCH(QString, doc_count);
    Window_Fixture f;
    f.Choose_Mode(2);
    f.window->nsSIGFileInfoDataObject.createSignatureListTableRecord("DOC", 0, "", "", "DOC");
    f.window->addImageWithData_2(name, "uid", 5, 9);
    Settle(*f.window);
    QCOMPARE(f.window->Found_Item_Count(), added);
    QCOMPARE(int(f.window->Image_Count.load()), added);
    auto* table = f.Find<QTableView>("idSigTableView");
    QCOMPARE(table->model()->index(0, 1).data().toString(), doc_count);
    if (!added) return;
    const auto item = f.window->images.At(0);
    QCOMPARE(item->image_Name, name.trimmed());
    QCOMPARE(item->path, name.trimmed());
    QCOMPARE(item->File_Start_Sector, 5ull);
    QCOMPARE(item->File_End_Sector, 9ull);
    QVERIFY(!item->image.isNull());
    QVERIFY(!item->image.pixmap(16, 16).isNull());
    if (doc_count == "1")
      QCOMPARE(table->model()->index(0, 2).data().toString(), name.trimmed());
  }

  void Scrolls_To_The_End_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("every");
    QTest::newRow("photo every sixth") << 0 << 6;
    QTest::newRow("raw file every fourth") << 2 << 4;
  }
  void Scrolls_To_The_End() {
    QFETCH(int, mode);
    QFETCH(int, every);
    Window_Fixture f;
    f.Choose_Mode(mode);
    f.window->show();
    f.window->show_hide_1_screen(true);
    if (mode == 0)
      f.window->show_hide_3_screen_Photo(false);
    else
      f.window->show_hide_4_screen_RawFile(false);
    QListView* browser = f.Find<QListView>(mode == 0 ? "imageBrowser" : "imageBrowser_2");
    const QByteArray jpeg = tamberlin::results::testing::Two_Colour_Jpeg(64, 48);
    auto add = [&](int i) {
      const QString name = QStringLiteral("F%1.DOC").arg(i);
      if (mode == 0)
        f.window->addImageWithData(jpeg, name, name, i, 1);
      else
        f.window->addImageWithData_2(name, name, i, i + 1);
    };
    // Enough items that the browser scrolls, then a new run starts counting.
    for (int i = 0; i < 300; ++i) add(i);
    Settle(*f.window);
    f.window->Image_Count = 0;
    QScrollBar* bar = browser->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    for (int n = 1; n <= 2 * every; ++n) {
      bar->setValue(0);
      add(1000 + n);
      Settle(*f.window);
      QCOMPARE(bar->value() == bar->maximum(), n % every == 0);
    }
  }

  // Only the file browser previews; only the first selected index counts;
  // the item already shown is not extracted again until a new scan run.
  void Selection_Starts_Previews() {
    Window_Fixture f;
    Counting_Medium medium;
    f.window->preview_source_opener = medium.Opener();
    f.Find<QLineEdit>("_disk_identifier")->setText("sdb1");
    f.Choose_Mode(2);
    for (int i = 0; i < 8; ++i)
      f.window->addImageWithData_2(QStringLiteral("DOC%1.DOC").arg(i), QString::number(i), i, i + 2);
    Settle(*f.window);
    auto* files = f.Find<QListView>("imageBrowser_2");
    auto* photos = f.Find<QListView>("imageBrowser");
    auto select = [](QListView* view, int from, int to) {
      const QItemSelection range(view->model()->index(from, 0), view->model()->index(to, 0));
      view->selectionModel()->select(range, QItemSelectionModel::ClearAndSelect);
    };

    select(files, 3, 3);
    QCOMPARE(medium.opens, 1);
    QCOMPARE(f.window->Prev_Index, 3u);
    QVERIFY(QFileInfo(f.window->Preview_File).fileName() == "dprv.DOC");
    select(files, 3, 5);  // widened: first index unchanged
    QCOMPARE(medium.opens, 1);
    select(files, 4, 4);
    QCOMPARE(medium.opens, 2);
    select(files, 2, 6);  // first index 2 is new
    QCOMPARE(medium.opens, 3);
    QCOMPARE(f.window->Prev_Index, 2u);
    files->selectionModel()->clearSelection();
    QCOMPARE(medium.opens, 3);

    select(photos, 1, 1);
    QCOMPARE(medium.opens, 3);
    QCOMPARE(f.window->Prev_Index, 2u);

    // A new general pass resets Prev_Index: the same index previews again.
    f.window->Clear_Found_Items();
    for (int i = 0; i < 4; ++i)
      f.window->addImageWithData_2(QStringLiteral("PDF%1.PDF").arg(i), QString::number(i), i, i + 1);
    Settle(*f.window);
    select(files, 2, 2);
    QCOMPARE(medium.opens, 4);
  }

  // The scan thread adds photos and raw items while the UI thread reads the
  // list, both browsers and the summary table; run under the thread sanitizer.
  void Concurrent_Adds_And_Reads() {
    Window_Fixture f;
    f.Choose_Mode(2);
    f.window->nsSIGFileInfoDataObject.createSignatureListTableRecord("DOC", 0, "", "", "DOC");
    f.window->show();
    f.window->show_hide_1_screen(true);
    f.window->show_hide_4_screen_RawFile(false);
    const QByteArray jpeg = tamberlin::results::testing::Two_Colour_Jpeg(320, 240);
    constexpr int kItems = 600;
    std::atomic<bool> done{false};
    std::thread scan([&] {
      f.window->Clear_Found_Items();
      for (int i = 0; i < kItems; ++i) {
        const QString name = QStringLiteral("DOC%1.DOC").arg(i, 5, 10, QLatin1Char('0'));
        if (i % 10 == 0)
          f.window->addImageWithData(i % 20 ? jpeg : QByteArray("bad"), "P" + name, "P" + name, i, 1);
        else
          f.window->addImageWithData_2(name, name, i, i + 1);
        // Sector reads between finds: the window gets turns while items come.
        if (i % 8 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      done = true;
    });
    auto* table = f.Find<QTableView>("idSigTableView");
    auto* browser = f.Find<QListView>("imageBrowser_2");
    while (!done) {
      QCoreApplication::processEvents();
      const int rows = browser->model()->rowCount();
      if (rows > 0) browser->model()->index(rows - 1, 0).data(Qt::DecorationRole);
      table->model()->index(0, 1).data();
      f.window->Found_Item_Count();
    }
    scan.join();
    Settle(*f.window);
    QCOMPARE(f.window->Found_Item_Count(), kItems);
    QCOMPARE(browser->model()->rowCount(), kItems);
    const auto items = f.window->images.Snapshot();
    for (int i = 0; i < kItems; ++i) {
      const QString name = QStringLiteral("DOC%1.DOC").arg(i, 5, 10, QLatin1Char('0'));
      QCOMPARE(items[i].image_UID, i % 10 == 0 ? "P" + name : name);
      if (i % 10 == 0) QVERIFY(!items[i].thumbnail_pending);
    }
    f.window->Reload_Results();
    QCOMPARE(table->model()->index(0, 1).data().toString(), QString::number(kItems - kItems / 10));
  }
};

QTEST_MAIN(ResultsWindowTest)
#include "results_window_test.moc"
