// tamberlin-cli scan on a real FAT32 stick image whose files were deleted:
// the CSV on stdout lists exactly the planted files of the mode, and the
// summary on stderr counts them. The window's end-to-end test covers the
// other modes, sector ranges, type choices and the loop device.
#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>
#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <string>
#include <vector>

#include "fat_image.h"
#include "sample_files.h"

namespace tamberlin::e2e {
namespace {

struct Row {
  std::string pass, name, uid, type;
  std::uint64_t start = 0, end = 0, bytes = 0;
};

struct ScanRun {
  int exit_code = -1;
  std::vector<Row> rows;
  std::string err;
  std::string header;

  // The output as tamberlin-cli printed it, for failure messages.
  std::string Dump() const {
    std::string out = header + "\n";
    for (const Row& r : rows)
      out += r.pass + "," + r.name + "," + r.uid + "," + r.type + "," + std::to_string(r.start) + "," +
             std::to_string(r.end) + "," + std::to_string(r.bytes) + "\n";
    return out + err;
  }

  std::vector<Row> Pass(const std::string& pass) const {
    std::vector<Row> out;
    for (const Row& r : rows)
      if (r.pass == pass) out.push_back(r);
    return out;
  }
};

ScanRun Run_Scan(const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral(TAMBERLIN_CLI), QStringList{QStringLiteral("scan"), QStringLiteral("--quiet")} + args);
  ScanRun run;
  if (!p.waitForFinished(300000)) {
    p.kill();
    p.waitForFinished();
    run.err = "tamberlin-cli scan did not finish in five minutes";
    return run;
  }
  run.exit_code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  run.err = p.readAllStandardError().toStdString();
  const QList<QByteArray> lines = p.readAllStandardOutput().split('\n');
  for (const QByteArray& line : lines) {
    if (line.isEmpty()) continue;
    if (run.header.empty()) {
      run.header = line.toStdString();
      continue;
    }
    const QList<QByteArray> f = line.split(',');
    if (f.size() != 7) {
      ADD_FAILURE() << "not a CSV row of seven fields: " << line.toStdString();
      continue;
    }
    run.rows.push_back({f[0].toStdString(), f[1].toStdString(), f[2].toStdString(), f[3].toStdString(),
                        f[4].toULongLong(), f[5].toULongLong(), f[6].toULongLong()});
  }
  return run;
}

Found Found_In(const std::vector<Row>& rows) {
  Found out;
  for (const Row& r : rows) out.insert({QString::fromStdString(r.type), r.start});
  return out;
}

std::string Dump(const Found& found) {
  std::string out;
  for (const auto& [type, sector] : found) out += type.toStdString() + "@" + std::to_string(sector) + " ";
  return out;
}

class StickImageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new QTemporaryDir();
    if (const auto missing = Missing_Fat_Tools()) {
      skip_ = missing->toStdString();
      return;
    }
    QString error;
    // 40 MiB: FAT32 needs more than 65524 clusters, and mkfs.vfat picks
    // one-sector clusters at this size.
    auto built = Build_Fat_Image(dir_->filePath(QStringLiteral("stick.img")), 40 * 1024, Standard_Files(), &error);
    if (!built) {
      build_error_ = error.toStdString();
      return;
    }
    image_ = new FatImage(std::move(*built));
    checksum_ = image_->Sha256();
  }
  static void TearDownTestSuite() {
    delete image_;
    image_ = nullptr;
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!skip_.empty()) GTEST_SKIP() << skip_;
    ASSERT_TRUE(build_error_.empty()) << "the stick image could not be made: " << build_error_;
    ASSERT_NE(image_, nullptr);
  }

  static const PlantedFile* File(const char* name) { return image_->File(QString::fromLatin1(name)); }

  static inline QTemporaryDir* dir_ = nullptr;
  static inline FatImage* image_ = nullptr;
  static inline std::string skip_, build_error_;
  static inline QByteArray checksum_;
};

TEST_F(StickImageTest, PlantedFilesAreWhatTheyClaimToBe) {
  // A scan finding a file proves little if the file is broken: decode them.
  for (const PlantedFile& f : image_->files)
    EXPECT_TRUE(f.contiguous) << f.name.toStdString() << ": a fresh stick should hold every file in one piece";
  QByteArray jpeg_bytes = File("BEACH.JPG")->bytes;
  QBuffer jpeg_buffer(&jpeg_bytes);
  jpeg_buffer.open(QIODevice::ReadOnly);
  QImageReader jpeg(&jpeg_buffer);
  EXPECT_EQ(jpeg.transformation(), QImageIOHandler::TransformationRotate90) << "Exif orientation 6";
  jpeg.setAutoTransform(true);
  EXPECT_EQ(jpeg.read().size(), QSize(480, 640));
  for (const auto& [name, size] : {std::pair{"MAP.PNG", QSize(320, 240)}, std::pair{"WAVE.GIF", QSize(96, 64)}}) {
    const QImage img = QImage::fromData(File(name)->bytes);
    EXPECT_EQ(img.size(), size) << name;
  }
  // The hand-made GIF: the palette colour of pixel (x, y) is (x/4 + 3*(y/4)) % 128.
  const QImage gif = QImage::fromData(File("WAVE.GIF")->bytes);
  EXPECT_EQ(gif.pixel(0, 0), QColor::fromHsv(0, 200, 230).rgb());
  EXPECT_EQ(gif.pixel(95, 63), QColor::fromHsv((23 + 45) * 360 / 128, 200, 230).rgb());
  EXPECT_TRUE(File("NOTES.PDF")->bytes.startsWith("%PDF-"));
  EXPECT_TRUE(File("NOTES.PDF")->bytes.trimmed().endsWith("%%EOF"));
  EXPECT_EQ(samples::Crc32("123456789"), 0xCBF43926u);  // the standard check value

  const QString unzip = QStandardPaths::findExecutable(QStringLiteral("unzip"));
  if (unzip.isEmpty()) GTEST_SKIP() << "unzip is not installed: the archives were not tested";
  for (const char* name : {"MINUTES.DOCX", "LISTS.ZIP"}) {
    QTemporaryDir dir;
    QFile out(dir.filePath(QString::fromLatin1(name)));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(File(name)->bytes);
    out.close();
    EXPECT_EQ(QProcess::execute(unzip, {QStringLiteral("-tqq"), out.fileName()}), 0) << name;
  }
}

struct ScanCase {
  const char* name;
  QStringList args;                   // before the image path
  QStringList types;                  // planted types the general pass must find, and nothing else
  std::vector<std::string> summary;   // lines the per-type summary on stderr must hold
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.name; }

class ScanTableTest : public StickImageTest, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(ScanTableTest, CsvListsExactlyThePlantedFiles) {
  const ScanCase& c = GetParam();
  const ScanRun run = Run_Scan(c.args + QStringList{image_->path});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  SCOPED_TRACE(run.Dump());
  EXPECT_EQ(run.header, "pass,name,uid,type,start_sector,end_sector,bytes");
  const Found general = Found_In(run.Pass("GEN"));
  const Found planted = image_->Planted(c.types);
  EXPECT_EQ(general, planted) << Dump(general) << "\n   expected " << Dump(planted);
  const std::uint64_t text = File("SHOPPING.TXT")->first_sector;
  for (const Row& r : run.rows) {
    SCOPED_TRACE(r.name);
    EXPECT_LT(r.start, r.end);
    EXPECT_LE(r.end, image_->layout.total_sectors);
    EXPECT_NE(r.start, text) << "the text file is known to no catalogue, in either pass";
  }
  for (const std::string& line : c.summary) EXPECT_NE(run.err.find(line), std::string::npos) << line;
  EXPECT_EQ(image_->Sha256(), checksum_) << "scanning never writes to the medium";
}

// In raw mode the thorough pass runs too, but adds nothing here: each file is
// counted once; types not found are left out.
INSTANTIATE_TEST_SUITE_P(
    Modes, ScanTableTest,
    ::testing::Values(
        ScanCase{"PhotoGeneralPass",
                 {QStringLiteral("--mode"), QStringLiteral("photo"), QStringLiteral("--no-thorough")},
                 {"JPG", "PNG", "GIF"},
                 {"JPG\t1\tGND00001.JPG", "PNG\t1\tGND00002.PNG", "GIF\t1\tGND00003.GIF"}},
        ScanCase{"RawEntireDisk",
                 {QStringLiteral("--mode"), QStringLiteral("raw")},
                 {"PDF", "DOCX", "ZIP", "WAV"},
                 {"PDF\t1\tPDF00001.PDF", "WAV\t1\tWAV00001.WAV", "ZIP\t1\tZIP00001.ZIP", "DOCX\t1\tDOCX00001.DOCX"}}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace tamberlin::e2e

int main(int argc, char** argv) {
  // Drawing the test pictures and the PDF needs a GUI application; no
  // display is needed or wanted.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
