// End finders for container formats (RIFF, ISO boxes, MP3, OLE2, ZIP) on real
// files (sample makers, Qt, zip, GStreamer; skipped when missing), on files
// laid out by hand, and on damaged copies of both.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "gui_environment.h"
#include "recovery/item_fixture.h"
#include "sample_files.h"

namespace tamberlin::recovery {
namespace {

using samples::Put16;
using samples::Put32;
using testing::Garbage;
using testing::Item;
using testing::Zeros;

// A made file, or why this machine cannot make it.
struct Made {
  Made(QByteArray b = {}, QString why = {}) : bytes(std::move(b)), skip(std::move(why)) {}
  QByteArray bytes;
  QString skip;
};

void Set32(QByteArray& b, qsizetype at, std::uint32_t v, bool big_endian = false) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (big_endian ? 24 - 8 * i : 8 * i));
}

// Runs `program` in a fresh folder holding input.txt; the whole of `result`.
Made Run_Tool(const QString& program, const QStringList& args, const QString& result, bool stdin_input = false) {
  const QString exe = QStandardPaths::findExecutable(program);
  if (exe.isEmpty()) return {{}, program + " is not installed"};
  QTemporaryDir dir;
  QFile input(dir.filePath(QStringLiteral("input.txt")));
  if (!dir.isValid() || !input.open(QIODevice::WriteOnly)) return {{}, QStringLiteral("no temporary folder")};
  for (int i = 0; i < 300; ++i) input.write("Line " + QByteArray::number(i) + " of the notes found on the card\n");
  input.close();
  QProcess process;
  process.setWorkingDirectory(dir.path());
  if (stdin_input) process.setStandardInputFile(input.fileName());
  process.start(exe, args);
  if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
    return {{}, program + " failed: " + QString::fromLocal8Bit(process.readAllStandardError()).trimmed()};
  }
  QFile out(dir.filePath(result));
  if (!out.open(QIODevice::ReadOnly) || out.size() == 0) return {{}, program + " wrote nothing"};
  return out.readAll();
}

Made Zip_Tool(const QStringList& args, bool stdin_input = false) {
  return Run_Tool(QStringLiteral("zip"), QStringList{QStringLiteral("-q")} + args, QStringLiteral("t.zip"),
                  stdin_input);
}

Made Gst(const char* pipeline) {
  const QStringList args = QStringList{QStringLiteral("-q")} + QProcess::splitCommand(QString::fromLatin1(pipeline)) +
                           QStringList{QStringLiteral("!"), QStringLiteral("filesink"), QStringLiteral("location=out")};
  return Run_Tool(QStringLiteral("gst-launch-1.0"), args, QStringLiteral("out"));
}
#define VIDEO "videotestsrc num-buffers=10 ! video/x-raw,width=176,height=144,framerate=25/1 ! "
#define AUDIO "audiotestsrc num-buffers=40 ! audioconvert ! lamemp3enc ! "

// Each of these runs once per test run.
Made Once(const char* key, const std::function<Made()>& make) {
  static std::map<std::string, Made> made;
  auto it = made.find(key);
  if (it == made.end()) it = made.emplace(key, make()).first;
  return it->second;
}
Made Gst_Mov() { return Once("mov", [] { return Gst(VIDEO "jpegenc ! qtmux"); }); }
Made Gst_Mp4() { return Once("mp4", [] { return Gst(VIDEO "avenc_mpeg4 ! mp4mux faststart=true"); }); }
Made Gst_Avi() { return Once("avi", [] { return Gst(VIDEO "jpegenc ! avimux"); }); }
Made Gst_Mp3() { return Once("mp3", [] { return Gst(AUDIO "taginject tags=title=Tamberlin ! id3v2mux"); }); }
Made Qt_Webp() {
  if (!QImageWriter::supportedImageFormats().contains("webp")) return {{}, QStringLiteral("no WebP writer")};
  return samples::Encode(samples::Test_Picture(64, 48), "webp");
}
Made Zip64() { return Once("zip64", [] { return Zip_Tool({"-fz", "t.zip", "input.txt"}); }); }

// ---- laid out by hand ---------------------------------------------------------

QByteArray Box(const char* type, const QByteArray& payload) {
  QByteArray b(8, '\0');
  Set32(b, 0, static_cast<std::uint32_t>(8 + payload.size()), true);
  return b.replace(4, 4, type) + payload;
}

// `count` frames of `length` bytes, each opening with `header`.
QByteArray Mp3_Frames(std::uint32_t header, int count, int length) {
  QByteArray frame(length, 'U');
  Set32(frame, 0, header, true);
  return frame.repeated(count);
}
constexpr std::uint32_t kMpeg1Layer3 = 0xFFFB9044;  // 128 kb/s, 44.1 kHz: 417 bytes
QByteArray Id3v2(int body, std::uint8_t flags = 0) {
  QByteArray tag("ID3\x04\x00", 5);
  tag += static_cast<char>(flags);
  for (int shift = 21; shift >= 0; shift -= 7) tag += static_cast<char>((body >> shift) & 0x7F);
  return tag + QByteArray(body, 'T') + QByteArray((flags & 0x10) != 0 ? 10 : 0, 'F');
}
QByteArray Ape_Tag(bool with_header) {
  QByteArray items;
  Put32(items, 9);
  Put32(items, 0);
  items += QByteArray("Title\0Tamberlin", 15);
  const auto field = [&](std::uint32_t flags) {
    QByteArray f("APETAGEX", 8);
    for (const std::uint32_t v : {2000u, static_cast<std::uint32_t>(items.size() + 32), 1u, flags, 0u, 0u}) Put32(f, v);
    return f;
  };
  const std::uint32_t has_header = with_header ? 1u << 31 : 0;
  return (with_header ? field(has_header | 1u << 29) : QByteArray()) + items + field(has_header);
}

// A compound file: FAT sectors, one directory sector and a stream of
// `data_sectors`, the FAT before or after the rest. More than 109 FAT
// sectors bring in a DIFAT sector.
QByteArray Ole2(int data_sectors, bool fat_at_end = false, int fat_sectors = 1, int shift = 9) {
  constexpr std::uint32_t kEnd = 0xFFFFFFFE;
  const int size = 1 << shift;
  const int meta_at = fat_at_end ? 1 + data_sectors : 0;
  const int difat_sectors = fat_sectors > 109 ? 1 : 0;
  const int dir_at = fat_at_end ? 0 : fat_sectors + difat_sectors;
  QByteArray fat(fat_sectors * size, '\xFF');
  for (int i = 0; i < fat_sectors; ++i) Set32(fat, 4 * (meta_at + i), 0xFFFFFFFD);
  if (difat_sectors != 0) Set32(fat, 4 * (meta_at + fat_sectors), 0xFFFFFFFC);
  Set32(fat, 4 * dir_at, kEnd);
  for (int i = 1; i <= data_sectors; ++i) Set32(fat, 4 * (dir_at + i), i == data_sectors ? kEnd : dir_at + i + 1);

  QByteArray h = QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + QByteArray(16, '\0');
  for (const int v : {0x3E, shift == 9 ? 3 : 4, 0xFFFE, shift, 6, 0, 0, 0}) Put16(h, static_cast<std::uint32_t>(v));
  const auto difat_at = static_cast<std::uint32_t>(meta_at + fat_sectors);
  for (const std::uint32_t v :
       {0u, static_cast<std::uint32_t>(fat_sectors), static_cast<std::uint32_t>(dir_at), 0u, 4096u, kEnd, 0u,
        difat_sectors != 0 ? difat_at : kEnd, static_cast<std::uint32_t>(difat_sectors)}) {
    Put32(h, v);
  }
  for (int i = 0; i < 109; ++i) Put32(h, i < fat_sectors ? static_cast<std::uint32_t>(meta_at + i) : 0xFFFFFFFF);
  h += QByteArray(size - h.size(), '\0');
  QByteArray difat(difat_sectors * size, '\xFF');
  for (int i = 109; i < fat_sectors; ++i) Set32(difat, 4 * (i - 109), static_cast<std::uint32_t>(meta_at + i));
  if (difat_sectors != 0) Set32(difat, size - 4, kEnd);
  // Directory: the root and one stream holding the data sectors.
  QByteArray dir(size, '\0');
  const auto entry = [&](int at, const char* name, char type, std::uint32_t start, std::uint32_t bytes) {
    const int n = static_cast<int>(strlen(name));
    for (int i = 0; i < n; ++i) dir[at + 2 * i] = name[i];
    dir[at + 0x40] = static_cast<char>(2 * n + 2);
    dir[at + 0x42] = type;
    Set32(dir, at + 0x74, start);
    Set32(dir, at + 0x78, bytes);
  };
  entry(0, "Root Entry", 5, kEnd, 0);
  entry(128, "Book", 2, static_cast<std::uint32_t>(dir_at + 1), static_cast<std::uint32_t>(data_sectors * size));
  const QByteArray rest = dir + Garbage(data_sectors * size, 3);
  return fat_at_end ? h + rest + fat + difat : h + fat + difat + rest;
}

QByteArray Zip_With_Comment(int length) {
  QByteArray zip = samples::Make_Stored_Zip({{"notes.txt", "Found on the card\n"}});
  zip[zip.size() - 2] = static_cast<char>(length);
  return zip + QByteArray(length, 'c');
}

// RIFF "AVIX" chunks of odd and even sizes after an AVI (`size`: a wrong one).
QByteArray With_Avix(QByteArray avi, int count, std::uint32_t size = 0) {
  for (int i = 0; i < count; ++i) {
    QByteArray chunk = "RIFF" + QByteArray(4, '\0') + "AVIXLIST" + QByteArray(1000 + i, 'v');
    Set32(chunk, 4, size != 0 ? size : static_cast<std::uint32_t>(chunk.size() - 8));
    avi += chunk + QByteArray(chunk.size() % 2, '\0');
  }
  return avi;
}

// `made` changed by `edit`, unless it was skipped.
Made Edit(Made made, const std::function<void(QByteArray&)>& edit) {
  if (made.skip.isEmpty()) edit(made.bytes);
  return made;
}
// The offset of the first top-level box of `type` in an ISO file.
qsizetype Box_At(const QByteArray& file, const char* type) {
  for (qsizetype at = 0, size = 8; at + 8 <= file.size() && size >= 8; at += size) {
    if (file.mid(at + 4, 4) == type) return at;
    size = static_cast<qsizetype>(qFromBigEndian<quint32>(file.constData() + at));
  }
  ADD_FAILURE() << "no " << type << " box";
  return 0;
}

// ---- the tables ------------------------------------------------------------------

constexpr std::uint64_t kWhole = ~std::uint64_t{0};
struct Case {
  const char* name;
  EndFinder finder;
  std::function<Made()> make;
  std::uint64_t expect = kWhole;  // 0: Unknown; kWhole: the whole made file
  qsizetype cut = 0;              // the limit ends this many bytes before the file's end
  bool streamed = false;          // no stored length: a zero-padded cut may pass for an end
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
const auto kName = [](const auto& p) { return std::string(p.param.name); };

class RealFile : public ::testing::TestWithParam<Case> {};

TEST_P(RealFile, EndsExactlyWhereTheFileEnds) {
  const Made made = GetParam().make();
  if (!made.skip.isEmpty()) GTEST_SKIP() << made.skip.toStdString();
  const auto size = static_cast<std::uint64_t>(made.bytes.size());
  const struct {
    const char* what;
    QByteArray after;
    std::uint64_t range, limit;
  } kLayouts[] = {{"garbage after", Garbage(5000), 0, 0},
                  {"zeros after", Zeros(5000), 0, 0},
                  {"nothing after", {}, 0, 0},
                  {"range of one sector", Garbage(5000), 512, size + 100000}};
  for (const auto& l : kLayouts) {
    SCOPED_TRACE(l.what);
    Item item(made.bytes, l.after, l.range, l.limit);
    const EndFinding r = item.Run(GetParam().finder);
    EXPECT_TRUE(r.found()) << r.why;
    EXPECT_EQ(r.length, size);
  }
  Item noise(Garbage(static_cast<int>(size), 21));
  EXPECT_TRUE(noise.Run(GetParam().finder).not_this_format()) << "random bytes";
}

TEST_P(RealFile, CutShortIsNeverFound) {
  const Made made = GetParam().make();
  if (!made.skip.isEmpty()) GTEST_SKIP() << made.skip.toStdString();
  const auto cut = static_cast<std::uint64_t>(made.bytes.size() - 1);
  Item at_limit(made.bytes, Garbage(5000), cut, cut);
  const EndFinding r = at_limit.Run(GetParam().finder);
  EXPECT_FALSE(r.found()) << "length " << r.length;

  const QByteArray half = made.bytes.left(made.bytes.size() / 2);
  Item medium_ends(half);
  const EndFinding h = medium_ends.Run(GetParam().finder);
  if (GetParam().streamed) {
    EXPECT_LE(h.length, static_cast<std::uint64_t>(half.size() + 511) / 512 * 512);
  } else {
    EXPECT_FALSE(h.found()) << "length " << h.length;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, RealFile,
    ::testing::Values(
        // RIFF
        Case{"Wav", Find_Riff_End, [] { return samples::Make_Wav(300, 8000); }},
        Case{"QtWebp", Find_Riff_End, Qt_Webp},
        Case{"GstAvi", Find_Riff_End, Gst_Avi},
        // ZIP
        Case{"StoredZip", Find_Zip_End, [] { return samples::Make_Stored_Zip({{"a.txt", "alpha\n"}, {"b", "b\n"}}); }},
        Case{"Docx", Find_Zip_End, [] { return samples::Make_Docx(40); }},
        Case{"ZipDeflated", Find_Zip_End, [] { return Zip_Tool({"t.zip", "input.txt"}); }},
        Case{"ZipFromStdin", Find_Zip_End, [] { return Zip_Tool({"t.zip", "-"}, true); }},
        Case{"Zip64", Find_Zip_End, Zip64},
        // ISO boxes
        Case{"GstQuickTime", Find_Isobmff_End, Gst_Mov},
        Case{"GstMp4", Find_Isobmff_End, Gst_Mp4},
        Case{"Gst3gp", Find_Isobmff_End, [] { return Gst(VIDEO "avenc_h263 ! 3gppmux"); }},
        // MP3
        Case{"LameMp3Id3", Find_Mp3_End, Gst_Mp3, kWhole, 0, true},
        Case{"LameMp3Bare", Find_Mp3_End, [] { return Gst(AUDIO "identity"); }, kWhole, 0, true},
        // OLE2
        Case{"Ole2", Find_Ole2_End, [] { return Ole2(12); }},
        Case{"Ole2FatLast", Find_Ole2_End, [] { return Ole2(12, true); }},
        Case{"Ole2DifatSector", Find_Ole2_End, [] { return Ole2(20, false, 110); }},
        Case{"Ole2Sectors4096", Find_Ole2_End, [] { return Ole2(5, true, 1, 12); }}),
    kName);

class DamagedFile : public ::testing::TestWithParam<Case> {};

TEST_P(DamagedFile, FindsTheRealEndOrNone) {
  const Case& c = GetParam();
  const Made made = c.make();
  if (!made.skip.isEmpty()) GTEST_SKIP() << made.skip.toStdString();
  const auto limit = static_cast<std::uint64_t>(c.cut == 0 ? 0 : made.bytes.size() - c.cut);
  Item item(made.bytes, Garbage(3000, 11), limit, limit);
  const EndFinding r = item.Run(c.finder);
  if (c.expect == 0) {
    EXPECT_FALSE(r.found()) << "length " << r.length;
  } else {
    EXPECT_TRUE(r.found()) << r.why;
    EXPECT_EQ(r.length, c.expect == kWhole ? static_cast<std::uint64_t>(made.bytes.size()) : c.expect);
  }
}

using Bytes = QByteArray&;
INSTANTIATE_TEST_SUITE_P(
    Files, DamagedFile,
    ::testing::Values(
        // RIFF
        Case{"WavSizeBelowFormType", Find_Riff_End,
             [] { return Edit(samples::Make_Wav(100, 8000), [](Bytes b) { Set32(b, 4, 2); }); }, 0},
        Case{"RiffOddSizeTakesThePadByte", Find_Riff_End,
             [] { return QByteArray("RIFF\x0D\0\0\0WAVEjunk\x01\0\0\0j", 21); }, 22},
        Case{"AviFollowedByAvixChunks", Find_Riff_End,
             [] { return Edit(Gst_Avi(), [](Bytes b) { b = With_Avix(b, 2); }); }},
        Case{"AvixChunkPastLimit", Find_Riff_End,
             [] { return Edit(Gst_Avi(), [](Bytes b) { b = With_Avix(b, 1, 1u << 30); }); }, 0},
        // ISO boxes
        Case{"MdatRunsToTheEndOfTheFile", Find_Isobmff_End,
             [] { return Edit(Gst_Mov(), [](Bytes b) { Set32(b, Box_At(b, "mdat"), 0, true); }); }, 0},
        Case{"NoMoovBox", Find_Isobmff_End,
             [] { return Edit(Gst_Mov(), [](Bytes b) { b.replace(Box_At(b, "moov") + 4, 4, "moox"); }); }, 0},
        Case{"FirstBoxUnknown", Find_Isobmff_End,
             [] { return Edit(Gst_Mp4(), [](Bytes b) { b.replace(4, 4, "abcd"); }); }, 0},
        Case{"LargeSizeMdat", Find_Isobmff_End,
             [] {
               return Box("ftyp", QByteArray("isom\0\0\0\0", 8)) + QByteArray("\0\0\0\1mdat\0\0\0\0\0\0\0\x20", 16) +
                      QByteArray(16, 'd') + Box("moov", "mvhd");
             }},
        Case{"HeicWithMetaBox", Find_Isobmff_End,
             [] { return Box("ftyp", QByteArray("heic\0\0\0\0mif1", 12)) + Box("meta", "hdlr") + Box("mdat", "x"); }},
        Case{"OldQuickTimeMdatFirst", Find_Isobmff_End, [] { return Box("mdat", "data") + Box("moov", "mvhd"); }},
        // MP3
        Case{"Id3v2ThenFrames", Find_Mp3_End, [] { return Id3v2(300) + Mp3_Frames(kMpeg1Layer3, 8, 417); }},
        Case{"Id3v2WithFooterAndPadding", Find_Mp3_End,
             [] { return Id3v2(50, 0x10) + Zeros(700) + Mp3_Frames(kMpeg1Layer3, 4, 417); }},
        Case{"FramesThenApeAndId3v1", Find_Mp3_End,
             [] { return Mp3_Frames(kMpeg1Layer3, 16, 417) + Ape_Tag(false) + "TAG" + QByteArray(125, 'x'); }},
        Case{"FramesThenApeWithHeader", Find_Mp3_End, [] { return Mp3_Frames(kMpeg1Layer3, 16, 417) + Ape_Tag(true); }},
        Case{"OnlyTwoFrames", Find_Mp3_End, [] { return Id3v2(30) + Mp3_Frames(kMpeg1Layer3, 2, 417); }, 0},
        Case{"FreeFormatBitrate", Find_Mp3_End, [] { return Mp3_Frames(0xFFFB0044, 8, 417); }, 0},
        Case{"ReservedSampleRate", Find_Mp3_End, [] { return Mp3_Frames(0xFFFB9C44, 8, 417); }, 0},
        Case{"Id3v2SizeTooLarge", Find_Mp3_End,
             [] { return Edit(Id3v2(300) + Mp3_Frames(kMpeg1Layer3, 8, 417), [](Bytes b) { b[9] = 0x7F; }); }, 0},
        Case{"BrokenFrameEndsTheStream", Find_Mp3_End,
             [] { return Edit(Mp3_Frames(kMpeg1Layer3, 20, 417), [](Bytes b) { b[17 * 417] = 0; }); }, 17 * 417},
        Case{"SampleRateChangeEndsTheStream", Find_Mp3_End,
             [] { return Mp3_Frames(kMpeg1Layer3, 16, 417) + Mp3_Frames(0xFFFB9444, 4, 384); }, 16 * 417},
        // OLE2
        Case{"Ole2BadSectorShift", Find_Ole2_End, [] { return Edit(Ole2(4), [](Bytes b) { b[0x1E] = 10; }); }, 0},
        Case{"Ole2FatSectorPastLimit", Find_Ole2_End,
             [] { return Edit(Ole2(4), [](Bytes b) { Set32(b, 0x4C, 100000); }); }, 0},
        Case{"Ole2ChainPointsPastLimit", Find_Ole2_End,
             [] { return Edit(Ole2(4), [](Bytes b) { Set32(b, 512 + 4 * 3, 100000); }); }, 0},
        Case{"Ole2DifatChainLoops", Find_Ole2_End,
             [] {
               return Edit(Ole2(4, false, 111), [](Bytes b) {
                 Set32(b, 0x2C, 112);                   // one FAT sector more than listed
                 Set32(b, 0x48, 5);                     // DIFAT sectors
                 Set32(b, 512 * (111 + 1) + 508, 111);  // the DIFAT sector names itself as next
               });
             },
             0},
        Case{"Ole2FatListedTwice", Find_Ole2_End,
             [] { return Edit(Ole2(4, false, 2), [](Bytes b) { Set32(b, 0x50, 0); }); }, 0},
        // ZIP
        Case{"ZipWithComment", Find_Zip_End, [] { return Zip_With_Comment(40); }},
        Case{"ZipCommentCutShort", Find_Zip_End, [] { return Zip_With_Comment(200); }, 0, 10},
        Case{"ZipInsideStoredZip", Find_Zip_End,
             [] {
               const QByteArray inner = samples::Make_Stored_Zip({{"inner.txt", "inside\n"}});
               return samples::Make_Stored_Zip({{"inner.zip", inner}, {"outer.txt", "outside\n"}});
             }},
        Case{"ZipDirectoryOffsetWrong", Find_Zip_End,
             [] {
               return Edit(samples::Make_Docx(3),
                           [](Bytes b) { b[b.size() - 6] = static_cast<char>(b[b.size() - 6] + 1); });
             },
             0},
        Case{"Zip64LocatorPointsElsewhere", Find_Zip_End,
             [] { return Edit(Zip64(), [](Bytes b) { b[b.size() - 22 - 20 + 8] = 1; }); }, 0}),
    kName);

// Frame lengths for each MPEG version and layer: five frames of the expected
// length in a row must be walked to their end.
TEST(Mp3FrameLength, EveryVersionAndLayer) {
  const struct {
    const char* what;
    std::uint32_t header;
    int length;
  } kCases[] = {
      {"MPEG 1 layer III", 0xFFFB9044, 417}, {"MPEG 1 layer III padded", 0xFFFB9244, 418},
      {"MPEG 1 layer II", 0xFFFDA444, 576},  {"MPEG 1 layer I", 0xFFFFC044, 416},
      {"MPEG 2 layer III", 0xFFF38044, 208}, {"MPEG 2.5 layer III", 0xFFE38844, 576},
      {"MPEG 2 layer I", 0xFFF7E444, 512},   {"MPEG 2 layer II", 0xFFF5E844, 1440},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    Item item(Mp3_Frames(c.header, 16, c.length), Zeros(2000));
    const EndFinding r = item.Run(Find_Mp3_End);
    EXPECT_EQ(r.length, 16u * static_cast<std::uint64_t>(c.length)) << r.why;
  }
}

}  // namespace
}  // namespace tamberlin::recovery
