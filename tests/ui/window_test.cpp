// The window's own screens: the media list over a failing lsblk, disk images
// added by path, the exit question, the range sliders on media past the int
// range, found items added as the scan thread adds them, and preview copies
// that fail. Real scans of disk images through it: Stop ends a scan with one
// end-of-scan notice, a second scan starts clean, an unopenable medium sends
// the user back; the folder chooser opens when no folder is set, a bad folder
// is refused, and Cancel leaves no half-written file. Showing each file once:
// the browsers leave out an item that starts at the sector of an earlier one,
// the list stays whole, and a selected row still reaches its own item
// (preview and Recover). Also the question before Recover. Below the window:
// thumbnails and their worker, the found-item list and the copy of an item's
// sectors a preview shows; the media list read from lsblk, and who may read
// block devices.
#include <atomic>
#include <thread>

#include "engine/observed_source.h"
#include "media/media_list.h"
#include "media/raw_access.h"
#include "results/qt/found_items.h"
#include "results/qt/preview_extract.h"
#include "results/qt/thumbnails.h"
#include "tools/sample_files/sample_files.h"
#include "ui/help_texts.h"
#include "ui/range_slider.h"
#include "window_fixture.h"

using namespace tamberlin;
using namespace tamberlin::ui;
using namespace tamberlin::ui::testing;
using namespace tamberlin::media;
using namespace tamberlin::results;

constexpr quint64 k2TbSectors = 3907029168ull;  // a 2 TB disk
constexpr quint64 kSectors = 64;                // of the medium the preview copies read

namespace {

// A JPEG `width` x `height`, left half red and right half blue.
inline QByteArray Two_Colour_Jpeg(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::blue);
  QPainter(&image).fillRect(0, 0, width / 2, height, Qt::red);
  return samples::Encode(image, "jpeg", 95);
}

// `jpeg` with an Exif block saying the picture is stored turned: orientation
// 6 means "rotate 90 degrees clockwise to show".
inline QByteArray With_Exif_Orientation(const QByteArray& jpeg, quint8 orientation) {
  // Big-endian TIFF, IFD0 at 8 with one entry: Orientation, SHORT, one value.
  const QByteArray tiff = QByteArray::fromHex("4D4D002A000000080001011200030000000100") + char(orientation) +
                          QByteArray::fromHex("000000000000");
  const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
  const QByteArray app1 = QByteArray::fromHex("FFE100") + char(payload.size() + 2) + payload;
  return jpeg.left(2) + app1 + jpeg.mid(2);
}

// A PNG with a transparent background and an opaque black square in the middle.
inline QByteArray Transparent_Png(int side) {
  QImage image(side, side, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter(&image).fillRect(side / 4, side / 4, side / 2, side / 2, Qt::black);
  return samples::Encode(image, "png");
}

inline bool Near(QColor a, QColor b) {
  return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) <= 60;
}

// "identifier|volume|file system|size|parent|sectors"
QStringList Rows(const std::vector<MyDataObject>& records) {
  QStringList rows;
  for (const auto& r : records)
    rows << QStringList{r.nsStrDiskIdentifier, r.nsStrVolName, r.nsStrFileSystem, r.nsStrSize, r.nsStrParentDisk,
                        r.nsStrSectors}
                .join(QLatin1Char('|'));
  return rows;
}

constexpr int kTimeoutMs = 300000;  // a guard against a hang, not a speed check

// A small image: JPEGs at 10, 100 and 500, a PNG at 1000 (thorough photo
// pass), Word files at 1200, 1300 and 1400, a PDF at 1600.
const Sector_Headers kSmallImage = {
    {10, Jpeg_Header()},  {100, Jpeg_Header()}, {500, Jpeg_Header()}, {1000, QByteArray::fromHex("89504E470D0A1A0A")},
    {1200, Doc_Header()}, {1300, Doc_Header()}, {1400, Doc_Header()}, {1600, QByteArray("%PDF-1.4\n")}};
// A long, sparse image (1 GiB) that takes a while to read, items near its start.
constexpr quint64 kLongSectors = 2097152;

struct Scan_Fixture : Window_Fixture {
  Modal_Watcher watcher;
  QString image = Image(QStringLiteral("card.img"));

  explicit Scan_Fixture(quint64 sectors = 2048, const Sector_Headers& headers = kSmallImage) {
    Write_Image(image, sectors, headers);
    QVERIFY(window->Add_Image(image));
  }
  // From the media screen to a running scan in `mode` over the image.
  void Start(int mode, bool thorough = true) {
    To_Range_Screen(mode, image);
    Find<QCheckBox>("_Thro_Mode_Chk")->setChecked(thorough);
    window->Next_btn();
    if (mode != 0) window->Next_btn();
    QCOMPARE(window->screen_counter, mode == 0 ? 2 : 3);
  }
  int Notices() const { return watcher.Count("SaveFile_Info_Window") + watcher.Count("SaveFile_Info_For_RAW_Window"); }
  bool Finish() { return window->Wait_For_Scan_End(kTimeoutMs); }
};

// A PDF that ends well inside its sectors.
const QByteArray kPdf("%PDF-1.4\n1 0 obj<<>>endobj\ntrailer<<>>\n%%EOF\n");

// A raw-file scan of an image with the PDF at 100 and Word headers at 200 and 300.
struct Recover_Fixture : Scan_Fixture {
  QTemporaryDir out;

  Recover_Fixture() : Scan_Fixture(4096, {{100, kPdf}, {200, Doc_Header()}, {300, Doc_Header()}}) {
    Start(2);
    QVERIFY(Finish());
  }
  QStringList Written() const { return QDir(out.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
  // Recovers the items in these rows (every item when none).
  void Recover(const std::vector<int>& rows) {
    auto* browser = Find<QListView>("imageBrowser_2");
    for (int r : rows) browser->selectionModel()->select(browser->model()->index(r, 0), QItemSelectionModel::Select);
    window->Recover_btn();
    QVERIFY(window->Wait_For_Recovery_End(kTimeoutMs));
  }
};

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

class WindowTest : public QObject {
  Q_OBJECT

  // Every sector filled with its own number, so a shifted sector shows.
  std::vector<std::uint8_t> bytes_ = [] {
    std::vector<std::uint8_t> bytes(kSectors * 512);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>((i / 512) * 7 + (i % 512));
    return bytes;
  }();
  QByteArray Sector(quint64 s) const { return QByteArray(reinterpret_cast<const char*>(&bytes_[s * 512]), 512); }

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
  // A scan to its end, then Back and the same scan again: one notice per
  // scan, the buttons off while it is up, and the same items each time.
  void scan_and_scan_again_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("thorough");
    QTest::addColumn<int>("items");
    QTest::newRow("photo, both passes") << 0 << true << 4;
    QTest::newRow("photo, general pass only") << 0 << false << 3;
    // DOC is in both lists, so the thorough pass finds the Word files again.
    QTest::newRow("raw file") << 2 << true << 7;
  }
  void scan_and_scan_again() {
    QFETCH(int, mode);
    QFETCH(bool, thorough);
    QFETCH(int, items);
    Scan_Fixture f;
    bool buttons_off = true;
    f.watcher.on_notice = [&](QWidget*) {
      buttons_off = buttons_off && f.window->Scan_In_Progress() && !f.Find<QPushButton>("_next_btn")->isEnabled() &&
                    !f.Find<QPushButton>("_back_btn")->isEnabled();
    };
    f.Start(mode, thorough);
    for (int scan = 1; scan <= 2; ++scan) {
      QVERIFY(f.Finish());
      QCOMPARE(f.Notices(), scan);
      QVERIFY(f.watcher.Box_Texts().isEmpty());
      QVERIFY(buttons_off);
      QCOMPARE(f.window->Found_Item_Count(), items);
      QCOMPARE(f.Text("_sector_label"), QStringLiteral("Sectors 2048 of 2048   ( Completed 100% )"));
      f.window->Back_btn();
      QCOMPARE(f.window->Found_Item_Count(), 0);
      f.window->Next_btn();
    }
  }

  void stop_mid_scan_data() {
    QTest::addColumn<int>("mode");
    QTest::newRow("photo") << 0;
    QTest::newRow("raw file") << 2;
  }
  // Stop keeps the items found so far and skips the thorough pass.
  void stop_mid_scan() {
    QFETCH(int, mode);
    Scan_Fixture f(kLongSectors, {{10, Jpeg_Header()}, {20, Doc_Header()}, {400, Jpeg_Header()}, {600, Doc_Header()}});
    f.Start(mode);
    QTRY_VERIFY(f.window->scan_state.for_index.load() > 1000);
    f.Find<QPushButton>("_stop_scan")->click();
    QVERIFY(f.Finish());
    QTRY_COMPARE(f.Notices(), 1);
    QVERIFY(f.watcher.Box_Texts().isEmpty());
    QVERIFY(f.window->scan_state.for_index.load() < kLongSectors);
    QCOMPARE(f.Text("_Mode_label"), QString::fromUtf8(kGeneralModeLabel));
    QCOMPARE(f.window->Found_Item_Count(), 2);
    QCOMPARE(f.window->stop_now.load(), 0);
    QVERIFY(f.Find<QPushButton>("_back_btn")->isEnabled());
  }

  // A raw scan ending while a preview copy holds its sheet leaves the one
  // end-of-scan notice to the copy.
  void scan_ending_during_preview_copy_shows_one_end_notice() {
    Scan_Fixture f;
    std::atomic<bool> copying{false};
    f.window->scan_source_opener = [&](const std::string& path, std::string* why) {
      copying.wait(false);  // the scan runs once the copy holds its sheet, and ends meanwhile
      return File_Opener()(path, why);
    };
    f.window->preview_source_opener = [&](const std::string&, std::string*) {
      copying = true;
      copying.notify_all();
      while (f.window->Scan_In_Progress()) QCoreApplication::processEvents();
      return std::make_unique<MemorySectorSource>(std::vector<std::uint8_t>(512));
    };
    f.Start(2);
    f.window->CreateFile_QuickLook_View("DOC00001.DOC", 0, 1);
    QCOMPARE(f.Notices(), 1);
    QVERIFY(f.Finish() && f.Notices() == 1);
  }

  void unopenable_medium_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("shown");
    QTest::newRow("photo: back to the range screen") << 0 << "_screen_range";
    QTest::newRow("raw file: back to the file types") << 2 << "_screen_filetypes";
  }
  void unopenable_medium() {
    QFETCH(int, mode);
    QFETCH(QString, shown);
    Scan_Fixture f;
    f.To_Range_Screen(mode, f.image);
    QVERIFY(QFile::remove(f.image));
    f.window->Next_btn();
    if (mode != 0) f.window->Next_btn();
    QVERIFY(f.Finish());
    QTRY_COMPARE(f.watcher.Box_Texts(), QStringList{QString::fromUtf8(kStorageReadError)});
    QVERIFY(!f.watcher.seen[0].informative.isEmpty());  // says why
    QCOMPARE(f.Notices(), 0);
    QVERIFY(f.Shown(shown));
    QVERIFY(!f.Shown("_progress_strip"));
    QVERIFY(f.Find<QPushButton>("_next_btn")->isEnabled() && f.Find<QPushButton>("_back_btn")->isEnabled());
  }

  void chooser_opens_when_no_folder_is_set_and_a_bad_folder_is_refused() {
    Recover_Fixture f;
    f.window->Recover_btn();  // the chooser answers nothing: nothing happens
    QCOMPARE(f.chooser->folder_calls, 1);
    f.Find<QLineEdit>("_path_Sig")->setText(f.out.filePath("gone"));
    f.window->Recover_btn();
    QVERIFY(!f.window->Recovery_In_Progress());
    QCOMPARE(f.watcher.Box_Texts().last(), QStringLiteral("The destination folder does not exist."));
    f.Find<QLineEdit>("_path_Sig")->clear();
    f.chooser->folder = f.out.path();
    f.Recover({0});
    QCOMPARE(f.Text("_path_Sig"), QDir::toNativeSeparators(f.out.path()));
    QVERIFY(f.Written().contains("PDF00001.PDF"));
  }

  // Cancel pressed while the first Word item (100 sectors, to the next
  // header) is being copied.
  void cancel_leaves_no_partial_file() {
    Recover_Fixture f;
    f.Find<QLineEdit>("_path_Sig")->setText(f.out.path());
    const SourceOpener real = f.window->preview_source_opener;
    MyTableController* window = f.window.get();
    // The worker stops at its tenth read until the UI thread has pressed
    // Cancel; the hand-over goes through atomics only.
    auto reached = std::make_shared<std::atomic<bool>>(false), pressed = std::make_shared<std::atomic<bool>>(false);
    f.window->preview_source_opener = [real, window, reached, pressed](
                                          const std::string& p, std::string* why) -> std::unique_ptr<SectorSource> {
      auto inner = real(p, why);
      if (!inner) return nullptr;
      // Selecting the row copies a preview on the UI thread first: only the
      // recovery worker's copy is cancelled.
      return std::make_unique<tamberlin::testing::ObservedSource>(
          std::move(inner), [window, reached, pressed, reads = 0](std::uint64_t) mutable {
        if (++reads != 10 || QThread::currentThread() == window->thread()) return;
        reached->store(true);
        while (!pressed->load()) std::this_thread::yield();
      });
    };
    QTimer press;
    QObject::connect(&press, &QTimer::timeout, [&] {
      if (!reached->load() || pressed->load()) return;
      window->findChild<QProgressDialog*>("_recover_progress")->findChild<QPushButton*>()->click();
      pressed->store(true);
    });
    press.start(1);
    f.Recover({1});
    QVERIFY(f.Written().filter("DOC").isEmpty());
    QVERIFY(f.Written().filter(".part").isEmpty());
    QCOMPARE(f.watcher.Box_Texts().last(), QStringLiteral("Recovery was cancelled."));
  }

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

  void Thumbnail_Size_And_Orientation_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("size");  // empty: no thumbnail
    QTest::addColumn<QColor>("top_left");
    const QByteArray wide = Two_Colour_Jpeg(400, 200);
    QTest::newRow("landscape jpeg") << wide << QSize(100, 50) << QColor(Qt::red);
    // Stored wide, shown tall: the red left half ends up on top.
    QTest::newRow("exif orientation 6") << With_Exif_Orientation(wide, 6) << QSize(50, 100) << QColor(Qt::red);
    // Transparent parts become white, not black.
    QTest::newRow("transparent png") << Transparent_Png(300) << QSize(100, 100) << QColor(Qt::white);
    QTest::newRow("garbage") << QByteArray(4096, '\x5A') << QSize() << QColor();
  }
  void Thumbnail_Size_And_Orientation() {
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, size);
    QFETCH(QColor, top_left);
    const QByteArray thumbnail = Make_Thumbnail(bytes);
    QCOMPARE(thumbnail.isEmpty(), size.isEmpty());
    if (size.isEmpty()) return;
    QVERIFY2(thumbnail.startsWith("\xFF\xD8"), "thumbnail is not a JPEG");
    const QImage image = QImage::fromData(thumbnail);
    QCOMPARE(image.size(), size);
    QVERIFY2(Near(image.pixelColor(3, 3), top_left), qPrintable(image.pixelColor(3, 3).name()));
  }

  // A new scan drops the thumbnails still waiting; the one running finishes.
  void Dropped_Jobs_Are_Not_Run() {
    ThumbnailWorker worker(1);
    std::atomic<bool> started{false}, release{false};
    std::atomic<int> ran{0};
    worker.Submit(QByteArray("a"), [&](const QByteArray&) {
      started = true;
      while (!release) std::this_thread::yield();
      ++ran;
    });
    while (!started) std::this_thread::yield();
    for (int i = 0; i < 5; ++i) worker.Submit(QByteArray("b"), [&](const QByteArray&) { ++ran; });
    worker.Drop_Pending();
    release = true;
    worker.Wait_Idle();
    QCOMPARE(ran.load(), 1);
  }

  // A thumbnail finished after the list was emptied must not land on the
  // item that now has that row.
  void Late_Thumbnail_After_Clear_Is_Dropped() {
    FoundItemList list;
    const auto old_slot = list.Append(MyImageObject::initWithImage_data({}, "OLD.JPG", "old"));
    list.Clear();
    list.Append(MyImageObject::initWithImage_data({}, "NEW.JPG", "new"));
    QVERIFY(!list.Set_Image_Data(old_slot, QByteArray("stale")));
    QVERIFY(list.At(0)->imageData.isEmpty());
    QVERIFY(list.Set_Image_Data({0, list.Generation()}, QByteArray("fresh")));
    QCOMPARE(list.At(0)->imageData, QByteArray("fresh"));
  }

  // Each sector lands at its own offset; an unreadable one, or one past the
  // medium's end, becomes zeros and everything after it stays in place.
  void Copies_The_Item_Sectors() {
    const std::tuple<quint64, quint64, std::set<std::uint64_t>> cases[] = {
        {0, 5, {}}, {9, 9, {}}, {9, 3, {}}, {10, 20, {10, 13, 19}}, {kSectors - 2, kSectors + 3, {}}};
    for (const auto& [start, end, unreadable] : cases) {
      MemorySectorSource source(bytes_, unreadable);
      QTemporaryDir dir;
      const ExtractResult result = Extract_Sectors(source, start, end, dir.filePath("dprv.doc"));
      QVERIFY(result.file_opened && !result.stopped && !result.write_failed);
      QByteArray expected;
      quint64 zeros = 0;
      for (quint64 s = start; s < end; ++s) {
        const bool lost = unreadable.count(s) || s >= kSectors;
        expected += lost ? QByteArray(512, '\0') : Sector(s);
        zeros += lost;
      }
      QCOMPARE(Read_All(dir.filePath("dprv.doc")), expected);
      QCOMPARE(result.sectors_written, end > start ? end - start : 0);
      QCOMPARE(result.unreadable_sectors, zeros);
    }
  }

  // The stop flag ends the copy at the next sector; what was copied stays.
  void Stop_Ends_The_Copy() {
    MemorySectorSource source(bytes_);
    QTemporaryDir dir;
    int asked = 0;
    const ExtractResult result = Extract_Sectors(source, 4, 40, dir.filePath("dprv.mov"), [&] { return ++asked > 2; });
    QVERIFY(result.stopped);
    QCOMPARE(result.sectors_written, 2ull);
    QCOMPARE(Read_All(dir.filePath("dprv.mov")), Sector(4) + Sector(5));
    QVERIFY(!Extract_Sectors(source, 0, 4, "/nonexistent-folder/dprv.doc").file_opened);
  }

  // The preview file is named after the item's extension and never leaves its folder.
  void Preview_File_Names() {
    QCOMPARE(Preview_File_Name("/p", "DOC00002.DOC"), QString("/p/dprv.DOC"));
    QCOMPARE(Preview_File_Name("/p", "a.tar.gz"), QString("/p/dprv.gz"));
    QCOMPARE(Preview_File_Name("/p", "EVIL./../../etc"), QString("/p/dprv"));
  }

  void lsblk_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QByteArray>("blkid");  // what blkid says of every partition
    QTest::addColumn<QStringList>("rows");
    const QByteArray system = Device("sda", "disk", "sata", false, nullptr, nullptr, 256060514304, nullptr,
                                     Device("sda1", "part", nullptr, false, "root", "ext4", 256059465728, "/"));
    const QByteArray stick =
        Device("sdb", "disk", "usb", true, nullptr, nullptr, 8019509248, nullptr,
               Device("sdb1", "part", nullptr, true, "PHOTOS", "vfat", 4009754624, "/media/P") + "," +
                   Device("sdb2", "part", nullptr, true, nullptr, nullptr, 1006632960, "/m"));
    QTest::newRow("system disk left out, stick listed")
        << Lsblk(system + "," + stick) << QByteArray()
        << QStringList{"sdb1|PHOTOS|FAT|3.73  GB |sdb|7831552", "sdb2|Untitled|Unknown|960.00  MB |sdb|1966080"};
    QTest::newRow("blkid fills in the label and file system")
        << Lsblk(stick) << QByteArray("LABEL=My\\ Card\nTYPE=vfat\nVERSION=FAT16\n")
        << QStringList{"sdb1|PHOTOS|FAT16|3.73  GB |sdb|7831552", "sdb2|My Card|FAT16|960.00  MB |sdb|1966080"};
    // An SD card in a built-in reader is not flagged removable, but is on mmc;
    // so is the eMMC beside it, which holds the system and is left out whole.
    QTest::newRow("sd card on mmc, internal emmc left out")
        << Lsblk(Device("mmcblk1", "disk", "mmc", false, nullptr, nullptr, 62537072640, nullptr,
                        Device("mmcblk1p1", "part", nullptr, false, "EFI", "vfat", 536870912, "/boot/efi") + "," +
                            Device("mmcblk1p2", "part", nullptr, false, "DATA", "ext4", 5770398924, "/m/D")) + "," +
                 Device("mmcblk0", "disk", "mmc", false, nullptr, nullptr, 31914983424, nullptr,
                        Device("mmcblk0p1", "part", nullptr, false, "CAMERA", "exfat", 31910789120, "/media/C")))
        << QByteArray() << QStringList{"mmcblk0p1|CAMERA|exFAT|29.72  GB |mmcblk0|62325760"};
    QTest::newRow("loop devices never listed")
        << Lsblk(Device("loop0", "loop", nullptr, true, "IMG", "vfat", 67108864, "/mnt/img")) << QByteArray()
        << QStringList{};
    // util-linux 2.3x: flags and sizes as strings, no PATH or MOUNTPOINTS columns.
    QTest::newRow("old-style flags")
        << QByteArray(R"({"blockdevices":[{"name":"sdd","size":"15931539456","type":"disk","rm":"1","hotplug":"1",)"
                      R"("tran":"usb","mountpoint":null,"children":[{"name":"sdd1","label":"OLD","fstype":"vfat",)"
                      R"("size":"15930490880","type":"part","rm":"1","hotplug":"1","mountpoint":"/media/OLD"}]}]})")
        << QByteArray() << QStringList{"sdd1|OLD|FAT|14.84  GB |sdd|31114240"};
    for (const char* garbage : {"", "lsblk: unknown column\n", "[1,2,3]", R"({"blockdevices":5})",
                                R"({"blockdevices":[1,"sdb",null,[]]})", R"({"blockdevices":[{"name":"sdb")"})
      QTest::newRow(qPrintable(QStringLiteral("garbage: ") + garbage)) << QByteArray(garbage) << QByteArray()
                                                                       << QStringList{};
  }
  void lsblk() {
    QFETCH(QByteArray, json);
    QFETCH(QByteArray, blkid);
    QFETCH(QStringList, rows);
    QString error;
    QCOMPARE(Rows(Parse_Lsblk(json, [&](const QString&) { return Parse_Blkid_Export(blkid); }, &error)), rows);
  }

  // An old lsblk rejects the full column set: the basic set is tried; when
  // lsblk fails altogether the list is empty with a reason.
  void enumeration_survives_lsblk_failure() {
    FakeRunner old_lsblk;
    old_lsblk.lsblk = {std::nullopt, Lsblk(Device("sdd", "disk", "usb", true, "OLD", "vfat", 1048576, "/m"))};
    QString error;
    QCOMPARE(Rows(getVolumeToFSGetInfo(old_lsblk, &error)), QStringList{"sdd|OLD|FAT|1024.00  KB |sdd|2048"});
    FakeRunner no_lsblk;
    QVERIFY(getVolumeToFSGetInfo(no_lsblk, &error).empty());
    QVERIFY(!error.isEmpty());
  }

  // Root or the disk group may read block devices; the note on the media
  // screen follows this.
  void raw_access() {
    constexpr gid_t kDisk = 6;
    const std::tuple<Identity, std::optional<gid_t>, bool> cases[] = {
        {{0, 0, {0}}, kDisk, true},
        {{0, 0, {}}, std::nullopt, true},                       // root, and no disk group on the system
        {{1000, 1000, {1000, 24, 27}}, kDisk, false},           // a plain user
        {{1000, 1000, {4, 20, 24, 27, 46, kDisk}}, kDisk, true},  // the disk group last of many
        {{1000, kDisk, {}}, kDisk, true},                       // the disk group as the primary group
        {{kDisk, 1000, {1000}}, kDisk, false},                  // a user id equal to the group id gives nothing
        {{1000, 1000, {1000, kDisk}}, std::nullopt, false}};
    for (const auto& [who, disk_gid, can_read] : cases) QCOMPARE(Can_Read_Raw_Devices(who, disk_gid), can_read);
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
