// tamberlin-cli scan on a real FAT32 stick image whose files were deleted:
// every planted file must be found at its first sector, with its type, in the
// mode that looks for it; nothing else may be reported in the general pass.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <map>
#include <memory>
#include <set>
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

QByteArray Sha256(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  QCryptographicHash h(QCryptographicHash::Sha256);
  h.addData(&f);
  return h.result().toHex();
}

// What the test expects of a found item: type and first sector.
using Found = std::set<std::pair<std::string, std::uint64_t>>;

Found Found_In(const std::vector<Row>& rows) {
  Found out;
  for (const Row& r : rows) out.insert({r.type, r.start});
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
    QString webm_why;
    std::vector<PlantedFile> files = Standard_Files(&webm_why);
    webm_skip_ = webm_why.toStdString();
    QString error;
    // 40 MiB: FAT32 needs more than 65524 clusters, and mkfs.vfat picks
    // one-sector clusters at this size.
    auto built = Build_Fat_Image(dir_->filePath(QStringLiteral("stick.img")), 40 * 1024, std::move(files), &error);
    if (!built) {
      build_error_ = error.toStdString();
      return;
    }
    image_ = new FatImage(std::move(*built));
    checksum_ = Sha256(image_->path);
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

  static const PlantedFile* File(const QString& name) {
    for (const PlantedFile& f : image_->files)
      if (f.name == name) return &f;
    return nullptr;
  }
  // The planted files of the given types, as the general pass should report
  // them. A header that several types share opens one item per type: by its
  // first bytes a Word document cannot be told from a workbook or a slide
  // show, nor WebM from Matroska.
  static Found Planted(const std::set<std::string>& types, std::uint64_t from = 0, std::uint64_t to = UINT64_MAX) {
    static const std::map<std::string, std::vector<std::string>> kReportedAs = {
        {"DOCX", {"DOCX", "XLSX", "PPTX"}}, {"WEBM", {"MKV", "WEBM"}}};
    Found out;
    for (const PlantedFile& f : image_->files) {
      const std::string type = f.type.toStdString();
      if (!types.count(type) || f.first_sector < from || f.first_sector >= to) continue;
      const auto shared = kReportedAs.find(type);
      for (const std::string& t : shared == kReportedAs.end() ? std::vector<std::string>{type} : shared->second)
        out.insert({t, f.first_sector});
    }
    return out;
  }

  static inline QTemporaryDir* dir_ = nullptr;
  static inline FatImage* image_ = nullptr;
  static inline std::string skip_, webm_skip_, build_error_;
  static inline QByteArray checksum_;
};

TEST_F(StickImageTest, PlantedFilesLieWhereTheFolderSaid) {
  // The builder read the boot sector and the root folder itself; check its
  // reading against mkfs.vfat's choices and the files' own bytes.
  EXPECT_EQ(image_->layout.total_sectors, 40u * 1024 * 2);
  const QByteArray bytes = image_->Read_All();
  for (const PlantedFile& f : image_->files) {
    SCOPED_TRACE(f.name.toStdString());
    EXPECT_TRUE(f.contiguous) << "a fresh stick should hold every file in one piece";
    EXPECT_GE(f.first_sector, image_->layout.First_Data_Sector());
    EXPECT_EQ(bytes.mid(static_cast<qsizetype>(f.first_sector * kSectorBytes), f.bytes.size()), f.bytes);
  }
  // All entries are deleted: a file browser would show an empty stick.
  for (const DirEntry& d : Read_Root_Folder(bytes, image_->layout)) EXPECT_TRUE(d.deleted) << d.name.toStdString();
}

TEST_F(StickImageTest, PlantedFilesAreWhatTheyClaimToBe) {
  // A scan finding a file proves little if the file is broken: decode them.
  QImageReader jpeg(new QBuffer(new QByteArray(File(QStringLiteral("BEACH.JPG"))->bytes)));
  jpeg.device()->open(QIODevice::ReadOnly);
  EXPECT_EQ(jpeg.transformation(), QImageIOHandler::TransformationRotate90) << "Exif orientation 6";
  jpeg.setAutoTransform(true);
  EXPECT_EQ(jpeg.read().size(), QSize(480, 640));
  delete jpeg.device();
  for (const auto& [name, size] : {std::pair{"MAP.PNG", QSize(320, 240)}, std::pair{"WAVE.GIF", QSize(96, 64)}}) {
    const QImage img = QImage::fromData(File(QString::fromLatin1(name))->bytes);
    EXPECT_EQ(img.size(), size) << name;
  }
  // The hand-made GIF: the palette colour of pixel (x, y) is (x/4 + 3*(y/4)) % 128.
  const QImage gif = QImage::fromData(File(QStringLiteral("WAVE.GIF"))->bytes);
  EXPECT_EQ(gif.pixel(0, 0), QColor::fromHsv(0, 200, 230).rgb());
  EXPECT_EQ(gif.pixel(95, 63), QColor::fromHsv((23 + 45) * 360 / 128, 200, 230).rgb());
  EXPECT_TRUE(File(QStringLiteral("NOTES.PDF"))->bytes.startsWith("%PDF-"));
  EXPECT_TRUE(File(QStringLiteral("NOTES.PDF"))->bytes.trimmed().endsWith("%%EOF"));
  EXPECT_EQ(samples::Crc32("123456789"), 0xCBF43926u);  // the standard check value

  const QString unzip = QStandardPaths::findExecutable(QStringLiteral("unzip"));
  if (unzip.isEmpty()) GTEST_SKIP() << "unzip is not installed: the archives were not tested";
  for (const char* name : {"MINUTES.DOCX", "LISTS.ZIP"}) {
    QTemporaryDir dir;
    QFile out(dir.filePath(QString::fromLatin1(name)));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(File(QString::fromLatin1(name))->bytes);
    out.close();
    EXPECT_EQ(QProcess::execute(unzip, {QStringLiteral("-tqq"), out.fileName()}), 0) << name;
  }
}

struct ScanCase {
  const char* name;
  QStringList args;             // before the image path
  std::set<std::string> types;  // planted types the general pass must find, and nothing else
  const char* from_file = nullptr;  // --range from this file's first sector ...
  const char* to_file = nullptr;    // ... up to, not including, this one's
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.name; }

class ScanTableTest : public StickImageTest, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(ScanTableTest, GeneralPassFindsExactlyThePlantedFiles) {
  const ScanCase& c = GetParam();
  QStringList args = c.args;
  std::uint64_t from = 0, to = UINT64_MAX;
  if (c.from_file != nullptr) {
    const PlantedFile* a = File(QString::fromLatin1(c.from_file));
    const PlantedFile* b = File(QString::fromLatin1(c.to_file));
    ASSERT_TRUE(a && b);
    from = a->first_sector;
    to = b->first_sector;
    args << QStringLiteral("--range") << QStringLiteral("%1:%2").arg(from).arg(to);
  }
  if (c.types.count("WEBM") && File(QStringLiteral("CLIP.WEBM")) == nullptr) GTEST_SKIP() << webm_skip_;

  const ScanRun run = Run_Scan(args << image_->path);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.header, "pass,name,uid,type,start_sector,end_sector,bytes");
  const std::vector<Row> general = run.Pass("GEN");
  EXPECT_EQ(Found_In(general), Planted(c.types, from, to)) << run.Dump();
  for (const Row& r : run.rows) {
    SCOPED_TRACE(r.name);
    EXPECT_GE(r.start, from);
    EXPECT_LE(r.end, std::min<std::uint64_t>(to, image_->layout.total_sectors));
    EXPECT_LT(r.start, r.end);
  }
  // The text file is known to no catalogue, in either pass.
  const std::uint64_t text = File(QStringLiteral("SHOPPING.TXT"))->first_sector;
  for (const Row& r : run.rows) EXPECT_NE(r.start, text) << r.pass << " " << r.name;
  // Scanning never writes to the medium.
  EXPECT_EQ(Sha256(image_->path), checksum_);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ScanTableTest,
    ::testing::Values(
        ScanCase{"PhotoEntireDisk", {QStringLiteral("--mode"), QStringLiteral("photo")}, {"JPG", "PNG", "GIF"}},
        ScanCase{"PhotoRangeFromPngToPdf",
                 {QStringLiteral("--mode"), QStringLiteral("photo")},
                 {"JPG", "PNG", "GIF"},
                 "MAP.PNG",
                 "NOTES.PDF"},
        ScanCase{"RawEntireDisk", {QStringLiteral("--mode"), QStringLiteral("raw")}, {"PDF", "DOCX", "ZIP", "WAV"}},
        ScanCase{"RawRangeFromDocxToText",
                 {QStringLiteral("--mode"), QStringLiteral("raw")},
                 {"PDF", "DOCX", "ZIP", "WAV"},
                 "MINUTES.DOCX",
                 "SHOPPING.TXT"},
        ScanCase{"RawTwoTypes",
                 {QStringLiteral("--mode"), QStringLiteral("raw"), QStringLiteral("--types"), QStringLiteral("PDF,WAV")},
                 {"PDF", "WAV"}},
        ScanCase{"VideoEntireDisk", {QStringLiteral("--mode"), QStringLiteral("video")}, {"WEBM"}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(StickImageTest, PhotoItemsAreNamedAndCountedInOrderOfFinding) {
  const ScanRun run = Run_Scan({QStringLiteral("--mode"), QStringLiteral("photo"), QStringLiteral("--no-thorough"), image_->path});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  std::vector<std::string> names;
  for (const Row& r : run.rows) names.push_back(r.name);
  EXPECT_THAT(names, ::testing::ElementsAre("GND00001.JPG", "GND00002.PNG", "GND00003.GIF"));
  for (const Row& r : run.rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(r.uid, r.name);
    EXPECT_EQ(r.pass, "GEN") << "--no-thorough runs the general pass only";
  }
  // A photo item holds the picture's bytes: at least the whole planted file.
  for (const char* name : {"BEACH.JPG", "MAP.PNG", "WAVE.GIF"}) {
    const PlantedFile* f = File(QString::fromLatin1(name));
    const auto it = std::find_if(run.rows.begin(), run.rows.end(), [&](const Row& r) { return r.start == f->first_sector; });
    ASSERT_NE(it, run.rows.end()) << name;
    EXPECT_GE(it->bytes, static_cast<std::uint64_t>(f->bytes.size())) << name;
  }
  // The summary on stderr counts one item per type.
  for (const char* line : {"JPG\t1\tGND00001.JPG", "PNG\t1\tGND00002.PNG", "GIF\t1\tGND00003.GIF"})
    EXPECT_NE(run.err.find(line), std::string::npos) << line << " not in:\n" << run.err;
}

TEST_F(StickImageTest, RawItemsAreNamedPerTypeAndCounted) {
  // The thorough pass runs too: DOCX has thorough signatures (a zip at the
  // start of a sector), which find the Word document again and take the zip
  // for an Office document as well.
  const ScanRun run = Run_Scan({QStringLiteral("--mode"), QStringLiteral("raw"), image_->path});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  SCOPED_TRACE(run.Dump());
  std::map<std::string, std::string> general_name;
  for (const Row& r : run.Pass("GEN")) general_name[r.type] = r.name;
  EXPECT_EQ(general_name, (std::map<std::string, std::string>{{"PDF", "PDF00001.PDF"},
                                                              {"DOCX", "DOCX00001.DOCX"},
                                                              {"XLSX", "XLSX00001.XLSX"},
                                                              {"PPTX", "PPTX00001.PPTX"},
                                                              {"ZIP", "ZIP00001.ZIP"},
                                                              {"WAV", "WAV00001.WAV"}}));
  // Numbers go on across passes, per type.
  const std::uint64_t docx = File(QStringLiteral("MINUTES.DOCX"))->first_sector;
  const std::uint64_t zip = File(QStringLiteral("LISTS.ZIP"))->first_sector;
  std::vector<std::pair<std::string, std::uint64_t>> thorough_docx;
  for (const Row& r : run.Pass("THD"))
    if (r.type == "DOCX") thorough_docx.emplace_back(r.name, r.start);
  EXPECT_THAT(thorough_docx, ::testing::ElementsAre(::testing::Pair("DOCX00002.DOCX", docx),
                                                     ::testing::Pair("DOCX00003.DOCX", zip)));
  // Each item covers at least its whole file: a preview copies these sectors.
  for (const Row& r : run.rows) {
    const auto f = std::find_if(image_->files.begin(), image_->files.end(),
                                [&](const PlantedFile& p) { return p.first_sector == r.start; });
    ASSERT_NE(f, image_->files.end()) << r.name;
    EXPECT_GE(r.end - r.start, (static_cast<std::uint64_t>(f->bytes.size()) + kSectorBytes - 1) / kSectorBytes) << r.name;
  }
  // The per-type counts on stderr cover both passes; types not found are left out.
  for (const char* line : {"PDF\t1\tPDF00001.PDF", "WAV\t1\tWAV00001.WAV", "ZIP\t1\tZIP00001.ZIP", "DOCX\t3\tDOCX00003.DOCX"})
    EXPECT_NE(run.err.find(line), std::string::npos) << line;
  EXPECT_EQ(run.err.find("DOC\t"), std::string::npos);
}

// The same stick attached as a read-only loop device and scanned through
// its /dev/loopN path, as a real stick would be.
TEST_F(StickImageTest, LoopDeviceScanMatchesTheImageAndWritesNothing) {
  if (::geteuid() != 0) GTEST_SKIP() << "attaching a loop device needs root; run the tests as root to cover /dev/loopN";
  const QString losetup = QStandardPaths::findExecutable(QStringLiteral("losetup"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin")});
  if (losetup.isEmpty()) GTEST_SKIP() << "losetup is not installed (util-linux)";
  QProcess attach;
  attach.start(losetup, {QStringLiteral("-r"), QStringLiteral("-f"), QStringLiteral("--show"), image_->path});
  attach.waitForFinished(30000);
  const QString device = QString::fromLocal8Bit(attach.readAllStandardOutput()).trimmed();
  if (attach.exitCode() != 0 || !device.startsWith(QStringLiteral("/dev/loop")))
    GTEST_SKIP() << "no loop device available here: " << attach.readAllStandardError().toStdString();
  struct Detach {
    QString losetup, device;
    ~Detach() { QProcess::execute(losetup, {QStringLiteral("-d"), device}); }
  } detach{losetup, device};

  const ScanRun from_image = Run_Scan({QStringLiteral("--mode"), QStringLiteral("raw"), image_->path});
  const ScanRun from_device = Run_Scan({QStringLiteral("--mode"), QStringLiteral("raw"), device});
  ASSERT_EQ(from_device.exit_code, 0) << from_device.err;
  EXPECT_EQ(Found_In(from_device.Pass("GEN")), Planted({"PDF", "DOCX", "ZIP", "WAV"})) << from_device.Dump();
  EXPECT_EQ(Found_In(from_device.rows), Found_In(from_image.rows));
  EXPECT_EQ(from_device.rows.size(), from_image.rows.size());
  EXPECT_EQ(Sha256(image_->path), checksum_);
}

}  // namespace
}  // namespace tamberlin::e2e

int main(int argc, char** argv) {
  // Drawing the test pictures and the PDF needs a GUI application; no
  // display is needed or wanted.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
