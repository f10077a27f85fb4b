// Real scans of disk images through the window: Stop ends a scan with one
// end-of-scan notice, a second scan starts clean, an unopenable medium sends
// the user back; the folder chooser opens when no folder is set, a bad folder
// is refused, and Cancel leaves no half-written file.
#include <atomic>

#include "engine/observed_source.h"
#include "window_fixture.h"

using namespace tamberlin;
using namespace tamberlin::ui;
using namespace tamberlin::ui::testing;
using namespace tamberlin::media;
using namespace tamberlin::results;

namespace {

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

}  // namespace

class ScanRecoverWindowTest : public QObject {
  Q_OBJECT

 private slots:
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
};

QTEST_MAIN(ScanRecoverWindowTest)
#include "scan_recover_window_test.moc"
