// Recognition of real files: each case writes a file the way ordinary
// software does (Qt's writers, the archivers and GStreamer when this machine
// has them, or a container laid out by hand), takes its first 512 bytes as the
// sector a scan would read, and checks that the shipped list names its type.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QXmlStreamWriter>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "gui_environment.h"
#include "catalogue.h"
#include "engine/data_dir.h"
#include "header_index.h"
#include "sample_files.h"

namespace tamberlin {
namespace {

// The start of a made file, or why this machine cannot make it.
struct Made {
  QByteArray bytes;
  QString skip;
};

Made Skip(const QString& why) { return {{}, why}; }

// ---- Qt's own writers ------------------------------------------------------

Made Qt_Image(const char* format) {
  if (!QImageWriter::supportedImageFormats().contains(format)) {
    return Skip(QStringLiteral("Qt has no %1 writer here").arg(QString::fromLatin1(format)));
  }
  QString error;
  const QByteArray out = samples::Encode(samples::Test_Picture(64, 48), format, -1, &error);
  if (out.isEmpty()) return Skip("the image writer failed: " + error);
  return {out, {}};
}

Made Qt_Pdf() { return {samples::Make_Pdf(QStringLiteral("Notes"), QStringLiteral("Found on the card")), {}}; }

Made Qt_Html() {
  QTextDocument doc;
  doc.setHtml(QStringLiteral("<h1>Notes</h1><p>Found on the card</p>"));
  return {doc.toHtml().toUtf8(), {}};
}

Made Qt_Xml() {
  QByteArray out;
  QXmlStreamWriter xml(&out);
  xml.writeStartDocument();
  xml.writeStartElement(QStringLiteral("notes"));
  xml.writeTextElement(QStringLiteral("note"), QStringLiteral("Found on the card"));
  xml.writeEndElement();
  xml.writeEndDocument();
  return {out, {}};
}

// ---- containers laid out by hand ------------------------------------------

Made Stored_Zip(const std::vector<samples::ZipEntry>& entries) { return {samples::Make_Stored_Zip(entries), {}}; }

Made Docx() { return {samples::Make_Docx(1), {}}; }

Made Epub() {
  return Stored_Zip({
      {"mimetype", "application/epub+zip"},
      {"META-INF/container.xml",
       R"(<?xml version="1.0"?><container version="1.0" xmlns="urn:oasis:names:tc:opendocument:xmlns:container">)"
       R"(<rootfiles><rootfile full-path="content.opf" media-type="application/oebps-package+xml"/></rootfiles></container>)"},
  });
}

Made Odt() {
  return Stored_Zip({
      {"mimetype", "application/vnd.oasis.opendocument.text"},
      {"content.xml", R"(<?xml version="1.0" encoding="UTF-8"?><office:document-content/>)"},
  });
}

Made Jar() {
  return Stored_Zip({
      {"META-INF/", ""},
      {"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nCreated-By: Tamberlin\r\n\r\n"},
  });
}

Made Plain_Zip() { return Stored_Zip({{"notes.txt", "Found on the card\n"}}); }

Made Wav() { return {samples::Make_Wav(500, 8000), {}}; }

// ---- files already on the machine -----------------------------------------

Made Read_File(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return Skip("cannot read " + path);
  return {f.read(static_cast<qint64>(kSectorSize)), {}};
}

Made This_Program() { return Read_File(QCoreApplication::applicationFilePath()); }

Made DejaVu_Font() {
  for (const char* p : {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", "/usr/share/fonts/TTF/DejaVuSans.ttf",
                        "/usr/share/fonts/dejavu/DejaVuSans.ttf"}) {
    if (QFile::exists(QString::fromLatin1(p))) return Read_File(QString::fromLatin1(p));
  }
  return Skip(QStringLiteral("no DejaVu Sans font installed"));
}

// ---- other programs ---------------------------------------------------------

// Runs `program` in a fresh folder that holds input.txt and returns the start
// of `result` (or of its standard output when `result_on_stdout`).
Made Run_Tool(const QString& program, const QStringList& args, const QString& result,
              bool result_on_stdout = false) {
  const QString exe = QStandardPaths::findExecutable(program);
  if (exe.isEmpty()) return Skip(program + " is not installed");
  QTemporaryDir dir;
  if (!dir.isValid()) return Skip(QStringLiteral("no temporary folder"));
  {
    QFile input(dir.filePath(QStringLiteral("input.txt")));
    if (!input.open(QIODevice::WriteOnly)) return Skip(QStringLiteral("cannot write input.txt"));
    for (int i = 0; i < 200; ++i) input.write("A line of text that was on the card before it was lost\n");
  }
  QProcess process;
  process.setWorkingDirectory(dir.path());
  process.setStandardOutputFile(result_on_stdout ? dir.filePath(result) : QProcess::nullDevice());
  process.start(exe, args);
  if (!process.waitForFinished(120000)) {
    process.kill();
    process.waitForFinished();
    return Skip(program + " did not finish");
  }
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
    return Skip(program + " failed: " + QString::fromLocal8Bit(process.readAllStandardError()).trimmed());
  }
  Made made = Read_File(dir.filePath(result));
  if (made.skip.isEmpty() && made.bytes.isEmpty()) return Skip(program + " wrote an empty file");
  return made;
}

Made Stdout_Of(const char* program) {
  return Run_Tool(QString::fromLatin1(program), {QStringLiteral("-c"), QStringLiteral("input.txt")},
                  QStringLiteral("out"), true);
}

// A GStreamer pipeline whose last element's output goes to a file; missing
// elements make gst-launch fail, which skips the case.
Made Gst(const char* pipeline) {
  QStringList args = QProcess::splitCommand(QString::fromLatin1(pipeline));
  args.prepend(QStringLiteral("-q"));
  args << QStringLiteral("!") << QStringLiteral("filesink") << QStringLiteral("location=out");
  return Run_Tool(QStringLiteral("gst-launch-1.0"), args, QStringLiteral("out"));
}

#define VIDEO "videotestsrc num-buffers=10 ! video/x-raw,width=176,height=144,framerate=25/1 ! "
#define STILL "videotestsrc num-buffers=1 ! video/x-raw,width=64,height=48 ! "
#define AUDIO "audiotestsrc num-buffers=10 ! audioconvert ! "

using testing::Data_Dir;

// ---- the table ---------------------------------------------------------------

struct Case {
  const char* name;
  const char* catalogue;
  const char* type;  // the type the scan must give the file
  std::function<Made()> make;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

bool Is_Photo_List(std::string_view catalogue) {
  return catalogue == kPhotoCatalogue || catalogue == kPhotoThoroughCatalogue;
}

class Recognition : public ::testing::TestWithParam<Case> {};

TEST_P(Recognition, FirstSectorNamesTheType) {
  const Case& c = GetParam();
  const auto data_dir = Data_Dir();
  ASSERT_FALSE(data_dir.empty()) << "no data folder found; set TAMBERLIN_DATA_DIR";
  const StringList list = Load_Catalogue_File(data_dir / c.catalogue);
  ASSERT_GT(Record_Count(list), 0u) << "no records in " << c.catalogue;

  const Made made = c.make();
  if (!made.skip.isEmpty()) GTEST_SKIP() << made.skip.toStdString();
  ASSERT_FALSE(made.bytes.isEmpty());

  std::array<std::uint8_t, kSectorSize> sector{};
  std::memcpy(sector.data(), made.bytes.constData(),
              std::min(sector.size(), static_cast<std::size_t>(made.bytes.size())));
  const std::string start = made.bytes.left(32).toHex().toUpper().toStdString();

  const HeaderIndex index(list);
  const std::size_t found = index.Find(sector.data());
  ASSERT_NE(found, HeaderIndex::npos) << c.type << " starting " << start << " matches nothing in "
                                      << c.catalogue;
  if (Is_Photo_List(c.catalogue)) {
    // The photo scan names the item after the matching record alone.
    EXPECT_EQ(index[found].type, c.type) << "file starting " << start << " matched "
                                         << index[found].signature_text;
  } else {
    // The raw scan opens a candidate for every record of the match's family.
    std::vector<std::string> opened;
    for (auto m : index.Family(found)) opened.push_back(index[m].type);
    EXPECT_NE(std::find(opened.begin(), opened.end(), c.type), opened.end())
        << "file starting " << start << " matched " << index[found].type << " "
        << index[found].signature_text << ", which does not open " << c.type;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, Recognition,
    ::testing::Values(
        // Pictures, general photo pass
        Case{"QtJpeg", kPhotoCatalogue, "JPG", [] { return Qt_Image("jpeg"); }},
        Case{"QtPng", kPhotoCatalogue, "PNG", [] { return Qt_Image("png"); }},
        Case{"HandGif", kPhotoCatalogue, "GIF", [] { return Made{samples::Make_Gif(64, 48), {}}; }},  // Qt has no GIF writer
        Case{"QtBmp", kPhotoCatalogue, "BMP", [] { return Qt_Image("bmp"); }},
        Case{"QtTiff", kPhotoCatalogue, "TIF", [] { return Qt_Image("tiff"); }},
        Case{"QtWebp", kPhotoCatalogue, "WEBP", [] { return Qt_Image("webp"); }},
        Case{"GstBmp", kPhotoCatalogue, "BMP", [] { return Gst(STILL "avenc_bmp"); }},
        Case{"GstTiff", kPhotoCatalogue, "TIF", [] { return Gst(STILL "avenc_tiff"); }},
        Case{"GstJpeg2000", kPhotoCatalogue, "JP2", [] { return Gst(STILL "avenc_jpeg2000"); }},
        // Pictures, thorough photo pass
        Case{"QtJpegThorough", kPhotoThoroughCatalogue, "JPG", [] { return Qt_Image("jpeg"); }},
        Case{"QtIcon", kPhotoThoroughCatalogue, "ICO", [] { return Qt_Image("ico"); }},
        Case{"GstPcx", kPhotoThoroughCatalogue, "PCX", [] { return Gst(STILL "avenc_pcx"); }},
        // Documents
        Case{"QtPdf", kRawCatalogue, "PDF", Qt_Pdf},
        Case{"QtHtml", kRawCatalogue, "HTML", Qt_Html},
        Case{"QtXml", kRawCatalogue, "XML", Qt_Xml},
        Case{"Docx", kRawCatalogue, "DOCX", Docx},
        Case{"Odt", kRawCatalogue, "ODT", Odt},
        Case{"Epub", kRawCatalogue, "EPUB", Epub},
        Case{"Sqlite", kRawCatalogue, "SQLITE",
             [] {
               return Run_Tool(QStringLiteral("sqlite3"),
                               {QStringLiteral("t.db"),
                                QStringLiteral("CREATE TABLE t(x); INSERT INTO t VALUES('card');")},
                               QStringLiteral("t.db"));
             }},
        // Archives
        Case{"HandZip", kRawCatalogue, "ZIP", Plain_Zip},
        Case{"Jar", kRawCatalogue, "JAR", Jar},
        Case{"ZipTool", kRawCatalogue, "ZIP",
             [] {
               return Run_Tool(QStringLiteral("zip"), {QStringLiteral("-q"), QStringLiteral("t.zip"),
                                                       QStringLiteral("input.txt")},
                               QStringLiteral("t.zip"));
             }},
        Case{"Tar", kRawCatalogue, "TAR",
             [] {
               return Run_Tool(QStringLiteral("tar"), {QStringLiteral("-cf"), QStringLiteral("t.tar"),
                                                       QStringLiteral("input.txt")},
                               QStringLiteral("t.tar"));
             }},
        Case{"Gzip", kRawCatalogue, "GZ", [] { return Stdout_Of("gzip"); }},
        Case{"Bzip2", kRawCatalogue, "BZ2", [] { return Stdout_Of("bzip2"); }},
        Case{"Xz", kRawCatalogue, "XZ", [] { return Stdout_Of("xz"); }},
        // Audio
        Case{"HandWav", kRawCatalogue, "WAV", Wav},
        Case{"GstWav", kRawCatalogue, "WAV", [] { return Gst(AUDIO "wavenc"); }},
        Case{"GstFlac", kRawCatalogue, "FLAC", [] { return Gst(AUDIO "flacenc"); }},
        Case{"GstVorbis", kRawCatalogue, "OGG", [] { return Gst(AUDIO "vorbisenc ! oggmux"); }},
        Case{"GstOpus", kRawCatalogue, "OPUS", [] { return Gst(AUDIO "audioresample ! opusenc ! oggmux"); }},
        Case{"GstAiff", kRawCatalogue, "AIFF", [] { return Gst(AUDIO "avmux_aiff"); }},
        Case{"GstAu", kRawCatalogue, "AU", [] { return Gst(AUDIO "avmux_au"); }},
        Case{"GstMp3", kRawCatalogue, "MP3",
             [] { return Gst(AUDIO "lamemp3enc ! taginject tags=title=Tamberlin ! id3v2mux"); }},
        Case{"GstM4a", kRawCatalogue, "M4A", [] { return Gst(AUDIO "avenc_aac ! avmux_ipod"); }},
        Case{"GstWma", kRawCatalogue, "WMA", [] { return Gst(AUDIO "avenc_wmav2 ! avmux_asf"); }},
        // Programs and fonts
        Case{"ThisProgram", kRawCatalogue, "ELF", This_Program},
        Case{"DejaVuFont", kRawCatalogue, "TTF", DejaVu_Font},
        // Video
        Case{"GstWebm", kVideoCatalogue, "MKV", [] { return Gst(VIDEO "vp8enc ! webmmux"); }},
        Case{"GstMatroska", kVideoCatalogue, "MKV", [] { return Gst(VIDEO "jpegenc ! matroskamux"); }},
        Case{"GstAvi", kVideoCatalogue, "AVI", [] { return Gst(VIDEO "jpegenc ! avimux"); }},
        Case{"GstQuickTime", kVideoCatalogue, "MOV", [] { return Gst(VIDEO "jpegenc ! qtmux"); }},
        Case{"GstMp4", kVideoCatalogue, "MP4", [] { return Gst(VIDEO "avenc_mpeg4 ! mp4mux"); }},
        Case{"Gst3gp", kVideoCatalogue, "3GP", [] { return Gst(VIDEO "avenc_h263 ! 3gppmux"); }},
        Case{"GstFlv", kVideoCatalogue, "FLV", [] { return Gst(VIDEO "avenc_flv ! flvmux"); }},
        Case{"GstWmv", kVideoCatalogue, "WMV", [] { return Gst(VIDEO "avenc_wmv2 ! avmux_asf"); }},
        Case{"GstRealMedia", kVideoCatalogue, "RM", [] { return Gst(AUDIO "avenc_ac3 ! avmux_rm"); }},
        Case{"GstOggTheora", kVideoCatalogue, "OGV", [] { return Gst(VIDEO "theoraenc ! oggmux"); }},
        Case{"GstY4m", kVideoCatalogue, "Y4M", [] { return Gst(VIDEO "y4menc"); }},
        Case{"Gst3g2Thorough", kVideoThoroughCatalogue, "3G2", [] { return Gst(VIDEO "avenc_h263 ! avmux_3g2"); }}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace tamberlin
