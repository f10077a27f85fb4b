// Extraction and preview through the window: the copy against a disk image,
// the sheet and session around it, the hand-over when the scan ends during
// a copy, and what the preview area shows.
#include <QGroupBox>
#include <QLabel>
#include <QMediaPlayer>
#include <QVideoWidget>
#include <atomic>
#include <chrono>
#include <thread>

#include "../results/movie_fixture.h"
#include "../results/test_images.h"
#include "window_fixture.h"

using namespace tamberlin;
using namespace tamberlin::ui;
using namespace tamberlin::ui::testing;

namespace {

QByteArray Numbered_Sectors(int sectors) {
  QByteArray bytes(sectors * 512, '\0');
  for (int i = 0; i < bytes.size(); ++i) bytes[i] = char((i / 512) * 13 + (i % 512));
  return bytes;
}

QByteArray Read_All(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A medium that runs a check on every read.
class Watching_Source final : public SectorSource {
 public:
  Watching_Source(QByteArray bytes, std::function<void(std::uint64_t)> on_read)
      : bytes_(std::move(bytes)), on_read_(std::move(on_read)) {}
  const std::uint8_t* Read_Sector(std::uint64_t sector) override {
    if (on_read_) on_read_(sector);
    if ((sector + 1) * 512 > static_cast<std::uint64_t>(bytes_.size())) return nullptr;
    return reinterpret_cast<const std::uint8_t*>(bytes_.constData()) + sector * 512;
  }

 private:
  QByteArray bytes_;
  std::function<void(std::uint64_t)> on_read_;
};

struct Preview_Fixture : Window_Fixture {
  QString image_path;
  QByteArray image;
  explicit Preview_Fixture(int mode, QByteArray medium = Numbered_Sectors(80)) {
    image = std::move(medium);
    image_path = Image("stick.img");
    Write_File(image_path, image);
    Choose_Mode(mode);
    Find<QLineEdit>("_disk_identifier")->setText(image_path);
  }
  QByteArray Sectors(quint64 from, quint64 to) const {
    return to <= from ? QByteArray() : image.mid(qsizetype(from * 512), qsizetype((to - from) * 512));
  }
  QString Title() { return Find<QGroupBox>("_QuickLook_View_Box")->title(); }
  bool Movie_Shown() { return !Find<QWidget>("mMovieView")->isHidden(); }
  bool Image_Shown() { return !Find<QWidget>("_QuickLook_View")->isHidden(); }
  bool Picture_Shown() {
    const QPixmap p = Find<QLabel>("_QuickLook_View")->pixmap();
    return !p.isNull();
  }
};

}  // namespace

class PreviewWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void Preview_Equals_The_Item_Sectors_data() {
    QTest::addColumn<quint64>("start");
    QTest::addColumn<quint64>("end");
    QTest::newRow("from sector 0") << 0ull << 6ull;
    QTest::newRow("middle") << 31ull << 77ull;
    QTest::newRow("start equals end") << 12ull << 12ull;
  }
  void Preview_Equals_The_Item_Sectors() {
    QFETCH(quint64, start);
    QFETCH(quint64, end);
    Preview_Fixture f(2);
    f.window->CreateFile_QuickLook_View("DOC00001.DOC", start, end);
    QCOMPARE(f.window->Preview_File, f.previews.filePath("dprv.DOC"));
    QCOMPARE(Read_All(f.window->Preview_File), f.Sectors(start, end));
    QCOMPARE(f.Title(), QString("DOC00001.DOC"));
    QVERIFY(!f.window->session);
    QVERIFY(f.window->ClearPreview_Window->isHidden());
  }

  // Regression: a sector that could not be read used to be replaced by the
  // previous sector's bytes and pushed everything after it one sector on.
  void Unreadable_Sector_Does_Not_Shift_The_Rest() {
    Preview_Fixture f(2);
    f.window->preview_source_opener = [&f](const std::string&, std::string*) {
      std::vector<std::uint8_t> bytes(f.image.begin(), f.image.end());
      return std::make_unique<MemorySectorSource>(std::move(bytes), std::set<std::uint64_t>{22});
    };
    f.window->CreateFile_QuickLook_View("PDF00001.PDF", 20, 26);
    const QByteArray expected = f.Sectors(20, 22) + QByteArray(512, '\0') + f.Sectors(23, 26);
    QCOMPARE(Read_All(f.window->Preview_File), expected);
    QVERIFY(f.Find<QGroupBox>("_QuickLook_View_Box")->toolTip().contains("1 sector"));
  }

  void Previous_Preview_Is_Removed() {
    Preview_Fixture f(2);
    f.window->CreateFile_QuickLook_View("DOC00001.DOC", 1, 3);
    const QString first = f.window->Preview_File;
    QVERIFY(QFile::exists(first));
    f.window->CreateFile_QuickLook_View("ZIP00001.ZIP", 4, 5);
    QVERIFY(!QFile::exists(first));
    QCOMPARE(QDir(f.previews.path()).entryList(QDir::Files), QStringList{"dprv.ZIP"});
  }

  // While the copy runs the sheet is up and `session` tells the scan thread.
  void Sheet_And_Session_During_The_Copy() {
    Preview_Fixture f(2);
    int reads = 0;
    bool always_in_session = true;
    f.window->preview_source_opener = [&](const std::string&, std::string*) {
      return std::make_unique<Watching_Source>(f.image, [&](std::uint64_t) {
        ++reads;
        always_in_session &= f.window->session.load() &&
                             f.window->ClearPreview_Window->isVisible();
      });
    };
    f.window->show();
    f.window->CreateFile_QuickLook_View("DOC00001.DOC", 0, 10);
    QCOMPARE(reads, 10);
    QVERIFY(always_in_session);
    QVERIFY(!f.window->session);
    QVERIFY(!f.window->ClearPreview_Window->isVisible());
  }

  // The scan reaches its end during a copy: it only raises stop_now; the copy
  // stops, shows what it has, closes its sheet and then shows the end of scan.
  void Scan_Ending_During_A_Copy_Hands_Over() {
    Preview_Fixture f(2, Numbered_Sectors(4000));
    std::atomic<bool> copying{false};
    f.window->preview_source_opener = [&](const std::string&, std::string*) {
      return std::make_unique<Watching_Source>(f.image, [&](std::uint64_t) {
        copying = true;
        std::this_thread::sleep_for(std::chrono::microseconds(300));
      });
    };
    std::thread scan_end([&] {
      while (!copying) std::this_thread::yield();
      // What the raw scan thread does at its end.
      if (f.window->session.load()) f.window->stop_now = 1;
    });
    Modal_Watcher watcher;
    bool sheet_closed_first = false;
    watcher.on_notice = [&](QWidget* notice) {
      if (notice->objectName() == "SaveFile_Info_For_RAW_Window")
        sheet_closed_first = !f.window->session && f.window->ClearPreview_Window->isHidden();
    };
    f.window->CreateFile_QuickLook_View("DOC00001.DOC", 0, 4000);
    scan_end.join();
    const qint64 copied = QFileInfo(f.window->Preview_File).size();
    QVERIFY(copied < 4000 * 512);
    QCOMPARE(Read_All(f.window->Preview_File), f.Sectors(0, quint64(copied / 512)));
    QCOMPARE(watcher.Count("SaveFile_Info_For_RAW_Window"), 1);
    QVERIFY(sheet_closed_first);
    QCOMPARE(f.window->stop_screen_already_show.load(), 1);
  }

  void Medium_That_Cannot_Be_Opened_Is_Reported() {
    Preview_Fixture f(2);
    f.window->CreateFile_QuickLook_View("DOC00001.DOC", 1, 3);
    const QString earlier = f.window->Preview_File;
    f.window->preview_source_opener = [](const std::string&, std::string* why) {
      *why = "Permission denied: reading sticks and cards needs the disk group.";
      return std::unique_ptr<SectorSource>();
    };
    Modal_Watcher watcher;
    f.window->CreateFile_QuickLook_View("PDF00002.PDF", 1, 3);
    QCOMPARE(watcher.Box_Texts().size(), 1);
    QVERIFY(watcher.seen.front().informative.contains("disk group"));
    QCOMPARE(f.window->Preview_File, earlier);  // the earlier copy is not shown as this one
    QCOMPARE(f.Title(), QString("PDF00002.PDF"));
    QVERIFY(!f.window->session);
  }

  void Unwritable_Preview_Folder_Is_Reported() {
    Preview_Fixture f(2);
    // A file where the preview folder should be: nothing can be created in it.
    QVERIFY(QDir(f.previews.path()).removeRecursively());
    Write_File(f.previews.path(), "in the way");
    Modal_Watcher watcher;
    f.window->CreateFile_QuickLook_View("DOC00001.DOC", 1, 3);
    QCOMPARE(watcher.Box_Texts().size(), 1);
    QCOMPARE(f.Title(), QString("DOC00001.DOC"));
    QVERIFY(f.Picture_Shown());  // the type icon
  }

  void What_The_Preview_Shows_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("movie");
    const QByteArray png = tamberlin::results::testing::Transparent_Png(300);
    QTest::newRow("video mode, still picture") << 1 << "MOV00001.PNG" << png << false;
    QTest::newRow("video mode, not a movie") << 1 << "AVI00001.AVI" << QByteArray(3000, 'z') << false;
    QTest::newRow("raw mode, picture") << 2 << "PNG00001.PNG" << png << false;
    QTest::newRow("raw mode, unknown type") << 2 << "XYZ00001.XYZ" << QByteArray(1024, 'z') << false;
  }
  void What_The_Preview_Shows() {
    QFETCH(int, mode);
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(bool, movie);
    QByteArray medium = Numbered_Sectors(10) + content;
    medium.resize(((medium.size() + 511) / 512) * 512, '\0');
    Preview_Fixture f(mode, medium);
    f.window->CreateFile_QuickLook_View(name, 10, quint64(medium.size() / 512));
    QCOMPARE(f.Title(), name);
    QCOMPARE(f.Movie_Shown(), movie);
    QVERIFY(f.Image_Shown());
    QVERIFY(f.Picture_Shown());
    const QPixmap shown = f.Find<QLabel>("_QuickLook_View")->pixmap();
    QVERIFY(shown.width() <= 200 && shown.height() <= 200);
  }

  // A WebM found in video mode plays in the movie view.
  void Movie_Preview() {
    QTemporaryDir dir;
    const QString why = tamberlin::results::testing::Make_Webm(dir.filePath("t.webm"));
    if (!why.isEmpty()) QSKIP(qPrintable(why));
    QByteArray medium = Numbered_Sectors(7) + Read_All(dir.filePath("t.webm"));
    medium.resize(((medium.size() + 511) / 512) * 512, '\0');
    Preview_Fixture f(1, medium);
    f.window->CreateFile_QuickLook_View("WEBM00001.WEBM", 7, quint64(medium.size() / 512));
    QCOMPARE(f.Title(), QString("WEBM00001.WEBM"));
    QVERIFY(f.Movie_Shown());
    QVERIFY(!f.Image_Shown());
    QMediaPlayer* movie = f.window->Movie();
    QCOMPARE(movie->source(), QUrl::fromLocalFile(f.window->Preview_File));
    QVERIFY(!MyTableController::isPlaying(movie));
    movie->play();
    QTRY_VERIFY_WITH_TIMEOUT(MyTableController::isPlaying(movie), 5000);
    f.window->closemovie_Win();
    QVERIFY(!MyTableController::isPlaying(movie));
    QVERIFY(movie->source().isEmpty());
  }
};

QTEST_MAIN(PreviewWindowTest)
#include "preview_window_test.moc"
