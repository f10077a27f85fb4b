// Real scans of disk images through the window: items reach the found-item
// list and the summary, the progress shows, Stop ends a scan with one
// end-of-scan notice, a second scan starts clean, an unopenable medium sends
// the user back, and a window closed mid-scan ends the scan thread.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QProgressBar>

#include "help_texts.h"
#include "scan.h"
#include "window_fixture.h"

using namespace tamberlin;
using namespace tamberlin::ui;
using namespace tamberlin::ui::testing;

namespace {

constexpr int kScanTimeoutMs = 120000;
const QString kPhotoNotice = QStringLiteral("SaveFile_Info_Window");
const QString kRawNotice = QStringLiteral("SaveFile_Info_For_RAW_Window");

// A small image: JPEGs at 10, 100 and 500, a PNG at 1000 (thorough photo
// pass), Word files at 1200, 1300 and 1400, a PDF at 1600.
constexpr quint64 kSmallSectors = 2048;
std::vector<std::pair<quint64, QByteArray>> Small_Image_Headers() {
  return {{10, Jpeg_Header()},
          {100, Jpeg_Header()},
          {500, Jpeg_Header()},
          {1000, QByteArray::fromHex("89504E470D0A1A0A0000000D")},
          {1200, Doc_Header()},
          {1300, Doc_Header()},
          {1400, Doc_Header()},
          {1600, QByteArray("%PDF-1.4\n")}};
}

// A long, sparse image (1 GiB) that takes a while to read, items near its start.
constexpr quint64 kLongSectors = 2097152;
std::vector<std::pair<quint64, QByteArray>> Long_Image_Headers() {
  return {{10, Jpeg_Header()}, {20, Doc_Header()}, {400, Jpeg_Header()}, {600, Doc_Header()}};
}

struct Scan_Fixture : Window_Fixture {
  Modal_Watcher watcher;
  QString image;

  Scan_Fixture(quint64 sectors, const std::vector<std::pair<quint64, QByteArray>>& headers) {
    image = Image(QStringLiteral("card.img"));
    Write_Image(image, sectors, headers);
    QVERIFY(window->Add_Image(image));
  }

  // From the media screen to a running scan in `mode` over the image.
  void Start(int mode) {
    To_Range_Screen(mode, image);
    window->Next_btn();
    if (mode != 0) {
      QCOMPARE(window->screen_counter, 2);
      window->Next_btn();
      QCOMPARE(window->screen_counter, 3);
    }
  }
  int Notices() const { return watcher.Count(kPhotoNotice) + watcher.Count(kRawNotice); }
  bool Finish() { return window->Wait_For_Scan_End(kScanTimeoutMs); }
  std::string Count_Of(const char* type) {
    for (const auto& r : window->nsSIGFileInfoDataObject.Snapshot())
      if (r.FileTypes == type) return r.NoOfFile;
    return "none";
  }
};

}  // namespace

class ScanWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void photo_scan_data() {
    QTest::addColumn<bool>("thorough");
    QTest::addColumn<int>("items");
    QTest::newRow("general and thorough pass") << true << 4;
    QTest::newRow("general pass only") << false << 3;
  }
  void photo_scan() {
    QFETCH(bool, thorough);
    QFETCH(int, items);
    Scan_Fixture f(kSmallSectors, Small_Image_Headers());
    f.To_Range_Screen(0, f.image);
    f.Find<QCheckBox>("_Thro_Mode_Chk")->setChecked(thorough);
    bool waiting_scan = false;
    bool buttons_off = false;
    f.watcher.on_notice = [&](QWidget*) {
      waiting_scan = f.window->Scan_In_Progress();  // the scan thread waits for the user
      buttons_off = !f.Find<QPushButton>("_next_btn")->isEnabled() &&
                    !f.Find<QPushButton>("_back_btn")->isEnabled();
    };
    f.window->Next_btn();
    QCOMPARE(f.window->screen_counter, 2);
    QVERIFY(f.Shown("_screen_photo_results"));
    QVERIFY(f.Finish());

    QCOMPARE(f.watcher.Count(kPhotoNotice), 1);
    QVERIFY(f.watcher.Box_Texts().isEmpty());
    QVERIFY(waiting_scan);
    QVERIFY(buttons_off);
    QCOMPARE(f.window->Found_Item_Count(), items);
    QCOMPARE(f.Text("_help_info"), QString::fromUtf8(kEndHelp));
    QCOMPARE(f.Text("_sector_label"), QStringLiteral("Sectors 2048 of 2048   ( Completed 100% )"));
    QCOMPARE(f.Text("_Mode_label"), QString::fromUtf8(thorough ? kThoroughModeLabel : kGeneralModeLabel));
    for (const char* hidden : {"_Mode_label", "_Progress_Horz", "_sector_label", "_stop_scan"})
      QVERIFY2(!f.Shown(hidden), hidden);
    QVERIFY(f.Shown("_zoom_slider"));
    QVERIFY(f.Find<QPushButton>("_back_btn")->isEnabled());
    QVERIFY(!f.Find<QPushButton>("_next_btn")->isEnabled());
    QVERIFY(f.Find<QCheckBox>("_Thro_Mode_Chk")->isEnabled());
    QVERIFY(f.Find<QPushButton>("_browse_path")->isEnabled());
    QCOMPARE(f.window->stop_now.load(), 0);
  }

  void raw_scan() {
    Scan_Fixture f(kSmallSectors, Small_Image_Headers());
    f.Start(2);
    QVERIFY(f.Shown("_screen_raw_results"));
    QVERIFY(f.Finish());
    QCOMPARE(f.watcher.Count(kRawNotice), 1);
    QCOMPARE(f.Notices(), 1);
    QVERIFY(f.watcher.Box_Texts().isEmpty());
    // DOC is in both lists, so the thorough pass finds the Word files again.
    QCOMPARE(f.Count_Of("DOC"), std::string("6"));
    QCOMPARE(f.Count_Of("PDF"), std::string("1"));
    QCOMPARE(f.Count_Of("ZIP"), std::string("0"));
    QCOMPARE(f.window->Found_Item_Count(), 7);
    QVERIFY(!f.Shown("_zoom_slider"));
    QCOMPARE(f.Text("_sector_label"), QStringLiteral("Sectors 2048 of 2048   ( Completed 100% )"));
  }

  void raw_scan_with_an_unticked_type() {
    Scan_Fixture f(kSmallSectors, Small_Image_Headers());
    f.To_Range_Screen(2, f.image);
    f.window->Next_btn();
    const auto& rows = f.window->nsCheckedListDataObject();
    for (std::size_t r = 0; r < rows.size(); ++r)
      if (rows[r].Extension == "DOC") f.window->setObjectValue(0, QStringLiteral("State"), static_cast<int>(r));
    f.window->Next_btn();
    QVERIFY(f.Finish());
    QCOMPARE(f.Count_Of("DOC"), std::string("none"));
    QCOMPARE(f.Count_Of("PDF"), std::string("1"));
    QCOMPARE(f.window->Found_Item_Count(), 1);
  }

  void stop_mid_scan_data() {
    QTest::addColumn<int>("mode");
    QTest::newRow("photo") << 0;
    QTest::newRow("raw file") << 2;
  }
  void stop_mid_scan() {
    QFETCH(int, mode);
    Scan_Fixture f(kLongSectors, Long_Image_Headers());
    f.Start(mode);
    // The window repaints and the progress moves while the scan runs.
    QTRY_VERIFY_WITH_TIMEOUT(f.window->scan_state.for_index.load() > 1000, kScanTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(f.Text("_sector_label").startsWith(QStringLiteral("Sectors ")) &&
                                 f.Text("_sector_label").contains(QStringLiteral(" of 2097152")) &&
                                 !f.Text("_sector_label").startsWith(QStringLiteral("Sectors 0 ")),
                             10000);
    QVERIFY(f.window->Scan_In_Progress());
    QElapsedTimer clock;
    clock.start();
    f.Find<QPushButton>("_stop_scan")->click();
    QTRY_COMPARE_WITH_TIMEOUT(f.Notices(), 1, 10000);
    QVERIFY2(clock.elapsed() < 5000, "Stop took effect late");
    QVERIFY(f.Finish());
    QCOMPARE(f.Notices(), 1);
    QVERIFY(f.watcher.Box_Texts().isEmpty());
    QVERIFY(f.window->scan_state.for_index.load() < kLongSectors);
    // No thorough pass after a stop; the items found so far are kept.
    QCOMPARE(f.Text("_Mode_label"), QString::fromUtf8(kGeneralModeLabel));
    QCOMPARE(f.window->Found_Item_Count(), 2);
    QCOMPARE(f.window->stop_now.load(), 0);
    QVERIFY(f.Find<QPushButton>("_back_btn")->isEnabled());
  }

  void second_scan_after_back_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("items");
    QTest::newRow("photo") << 0 << 4;
    QTest::newRow("raw file") << 2 << 7;
  }
  void second_scan_after_back() {
    QFETCH(int, mode);
    QFETCH(int, items);
    Scan_Fixture f(kSmallSectors, Small_Image_Headers());
    f.Start(mode);
    QVERIFY(f.Finish());
    QCOMPARE(f.window->Found_Item_Count(), items);
    f.window->Back_btn();
    QCOMPARE(f.window->screen_counter, mode == 0 ? 1 : 2);
    QCOMPARE(f.window->Found_Item_Count(), 0);
    QVERIFY(f.Shown(mode == 0 ? "_screen_range" : "_screen_filetypes"));
    QVERIFY(f.Find<QPushButton>("_next_btn")->isEnabled());
    f.window->Next_btn();
    // The progress strip is back for the new scan.
    QVERIFY(f.Shown("_Progress_Horz") && f.Shown("_stop_scan") && f.Shown("_sector_label"));
    QVERIFY(f.Finish());
    QCOMPARE(f.Notices(), 2);  // one per scan
    QCOMPARE(f.window->Found_Item_Count(), items);
    if (mode != 0) QCOMPARE(f.Count_Of("DOC"), std::string("6"));
  }

  void unopenable_medium_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("screen");
    QTest::addColumn<QString>("shown");
    QTest::newRow("photo: back to the range screen") << 0 << 1 << "_screen_range";
    QTest::newRow("raw file: back to the file types") << 2 << 2 << "_screen_filetypes";
    QTest::newRow("video: back to the file types") << 1 << 2 << "_screen_filetypes";
  }
  void unopenable_medium() {
    QFETCH(int, mode);
    QFETCH(int, screen);
    QFETCH(QString, shown);
    Scan_Fixture f(kSmallSectors, {{10, QByteArray::fromHex("52494646")}});
    f.To_Range_Screen(mode, f.image);
    QVERIFY(QFile::remove(f.image));
    f.window->Next_btn();
    if (mode != 0) f.window->Next_btn();
    QVERIFY(f.Finish());
    QCOMPARE(f.watcher.Box_Texts(), QStringList{QString::fromUtf8(kStorageReadError)});
    QVERIFY(!f.watcher.seen[0].informative.isEmpty());  // says why
    QCOMPARE(f.Notices(), 0);
    QCOMPARE(f.window->screen_counter, screen);
    QVERIFY(f.Shown(shown));
    QVERIFY(!f.Shown("_progress_strip"));
    QVERIFY(f.Find<QPushButton>("_next_btn")->isEnabled());
    QVERIFY(f.Find<QPushButton>("_back_btn")->isEnabled());
    QVERIFY(!f.window->findChild<QTimer*>(QStringLiteral("mSetLabelTimer"))->isActive());
  }

  void raw_scan_ending_under_a_preview() {
    Scan_Fixture f(kSmallSectors, Small_Image_Headers());
    f.window->session = true;  // a preview extraction holds its sheet
    f.Start(2);
    QVERIFY(f.Finish());
    QCOMPARE(f.Notices(), 0);
    QCOMPARE(f.window->stop_now.load(), 1);  // the preview shows the end screen when it closes
    f.window->session = false;
    f.window->Final_or_Stop_Screen();
    QCOMPARE(f.Notices(), 1);
    QCOMPARE(f.window->stop_now.load(), 0);
    QVERIFY(f.Find<QPushButton>("_back_btn")->isEnabled());
  }

  void closing_the_window_mid_scan() {
    Scan_Fixture f(kLongSectors, Long_Image_Headers());
    f.Start(0);
    QTRY_VERIFY_WITH_TIMEOUT(f.window->scan_state.for_index.load() > 1000, kScanTimeoutMs);
    QElapsedTimer clock;
    clock.start();
    f.window.reset();  // stops the scan and ends its thread
    QVERIFY2(clock.elapsed() < 10000, "closing waited for the whole scan");
    QCOMPARE(f.Notices(), 0);
  }
};

QTEST_MAIN(ScanWindowTest)
#include "scan_window_test.moc"
