// The window driven through a whole recovery on a real FAT32 stick image
// whose files were deleted: the image is chosen with the Add Image button,
// the mode, range and file types are set on their screens, the scan runs to
// its end-of-scan notice, and what the window found is checked against the
// planted files: type, first sector, name, per-type counts, a thumbnail for
// every photo, and previews holding the original files' bytes.
#include <unistd.h>

#include <QCheckBox>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QListView>
#include <QProcess>
#include <QStandardPaths>

#include <map>
#include <set>

#include "../ui/window_fixture.h"
#include "fat_image.h"

using namespace tamberlin;
using namespace tamberlin::e2e;
using namespace tamberlin::ui;
using namespace tamberlin::ui::testing;

namespace {

constexpr int kScanTimeoutMs = 120000;
const QStringList kNotices = {QStringLiteral("SaveFile_Info_Window"), QStringLiteral("SaveFile_Info_For_RAW_Window")};

// The image dialog answers with one path.
class Image_Chooser final : public FolderChooser {
 public:
  explicit Image_Chooser(QString path) : path_(std::move(path)) {}
  std::optional<QString> Choose_Folder(QWidget*) override { return std::nullopt; }
  std::optional<QString> Choose_Image(QWidget*) override { return path_; }

 private:
  QString path_;
};

QByteArray Read_All(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QString Type_Of(const QString& name) { return name.section(QLatin1Char('.'), -1).toUpper(); }

QString Dump(const Found& found) {
  QStringList out;
  for (const auto& [type, sector] : found) out << QStringLiteral("%1@%2").arg(type).arg(sector);
  return out.join(QLatin1Char(' '));
}

// lsblk output listing one mounted USB stick partition at `device_path`.
QByteArray Stick_At(const QString& device_path, quint64 bytes) {
  return QStringLiteral(
             R"({"blockdevices":[{"name":"sdz","path":"/dev/sdz","size":%1,"tran":"usb","type":"disk",)"
             R"("rm":true,"hotplug":true,"mountpoints":[null],"children":[{"name":"%2","path":"%3",)"
             R"("label":"STICK","fstype":"vfat","size":%1,"type":"part","rm":true,"hotplug":true,)"
             R"("mountpoints":["/media/STICK"]}]}]})")
      .arg(bytes)
      .arg(QFileInfo(device_path).fileName(), device_path)
      .toUtf8();
}

// A window over the real catalogue, with no sticks and the stick image
// offered by the image dialog.
struct E2e_Window {
  QTemporaryDir previews;
  std::shared_ptr<FakeRunner> runner = std::make_shared<FakeRunner>();
  std::unique_ptr<MyTableController> window;
  std::unique_ptr<Modal_Watcher> watcher;

  explicit E2e_Window(const QString& image, const QByteArray& lsblk = R"({"blockdevices":[]})") {
    runner->lsblk = lsblk;
    ControllerSetup setup;
    setup.data_dir = QStringLiteral(TAMBERLIN_DATA);
    setup.preview_dir = previews.path();
    setup.runner = runner;
    setup.chooser = std::make_shared<Image_Chooser>(image);
    setup.quit = [] {};
    window = std::make_unique<MyTableController>(setup);
    window->resize(1280, 800);
    window->show();
    watcher = std::make_unique<Modal_Watcher>();
  }
  ~E2e_Window() {
    if (window) window->Wait_For_Scan_End(kScanTimeoutMs);
  }

  template <typename T>
  T* Find(const char* name) {
    T* w = window->findChild<T*>(QLatin1String(name));
    if (!w) qWarning("no widget %s", name);
    return w;
  }
  // A line edit's or label's text.
  QString Text(const QString& name) const {
    if (auto* edit = window->findChild<QLineEdit*>(name)) return edit->text();
    if (auto* label = window->findChild<QLabel*>(name)) return label->text();
    return QStringLiteral("<no widget %1>").arg(name);
  }
  int Notices() const { return watcher->Count(kNotices[0]) + watcher->Count(kNotices[1]); }
  std::map<QString, QString> Counts() const {
    std::map<QString, QString> out;
    for (const auto& r : window->nsSIGFileInfoDataObject.Snapshot())
      out[QString::fromStdString(r.FileTypes)] = QString::fromStdString(r.NoOfFile);
    return out;
  }
  Found Items() const {
    Found out;
    for (const auto& item : window->images.Snapshot())
      out.insert({Type_Of(item.image_Name), window->Recovery_MODE == 0 ? item.First_Sector : item.File_Start_Sector});
    return out;
  }
  // The found item of this type starting at `sector`, by its row in the file
  // browser (which shows each file once).
  std::optional<int> Row_Of(const QString& type, quint64 sector) const {
    for (const auto& item : window->images.Snapshot()) {
      if (Type_Of(item.image_Name) != type || item.File_Start_Sector != sector) continue;
      const QAbstractItemModel* model = window->findChild<QListView*>("imageBrowser_2")->model();
      for (int row = 0; row < model->rowCount(); ++row)
        if (model->index(row, 0).data().toString() == item.image_Name) return row;
    }
    return std::nullopt;
  }
  // How many entries a browser shows: one per start sector.
  int Starts() const {
    std::set<quint64> starts;
    for (const auto& item : window->images.Snapshot()) starts.insert(item.Medium_Start().value_or(0));
    return int(starts.size());
  }
};

// The thorough pass's Office signature is any zip at the start of a sector:
// it finds the Word document again and takes the zip for one as well.
const QStringList kThoroughOfficeItems = {"DOCX@MINUTES.DOCX", "XLSX@MINUTES.DOCX", "PPTX@MINUTES.DOCX",
                                          "DOCX@LISTS.ZIP",    "XLSX@LISTS.ZIP",    "PPTX@LISTS.ZIP"};

// Where the window's range ends: before `to_file`, or the whole stick.
struct Range {
  const char* from_file = nullptr;
  const char* to_file = nullptr;
};

}  // namespace

Q_DECLARE_METATYPE(Range)

class WindowE2eTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::optional<FatImage> image_;
  QByteArray checksum_;
  QString webm_why_;

  const PlantedFile* File(const QString& name) const { return image_->File(name); }

  // Planted() plus the further items named TYPE@FILE.
  Found Expected(const QStringList& types, const QStringList& extra, quint64 from, quint64 to) const {
    Found out = image_->Planted(types, from, to);
    for (const QString& e : extra)
      out.insert({e.section(QLatin1Char('@'), 0, 0), File(e.section(QLatin1Char('@'), 1))->first_sector});
    return out;
  }

  // Media screen to the end-of-scan notice: Add Image, mode radio, Next,
  // range, Next, (file types, Next), wait for the notice.
  void Run_Scan(E2e_Window& w, int mode, const QString& medium, Range range, const QStringList& ticked,
                bool thorough, quint64* from, quint64* to) {
    const char* radios[] = {"_rec_mode_Photo", "_rec_mode_Video", "_rec_mode_RawFile"};
    w.Find<QRadioButton>(radios[mode])->click();
    QCOMPARE(w.window->Recovery_MODE.load(), mode);
    if (QFileInfo(medium).isFile()) {
      w.Find<QPushButton>("_add_image_btn")->click();
      QVERIFY(w.window->Image_Paths().contains(medium));
    }
    // The chosen medium is the selected row.
    const media::MyDataObject* selected = w.window->Selected_Medium();
    QVERIFY(selected != nullptr);
    QVERIFY2(medium.endsWith(selected->nsStrDiskIdentifier), qPrintable(selected->nsStrDiskIdentifier));
    w.Find<QPushButton>("_next_btn")->click();
    QCOMPARE(w.window->screen_counter, 1);

    const QString s = mode == 0 ? QString() : QStringLiteral("_Sig");
    const quint64 total = image_->layout.total_sectors;
    QCOMPARE(w.Text("_end_sector_entire_val" + s), QString::number(total));
    *from = 0;
    *to = total;
    if (range.from_file != nullptr) {
      *from = File(QString::fromLatin1(range.from_file))->first_sector;
      *to = range.to_file ? File(QString::fromLatin1(range.to_file))->first_sector : total;
      w.window->findChild<QRadioButton*>("_sector_range_rd" + s)->click();
      for (auto [field, value] : {std::pair{"_Start_slider_val", *from}, std::pair{"_End_slider_val", *to}}) {
        QLineEdit* edit = w.window->findChild<QLineEdit*>(QLatin1String(field) + s);
        edit->selectAll();
        QTest::keyClicks(edit, QString::number(value));
        QCOMPARE(edit->text(), QString::number(value));
      }
    }
    if (mode == 0) {
      w.Find<QCheckBox>("_Thro_Mode_Chk")->setChecked(thorough);
    } else {
      w.Find<QPushButton>("_next_btn")->click();
      QCOMPARE(w.window->screen_counter, 2);
      w.Find<QCheckBox>("_Thro_Mode_Chk_SIG")->setChecked(thorough);
      if (!ticked.isEmpty()) {
        // Untick everything with the select-all box, then click the boxes
        // of the chosen types.
        QCheckBox* all = w.Find<QCheckBox>("_select_unselect_Chk");
        QVERIFY(all->isChecked());
        all->click();
        QTableView* table = w.Find<QTableView>("idCheckTableView");
        const auto& rows = w.window->nsCheckedListDataObject();
        for (std::size_t r = 0; r < rows.size(); ++r) {
          QVERIFY(!rows[r].State);
          if (!ticked.contains(QString::fromStdString(rows[r].Extension))) continue;
          const QModelIndex box = table->model()->index(static_cast<int>(r), 0);
          table->scrollTo(box);
          QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(box).center());
          QVERIFY2(rows[r].State, rows[r].Extension.c_str());
        }
      }
    }
    QElapsedTimer clock;
    clock.start();
    w.Find<QPushButton>("_next_btn")->click();
    QVERIFY(w.window->Scan_In_Progress() || w.Notices() == 1);
    QVERIFY(w.window->Wait_For_Scan_End(kScanTimeoutMs));
    QTRY_COMPARE_WITH_TIMEOUT(w.Notices(), 1, 10000);
    QVERIFY2(w.watcher->Box_Texts().isEmpty(), qPrintable(w.watcher->Box_Texts().join(QLatin1Char('|'))));
    qInfo("scan took %lld ms", static_cast<long long>(clock.elapsed()));
    QVERIFY(w.Find<QPushButton>("_back_btn")->isEnabled());
  }

 private slots:
  void initTestCase() {
    if (const auto missing = Missing_Fat_Tools()) QSKIP(qPrintable(*missing));
    QString error;
    // 40 MiB: FAT32 with one-sector clusters.
    image_ = Build_Fat_Image(dir_.filePath(QStringLiteral("stick.img")), 40 * 1024, Standard_Files(&webm_why_), &error);
    QVERIFY2(image_.has_value(), qPrintable(QStringLiteral("the stick image could not be made: ") + error));
    checksum_ = image_->Sha256();
  }

  void photo_scan_data() {
    QTest::addColumn<bool>("thorough");
    QTest::addColumn<Range>("range");
    QTest::addColumn<QStringList>("names");  // the items in order of finding
    QTest::newRow("entire disk, general pass") << false << Range{} << QStringList{"GND00001.JPG", "GND00002.PNG", "GND00003.GIF"};
    // The thorough pass adds its own items after the general pass's.
    QTest::newRow("entire disk, thorough pass too")
        << true << Range{}
        << QStringList{"GND00001.JPG", "GND00002.PNG", "GND00003.GIF", "THD00001.JPG", "THD00002.PNG", "THD00003.GIF"};
    // The range ends before its end sector: the GIF starting there is not found.
    QTest::newRow("sector range from the PNG up to the GIF") << true << Range{"MAP.PNG", "WAVE.GIF"}
                                                             << QStringList{"GND00001.PNG", "THD00001.PNG"};
  }
  void photo_scan() {
    QFETCH(bool, thorough);
    QFETCH(Range, range);
    QFETCH(QStringList, names);
    E2e_Window w(image_->path);
    quint64 from = 0, to = 0;
    Run_Scan(w, 0, image_->path, range, {}, thorough, &from, &to);
    if (QTest::currentTestFailed()) return;

    const auto items = w.window->images.Snapshot();
    QStringList found_names;
    for (const auto& item : items) found_names << item.image_Name;
    QCOMPARE(found_names, names);
    // Each pass finds every planted photo of the range at its first sector.
    const Found planted = image_->Planted({"JPG", "PNG", "GIF"}, from, to);
    std::map<QString, Found> per_pass;
    for (const auto& item : items) {
      QCOMPARE(item.image_UID, item.image_Name);
      per_pass[item.image_Name.left(3)].insert({Type_Of(item.image_Name), item.First_Sector});
      // The item holds at least the whole picture.
      const auto file = std::find_if(image_->files.begin(), image_->files.end(),
                                     [&](const PlantedFile& f) { return f.first_sector == item.First_Sector; });
      QVERIFY2(file != image_->files.end(), qPrintable(item.image_Name));
      QVERIFY2(item.Sector_Count * kSectorBytes >= quint64(file->bytes.size()), qPrintable(item.image_Name));
    }
    for (const auto& [pass, found] : per_pass)
      QVERIFY2(found == planted, qPrintable(pass + ": " + Dump(found) + " != " + Dump(planted)));

    // Every photo gets a thumbnail of its own picture, upright.
    w.window->Wait_For_Thumbnails();
    for (const auto& item : w.window->images.Snapshot()) {
      QVERIFY2(!item.thumbnail_pending, qPrintable(item.image_Name));
      QVERIFY2(item.imageData != w.window->Null_Image_Data, qPrintable(item.image_Name + " shows the placeholder"));
      const QImage thumb = QImage::fromData(item.imageData);
      QVERIFY2(!thumb.isNull(), qPrintable(item.image_Name));
      const QString type = Type_Of(item.image_Name);
      if (type == QLatin1String("JPG"))
        QVERIFY2(thumb.height() > thumb.width(), "the 640x480 JPEG with Exif orientation 6 stands upright");
      else
        QVERIFY2(thumb.width() > thumb.height(), qPrintable(item.image_Name));
    }
    // The photo browser shows each picture once, however many passes found it.
    QListView* browser = w.Find<QListView>("imageBrowser");
    QCOMPARE(browser->model()->rowCount(), w.Starts());
    QVERIFY(w.window->findChild<QWidget*>("_screen_photo_results")->isVisible());
    QCOMPARE(image_->Sha256(), checksum_);
  }

  void file_scan_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<Range>("range");
    QTest::addColumn<QStringList>("ticked");   // empty: every type
    QTest::addColumn<QStringList>("planted");  // the planted types expected from the general pass
    QTest::addColumn<QStringList>("extra");    // TYPE@FILE: further items, from either pass
    // In these modes the thorough pass runs whenever a ticked type has
    // thorough signatures, whatever the box says.
    QTest::newRow("raw, entire disk, every type")
        << 2 << Range{} << QStringList{} << QStringList{"PDF", "DOCX", "ZIP", "WAV"} << kThoroughOfficeItems;
    // With DOCX unticked, the Word document is found as the zip it is.
    QTest::newRow("raw, three types ticked")
        << 2 << Range{} << QStringList{"PDF", "WAV", "ZIP"} << QStringList{"PDF", "ZIP", "WAV"}
        << QStringList{"ZIP@MINUTES.DOCX"};
    QTest::newRow("raw, sector range from the DOCX up to the text")
        << 2 << Range{"MINUTES.DOCX", "SHOPPING.TXT"} << QStringList{} << QStringList{"PDF", "DOCX", "ZIP", "WAV"}
        << kThoroughOfficeItems;
    // The thorough Matroska signature (after padding) finds the clip again.
    QTest::newRow("video, entire disk") << 1 << Range{} << QStringList{} << QStringList{"WEBM"}
                                        << QStringList{"MKV@CLIP.WEBM"};
    QTest::newRow("video, sector range from the WAV")
        << 1 << Range{"BIRDS.WAV", nullptr} << QStringList{} << QStringList{"WEBM"} << QStringList{"MKV@CLIP.WEBM"};
  }
  void file_scan() {
    QFETCH(int, mode);
    QFETCH(Range, range);
    QFETCH(QStringList, ticked);
    QFETCH(QStringList, planted);
    QFETCH(QStringList, extra);
    const PlantedFile* clip = File(QStringLiteral("CLIP.WEBM"));
    if (planted.contains(QLatin1String("WEBM")) && clip == nullptr) QSKIP(qPrintable(webm_why_));
    E2e_Window w(image_->path);
    quint64 from = 0, to = 0;
    Run_Scan(w, mode, image_->path, range, ticked, true, &from, &to);
    if (QTest::currentTestFailed()) return;

    const Found expected = Expected(planted, extra, from, to);
    const Found found = w.Items();
    QVERIFY2(found == expected, qPrintable(Dump(found) + "\n   expected " + Dump(expected)));

    // Names count per type in the order of finding; the summary counts them.
    std::map<QString, int> per_type;
    for (const auto& item : w.window->images.Snapshot()) {
      const QString type = Type_Of(item.image_Name);
      const int n = ++per_type[type];
      QCOMPARE(item.image_Name, QStringLiteral("%1%2.%1").arg(type).arg(n, 5, 10, QLatin1Char('0')));
      QVERIFY2(item.File_End_Sector > item.File_Start_Sector, qPrintable(item.image_Name));
      QVERIFY2(item.File_End_Sector <= to, qPrintable(item.image_Name));
    }
    const auto counts = w.Counts();
    for (const auto& [type, count] : counts) {
      const auto it = per_type.find(type);
      QCOMPARE(count, QString::number(it == per_type.end() ? 0 : it->second));
    }
    for (const auto& [type, n] : per_type) QVERIFY2(counts.count(type), qPrintable(type + " has no summary row"));
    if (!ticked.isEmpty()) {
      QStringList rows;
      for (const auto& [type, count] : counts) rows << type;
      ticked.sort();
      QCOMPARE(rows, ticked);  // unticked types are neither searched nor listed
    }
    QListView* browser = w.Find<QListView>("imageBrowser_2");
    QCOMPARE(browser->model()->rowCount(), w.Starts());
    QVERIFY(w.window->findChild<QWidget*>("_screen_raw_results")->isVisible());
    QCOMPARE(image_->Sha256(), checksum_);
  }

  // Selecting an item in the file browser copies its sectors from the stick
  // into the preview folder: the file starts with the planted file's bytes.
  void preview_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("previews");  // TYPE@FILE, selected in turn
    QTest::newRow("raw file") << 2
                              << QStringList{"PDF@NOTES.PDF", "ZIP@LISTS.ZIP", "WAV@BIRDS.WAV", "DOCX@MINUTES.DOCX"};
    QTest::newRow("video") << 1 << QStringList{"WEBM@CLIP.WEBM"};
  }
  void preview() {
    QFETCH(int, mode);
    QFETCH(QStringList, previews);
    if (mode == 1 && File(QStringLiteral("CLIP.WEBM")) == nullptr) QSKIP(qPrintable(webm_why_));
    E2e_Window w(image_->path);
    quint64 from = 0, to = 0;
    Run_Scan(w, mode, image_->path, Range{}, {}, false, &from, &to);
    if (QTest::currentTestFailed()) return;
    QListView* browser = w.Find<QListView>("imageBrowser_2");
    w.Find<QCheckBox>("_show_once_chk")->setChecked(false);  // every item as found, the WebM after its MKV too
    for (const QString& p : previews) {
      const QString type = p.section(QLatin1Char('@'), 0, 0);
      const PlantedFile* file = File(p.section(QLatin1Char('@'), 1));
      const auto row = w.Row_Of(type, file->first_sector);
      QVERIFY2(row.has_value(), qPrintable(p));
      const QString name = browser->model()->index(*row, 0).data().toString();
      browser->selectionModel()->select(browser->model()->index(*row, 0), QItemSelectionModel::ClearAndSelect);
      QTRY_VERIFY_WITH_TIMEOUT(!w.window->session && w.window->Preview_File.endsWith(QStringLiteral("dprv.") + type), 20000);
      QCOMPARE(QFileInfo(w.window->Preview_File).absolutePath(), QDir(w.window->Preview_Folder()).absolutePath());
      const QByteArray copied = Read_All(w.window->Preview_File);
      QVERIFY2(copied.size() >= file->bytes.size(), qPrintable(p));
      QVERIFY2(copied.startsWith(file->bytes), qPrintable(p + " preview does not begin with the file's bytes"));
      QCOMPARE(w.window->findChild<QGroupBox*>("_QuickLook_View_Box")->title(), name);
      if (type == QLatin1String("PDF")) {
        // A PDF is shown by its first page.
        QVERIFY(!w.window->findChild<QLabel*>("_QuickLook_View")->pixmap().isNull());
      }
    }
    // The end-of-scan notice came once; previews raise no other.
    QCOMPARE(w.Notices(), 1);
    QVERIFY(w.watcher->Box_Texts().isEmpty());
    QCOMPARE(image_->Sha256(), checksum_);
  }

  // Recover through the window and with `tamberlin-cli scan --recover` on the
  // same stick: the same files, and every intact planted file comes back
  // byte for byte.
  void recover_matches_the_command_line_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("cli_mode");
    QTest::addColumn<QStringList>("exact");  // planted files that must come back exactly
    QTest::newRow("photo") << 0 << "photo" << QStringList{"JPG", "PNG", "GIF"};
    QTest::newRow("raw file") << 2 << "raw" << QStringList{"PDF", "DOCX", "ZIP", "WAV"};
  }
  void recover_matches_the_command_line() {
    QFETCH(int, mode);
    QFETCH(QString, cli_mode);
    QFETCH(QStringList, exact);
    E2e_Window w(image_->path);
    quint64 from = 0, to = 0;
    Run_Scan(w, mode, image_->path, Range{}, {}, true, &from, &to);
    if (QTest::currentTestFailed()) return;
    QTemporaryDir by_window, by_cli;
    w.window->findChild<QLineEdit*>(mode == 0 ? "_path" : "_path_Sig")->setText(by_window.path());
    QPushButton* recover = w.Find<QPushButton>("_recover_btn");
    QVERIFY(recover->isVisible() && recover->isEnabled());
    recover->click();
    QVERIFY(w.window->Wait_For_Recovery_End(kScanTimeoutMs));
    QCOMPARE(w.watcher->Box_Texts().size(), 2);  // the question before the copy, the closing notice

    QProcess cli;
    cli.start(QStringLiteral(TAMBERLIN_CLI), {"scan", "--mode", cli_mode, "--quiet", "--resources",
                                              QStringLiteral(TAMBERLIN_DATA), "--recover", by_cli.path(), image_->path});
    QVERIFY(cli.waitForFinished(kScanTimeoutMs));
    QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());

    const QByteArray report = Read_All(by_window.filePath("recovery-report.csv"));
    QCOMPARE(report, Read_All(by_cli.filePath("recovery-report.csv")));
    const QStringList files = QDir(by_window.path()).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(files, QDir(by_cli.path()).entryList(QDir::Files | QDir::Hidden));
    // Both passes find the same items; each is written once.
    QCOMPARE(w.watcher->Box_Texts().last(), QStringLiteral("%1 files recovered.").arg(files.size() - 1));
    QVERIFY(files.size() - 1 < w.window->Found_Item_Count());
    for (const PlantedFile& f : image_->files) {
      if (!exact.contains(f.type) || !f.contiguous) continue;
      const QByteArray sha = QCryptographicHash::hash(f.bytes, QCryptographicHash::Sha256).toHex();
      QVERIFY2(report.contains("," + sha + ","), qPrintable(f.name + " was not recovered exactly"));
    }
    QCOMPARE(image_->Sha256(), checksum_);
  }

  // The stick attached read-only as a loop device and scanned through its
  // /dev/loopN path, as lsblk would list a real stick.
  void loop_device() {
    if (::geteuid() != 0) QSKIP("attaching a loop device needs root; run the tests as root to cover /dev/loopN");
    if (!QFileInfo::exists(QStringLiteral("/dev/loop-control"))) QSKIP("no /dev/loop-control: loop devices are not available here");
    const QString losetup = QStandardPaths::findExecutable(
        QStringLiteral("losetup"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin")});
    if (losetup.isEmpty()) QSKIP("losetup is not installed (util-linux)");
    QProcess attach;
    attach.start(losetup, {QStringLiteral("-r"), QStringLiteral("-f"), QStringLiteral("--show"), image_->path});
    QVERIFY(attach.waitForFinished(30000));
    const QString device = QString::fromLocal8Bit(attach.readAllStandardOutput()).trimmed();
    if (attach.exitCode() != 0 || !device.startsWith(QStringLiteral("/dev/loop")))
      QSKIP(qPrintable(QStringLiteral("no loop device could be attached: ") + QString::fromLocal8Bit(attach.readAllStandardError())));
    // Detached however the test ends.
    struct Detach {
      QString losetup, device;
      ~Detach() { QProcess::execute(losetup, {QStringLiteral("-d"), device}); }
    } detach{losetup, device};

    const quint64 bytes = image_->layout.total_sectors * kSectorBytes;
    E2e_Window w(QString(), Stick_At(device, bytes));
    QCOMPARE(w.window->nsMutaryOfDataObject().size(), std::size_t(1));
    QVERIFY(w.window->findChild<QTableView*>("idTableView")->model()->rowCount() == 1);
    w.window->findChild<QTableView*>("idTableView")->selectRow(0);
    quint64 from = 0, to = 0;
    Run_Scan(w, 2, device, Range{}, {}, true, &from, &to);
    if (QTest::currentTestFailed()) return;
    QCOMPARE(w.Text(QStringLiteral("_disk_identifier")), QFileInfo(device).fileName());
    const Found expected = Expected({"PDF", "DOCX", "ZIP", "WAV"}, kThoroughOfficeItems, from, to);
    const Found found = w.Items();
    QVERIFY2(found == expected, qPrintable(Dump(found) + "\n   expected " + Dump(expected)));
    // A preview reads the device too.
    const PlantedFile* pdf = File(QStringLiteral("NOTES.PDF"));
    QListView* browser = w.Find<QListView>("imageBrowser_2");
    browser->selectionModel()->select(browser->model()->index(*w.Row_Of("PDF", pdf->first_sector), 0),
                                      QItemSelectionModel::ClearAndSelect);
    QTRY_VERIFY_WITH_TIMEOUT(!w.window->session && w.window->Preview_File.endsWith(QStringLiteral("dprv.PDF")), 20000);
    QVERIFY(Read_All(w.window->Preview_File).startsWith(pdf->bytes));
    w.window.reset();
    QCOMPARE(image_->Sha256(), checksum_);
  }
};

QTEST_MAIN(WindowE2eTest)
#include "window_e2e_test.moc"
