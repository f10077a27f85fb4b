// A whole recovery from a real FAT32 stick image whose files were deleted,
// once through the window (Add Image, mode, Next to the end-of-scan notice,
// Recover) and once with tamberlin-cli: both must find the same items, the
// general pass must find every planted file of the mode at its first sector,
// both must write the same files and report, every intact planted file must
// come back byte for byte, and the image must stay unchanged.
#include <QCryptographicHash>
#include <QDir>

#include "../ui/window_fixture.h"
#include "fat_image.h"
#include "run_tool.h"

using namespace tamberlin;
using namespace tamberlin::e2e;
using namespace tamberlin::ui;
using namespace tamberlin::ui::testing;

namespace {

constexpr int kTimeoutMs = 300000;  // a guard against a hang, not a speed check

QString Dump(const Found& found) {
  QStringList out;
  for (const auto& [type, sector] : found) out << QStringLiteral("%1@%2").arg(type).arg(sector);
  return out.join(QLatin1Char(' '));
}

}  // namespace

class WindowE2eTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::optional<FatImage> image_;

 private slots:
  void initTestCase() {
    if (const auto missing = Missing_Fat_Tools()) QSKIP(qPrintable(*missing));
    QString error;
    // 40 MiB: FAT32 with one-sector clusters, every file in one piece.
    image_ = Build_Fat_Image(dir_.filePath(QStringLiteral("stick.img")), 40 * 1024, Standard_Files(), &error);
    QVERIFY2(image_.has_value(), qPrintable(QStringLiteral("the stick image could not be made: ") + error));
  }

  void window_and_command_line_recover_the_same_files_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("cli_mode");
    QTest::addColumn<QStringList>("types");  // planted types of the mode
    QTest::newRow("photo") << 0 << "photo" << QStringList{"JPG", "PNG", "GIF"};
    QTest::newRow("raw file") << 2 << "raw" << QStringList{"PDF", "DOCX", "ZIP", "WAV"};
  }
  void window_and_command_line_recover_the_same_files() {
    QFETCH(int, mode);
    QFETCH(QString, cli_mode);
    QFETCH(QStringList, types);
    const QByteArray checksum = image_->Sha256();

    // The window over the real catalogue, scanning the image from its buttons.
    QTemporaryDir by_window, by_cli;
    Window_Fixture fixture(1048576, QStringLiteral(TAMBERLIN_DATA));
    fixture.chooser->image = image_->path;
    MyTableController& window = *fixture.window;
    window.show();
    Modal_Watcher watcher;
    fixture.Choose_Mode(mode);
    window.findChild<QPushButton*>("_add_image_btn")->click();
    QVERIFY(window.Selected_Medium() && window.Selected_Medium()->nsStrDiskIdentifier == image_->path);
    QPushButton* next = window.findChild<QPushButton*>("_next_btn");
    for (int screen = 1; screen <= (mode == 0 ? 2 : 3); ++screen) {
      next->click();
      QCOMPARE(window.screen_counter, screen);
    }
    QVERIFY(window.Wait_For_Scan_End(kTimeoutMs));
    QTRY_COMPARE(watcher.seen.size(), std::size_t{1});  // the end-of-scan notice, and nothing else
    QVERIFY(watcher.Box_Texts().isEmpty());

    // The same scan from the command line, recovering as it goes.
    const tamberlin::testing::ToolRun cli = tamberlin::testing::Run_Tool(
        QStringLiteral(TAMBERLIN_CLI), {"scan", "--mode", cli_mode, "--quiet", "--resources",
                                        QStringLiteral(TAMBERLIN_DATA), "--recover", by_cli.path(), image_->path});
    QVERIFY2(cli.Ok(), qPrintable(cli.problem));
    Found by_cli_rows, general;
    for (const QByteArray& line : cli.out.split('\n').mid(1)) {
      const QList<QByteArray> f = line.split(',');  // pass,name,uid,type,start_sector,end_sector,bytes
      if (f.size() != 7) continue;
      by_cli_rows.insert({QString::fromLatin1(f[3]), f[4].toULongLong()});
      if (f[0] == "GEN") general.insert({QString::fromLatin1(f[3]), f[4].toULongLong()});
    }
    const Found planted = image_->Planted(types);
    QVERIFY2(general == planted, qPrintable(Dump(general) + "\n   planted " + Dump(planted)));
    Found in_window;
    for (const auto& item : window.images.Snapshot())
      in_window.insert({item.image_Name.section(QLatin1Char('.'), -1).toUpper(),
                        mode == 0 ? item.First_Sector : item.File_Start_Sector});
    QVERIFY2(in_window == by_cli_rows, qPrintable(Dump(in_window) + "\n   command line " + Dump(by_cli_rows)));

    // Recover every item through the window.
    window.findChild<QLineEdit*>(mode == 0 ? "_path" : "_path_Sig")->setText(by_window.path());
    window.findChild<QPushButton*>("_recover_btn")->click();
    QVERIFY(window.Wait_For_Recovery_End(kTimeoutMs));
    QTRY_COMPARE(watcher.Box_Texts().size(), 2);  // the question before the copy, then the closing notice

    const QByteArray report = Read_All(by_window.filePath("recovery-report.csv"));
    QCOMPARE(report, Read_All(by_cli.filePath("recovery-report.csv")));
    const QStringList files = QDir(by_window.path()).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(files, QDir(by_cli.path()).entryList(QDir::Files | QDir::Hidden));
    QCOMPARE(watcher.Box_Texts().last(), QStringLiteral("%1 files recovered.").arg(files.size() - 1));
    for (const PlantedFile& f : image_->files) {
      if (!types.contains(f.type) || !f.contiguous) continue;
      const QByteArray sha = QCryptographicHash::hash(f.bytes, QCryptographicHash::Sha256).toHex();
      QVERIFY2(report.contains("," + sha + ","), qPrintable(f.name + " was not recovered exactly"));
    }
    QCOMPARE(image_->Sha256(), checksum);  // nothing writes to the scanned medium
  }
};

QTEST_MAIN(WindowE2eTest)
#include "window_e2e_test.moc"
