// The window's own screens: the media list over a failing lsblk, disk images
// added by path, the exit question, the range sliders on media past the int
// range, found items added as the scan thread adds them, and preview copies
// that fail.
#include <atomic>
#include <thread>

#include "ui/range_slider.h"
#include "window_fixture.h"

using namespace tamberlin;
using namespace tamberlin::ui;
using namespace tamberlin::ui::testing;
using namespace tamberlin::media;
using namespace tamberlin::results;

constexpr quint64 k2TbSectors = 3907029168ull;  // a 2 TB disk

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  // The disk images stay listed whatever lsblk does; a missing or broken
  // lsblk leaves the sticks out and the loading notice closed. An image that
  // cannot be read is reported and not listed.
  void media_list_keeps_images_and_survives_lsblk_failure() {
    Window_Fixture f;
    const QString image = f.Image("card.img");
    Write_Image(image, 8, {});
    QVERIFY(f.window->Add_Image(image));
    QVERIFY(f.window->Add_Image(image));  // the same path again: one row
    QCOMPARE(f.window->nsMutaryOfDataObject().size(), std::size_t{2});
    f.window->show();
    for (const std::optional<QByteArray>& lsblk : {std::optional<QByteArray>("garbage"), std::optional<QByteArray>()}) {
      f.runner->lsblk = {lsblk};
      f.window->Reload_Drive_list_Function();
      QCOMPARE(f.window->nsMutaryOfDataObject().size(), std::size_t{1});
      QCOMPARE(f.window->nsMutaryOfDataObject()[0].nsStrDiskIdentifier, image);
      QVERIFY(!f.window->LoadDisk_Window->isVisible());
    }
    Modal_Watcher watcher;
    QVERIFY(!f.window->Add_Image(f.Image("missing.img")));
    QCOMPARE(watcher.Box_Texts(), QStringList{"\nThe disk image cannot be added."});
    QVERIFY(watcher.seen[0].informative.contains("missing.img"));
    QCOMPARE(f.window->nsMutaryOfDataObject().size(), std::size_t{1});
  }

  // Yes ends the program and removes the preview files it made, and only those.
  void exit_data() {
    QTest::addColumn<QString>("answer");
    QTest::newRow("yes") << "Yes";
    QTest::newRow("no") << "No";
  }
  void exit() {
    QFETCH(QString, answer);
    const bool ends = answer == "Yes";
    Window_Fixture f;
    const QDir previews(f.previews.path());
    const QStringList made{"dprv.jpg", "dprv", "dprv.MOV"};
    const QStringList others{"keep.txt", "dprvx.jpg", "my.dprv", "dprv.tar.gz"};
    for (const QString& n : made + others) Write_File(previews.filePath(n), "x");
    Modal_Watcher watcher;
    watcher.answer = answer;
    f.window->Exit_App();
    QCOMPARE(watcher.Box_Texts(), QStringList{"\nDo you really want to exit from 'Tamberlin'?"});
    QCOMPARE(f.quits, ends ? 1 : 0);
    for (const QString& n : made) QCOMPARE(previews.exists(n), !ends);
    for (const QString& n : others) QVERIFY2(previews.exists(n), qPrintable(n));
  }

  // The slider's last position is the medium's end, and a sector maps to the
  // nearest position at or past it, on media of any size.
  void slider_mapping() {
    const std::pair<quint64, quint64> cases[] = {{100, 37},
                                                 {2147483647, 2147483646},
                                                 {k2TbSectors, 0},
                                                 {k2TbSectors, 3000000000},
                                                 {k2TbSectors, k2TbSectors},
                                                 {~quint64{0}, (~quint64{0} >> 1) + 12345}};
    for (const auto& [count, sector] : cases) {
      const int top = Slider_Top(count);
      QCOMPARE(Slider_Sector(top, count), count);
      QCOMPARE(Slider_Sector(0, count), quint64{0});
      const int p = Slider_Position(sector, count);
      QVERIFY(p >= 0 && p <= top);
      QVERIFY(Slider_Sector(p, count) >= sector);
      if (p > 0) QVERIFY(Slider_Sector(p - 1, count) < sector);
    }
  }

  // Header clicks leave the file type rows (and so the summary rows) in type order.
  void file_type_header_clicks_do_not_sort() {
    Window_Fixture f;
    f.window->show();
    f.To_Range_Screen(2);
    f.window->Next_btn();
    QHeaderView* header = f.Find<QTableView>("idCheckTableView")->horizontalHeader();
    for (int click = 0; click < 2 * header->count(); ++click)
      QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, {header->sectionViewportPosition(click / 2) + 4, 4});
    QStringList rows;
    for (const auto& r : f.window->nsCheckedListDataObject()) rows << QString::fromStdString(r.Extension);
    QCOMPARE(rows, QStringList({"DOC", "PDF", "ZIP"}));
  }

  // The scan thread adds photos and raw items while the UI thread reads the
  // list, the browser and the summary table; run under the thread sanitizer.
  void concurrent_adds_and_reads() {
    Window_Fixture f;
    f.Choose_Mode(2);
    f.window->nsSIGFileInfoDataObject.createSignatureListTableRecord("DOC", 0, "", "", "DOC");
    f.window->show();
    const QByteArray jpeg = Two_Colour_Jpeg(320, 240);
    constexpr int kItems = 600;
    std::atomic<bool> done{false};
    std::thread scan([&] {
      for (int i = 0; i < kItems; ++i) {
        const QString name = QStringLiteral("DOC%1.DOC").arg(i, 5, 10, QLatin1Char('0'));
        if (i % 10 == 0)
          f.window->addImageWithData(i % 20 ? jpeg : QByteArray("bad"), "P" + name, "P" + name, i, 1);
        else
          f.window->addImageWithData_2(name, name, i, i + 1);
      }
      done = true;
    });
    auto* table = f.Find<QTableView>("idSigTableView");
    auto* browser = f.Find<QListView>("imageBrowser_2");
    while (!done) {
      QCoreApplication::processEvents();
      if (const int rows = browser->model()->rowCount()) browser->model()->index(rows - 1, 0).data(Qt::DecorationRole);
      table->model()->index(0, 1).data();
    }
    scan.join();
    f.window->Wait_For_Thumbnails();
    QCoreApplication::processEvents();
    QCOMPARE(f.window->Found_Item_Count(), kItems);
    QCOMPARE(browser->model()->rowCount(), kItems);
    const auto items = f.window->images.Snapshot();
    for (int i = 0; i < kItems; i += 10) QVERIFY(items[i].image_UID.startsWith("P") && !items[i].thumbnail_pending);
    f.window->Reload_Results();
    QCOMPARE(table->model()->index(0, 1).data().toString(), QString::number(kItems - kItems / 10));
  }

  // A preview whose medium cannot be opened, or whose folder cannot be
  // written, is reported; the earlier copy is not shown as the new item.
  void preview_copy_failures_are_reported() {
    Window_Fixture f;
    f.Choose_Mode(2);
    f.Find<QLineEdit>("_disk_identifier")->setText("sdb1");
    const SourceOpener readable = [](const std::string&, std::string*) {
      return std::make_unique<MemorySectorSource>(std::vector<std::uint8_t>(80 * 512, 0x41));
    };
    f.window->preview_source_opener = readable;
    f.window->CreateFile_QuickLook_View("DOC00001.DOC", 1, 3);
    const QString earlier = f.window->Preview_File;
    QCOMPARE(Read_All(earlier), QByteArray(1024, 'A'));
    f.window->preview_source_opener = [](const std::string&, std::string* why) {
      *why = "Permission denied: reading sticks and cards needs the disk group.";
      return std::unique_ptr<SectorSource>();
    };
    Modal_Watcher watcher;
    f.window->CreateFile_QuickLook_View("PDF00002.PDF", 1, 3);
    QCOMPARE(watcher.Box_Texts().size(), 1);
    QVERIFY(watcher.seen.front().informative.contains("disk group"));
    QCOMPARE(f.window->Preview_File, earlier);
    QCOMPARE(f.Find<QGroupBox>("_QuickLook_View_Box")->title(), QString("PDF00002.PDF"));
    // A file where the preview folder should be: nothing can be created in it.
    f.window->preview_source_opener = readable;
    QVERIFY(QDir(f.previews.path()).removeRecursively());
    Write_File(f.previews.path(), "in the way");
    f.window->CreateFile_QuickLook_View("DOC00001.DOC", 1, 3);
    QCOMPARE(watcher.Box_Texts().size(), 2);
    QVERIFY(!watcher.seen.back().informative.contains("disk group"));
    QVERIFY(!f.window->session);
  }

  // Selecting an item fills the preview pane and the count; deselecting
  // empties both, and the same item then shows again. A movie the player
  // cannot play says why instead of leaving a black box.
  void preview_pane_follows_selection_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("note");  // a note says why there is no movie
    QTest::newRow("picture") << 2 << "JPG00001.JPG" << Two_Colour_Jpeg(64, 32) << false;
    QTest::newRow("broken movie") << 1 << "AVI00001.AVI"
                                  << QByteArray("RIFF\x10\0\0\0AVI LIST").append(4000, '\x07') << true;
  }
  void preview_pane_follows_selection() {
    QFETCH(int, mode);
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, note);
    Window_Fixture f;
    f.Choose_Mode(mode);
    f.Find<QLineEdit>("_disk_identifier")->setText("sdb1");
    bytes.resize(4096);
    f.window->preview_source_opener = [bytes](const std::string&, std::string*) {
      return std::make_unique<MemorySectorSource>(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    };
    f.window->addImageWithData_2(name, name, 0, 8);
    f.window->Reload_Results();
    auto* browser = f.Find<QListView>("imageBrowser_2");
    auto* pane = f.Find<QLabel>("_QuickLook_View");
    auto* count = f.Find<QLabel>("_file_count_label");
    const QString empty_title = f.Find<QGroupBox>("_QuickLook_View_Box")->title();
    auto shown = [&](const char* widget) { return !f.Find<QWidget>(widget)->isHidden(); };
    for (int round = 0; round < 2; ++round) {
      browser->setCurrentIndex(browser->model()->index(0, 0));
      QCOMPARE(f.Find<QGroupBox>("_QuickLook_View_Box")->title(), name);
      if (!note) QVERIFY(!pane->pixmap().isNull());
      QCOMPARE(shown("_preview_note"), note);
      QVERIFY(!shown("mMovieView"));
      QVERIFY(count->text().contains("1 selected"));
      browser->clearSelection();
      QVERIFY(pane->pixmap().isNull());
      QVERIFY(!shown("_preview_note"));
      QCOMPARE(f.Find<QGroupBox>("_QuickLook_View_Box")->title(), empty_title);
      QVERIFY(!count->text().contains("selected"));
    }
    // Counts_follow_repeats: an item the browser leaves out adds no row, yet is counted.
    f.window->addImageWithData_2("X" + name, "X", 0, 8);
    f.window->Reload_Results();
    QVERIFY(count->text().startsWith("1 shown of 2 found"));
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
