// End finders for container formats (RIFF, ISO boxes, MP3, OLE2, ZIP) on real
// files (sample makers, Qt, zip, GStreamer; skipped when missing), on files
// laid out by hand, and on damaged copies of both.
#include <gtest/gtest.h>

#include <QtEndian>

#include "gui_environment.h"
#include "recovery/format_samples.h"
#include "tools/sample_files/sample_files.h"

namespace tamberlin::recovery {
namespace {

using namespace samples;
using namespace testing;

// zip run on (or fed) a text file of 300 lines.
Made Zip_Tool(const QStringList& args, bool stdin_input = false) {
  return Run_Tool("zip", QStringList{"-q"} + args, "t.zip", [&](const QDir& dir, QProcess& p) {
    QFile input(dir.filePath("input.txt"));
    if (input.open(QIODevice::WriteOnly)) input.write(QByteArray("Notes found on the card\n").repeated(300));
    if (stdin_input) p.setStandardInputFile(input.fileName());
  });
}
Made Gst(const char* pipeline) {
  const QString args = QString("-q %1 ! filesink location=out").arg(pipeline);
  return Run_Tool("gst-launch-1.0", QProcess::splitCommand(args), "out");
}
#define VIDEO "videotestsrc num-buffers=10 ! video/x-raw,width=176,height=144,framerate=25/1 ! "
#define AUDIO "audiotestsrc num-buffers=40 ! audioconvert ! lamemp3enc ! "
Made Gst_Mov() { return Gst(VIDEO "jpegenc ! qtmux"); }
Made Gst_Avi() { return Gst(VIDEO "jpegenc ! avimux"); }
Made Zip64() { return Zip_Tool({"-fz", "t.zip", "input.txt"}); }

// ---- laid out by hand ---------------------------------------------------------

QByteArray Box(const char* type, const QByteArray& payload) {
  QByteArray b(8, '\0');
  Set32(b, 0, static_cast<std::uint32_t>(8 + payload.size()), true);
  return b.replace(4, 4, type) + payload;
}

constexpr std::uint32_t kMpeg1Layer3 = 0xFFFB9044;  // 128 kb/s, 44.1 kHz: 417 bytes
// `count` frames of `length` bytes, each opening with `header`.
QByteArray Mp3_Frames(int count, std::uint32_t header = kMpeg1Layer3, int length = 417) {
  QByteArray frame(length, 'U');
  Set32(frame, 0, header, true);
  return frame.repeated(count);
}
QByteArray Id3v2(int body, std::uint8_t flags = 0) {
  QByteArray tag = QByteArray("ID3\x04\x00", 5) + static_cast<char>(flags);
  for (int shift = 21; shift >= 0; shift -= 7) tag += static_cast<char>((body >> shift) & 0x7F);
  return tag + QByteArray(body, 'T') + QByteArray((flags & 0x10) != 0 ? 10 : 0, 'F');
}
QByteArray Ape_Tag(bool with_header) {
  const QByteArray items = QByteArray("\x09\0\0\0\0\0\0\0Title\0Tamberlin", 23);
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
  const int size = 1 << shift, meta_at = fat_at_end ? 1 + data_sectors : 0;
  const int difat_sectors = fat_sectors > 109 ? 1 : 0, dir_at = fat_at_end ? 0 : fat_sectors + difat_sectors;
  QByteArray fat(fat_sectors * size, '\xFF');
  for (int i = 0; i < fat_sectors; ++i) Set32(fat, 4 * (meta_at + i), 0xFFFFFFFD);
  if (difat_sectors != 0) Set32(fat, 4 * (meta_at + fat_sectors), 0xFFFFFFFC);
  Set32(fat, 4 * dir_at, kEnd);
  for (int i = 1; i <= data_sectors; ++i) Set32(fat, 4 * (dir_at + i), i == data_sectors ? kEnd : dir_at + i + 1);
  QByteArray h = QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + QByteArray(16, '\0');
  for (const int v : {0x3E, shift == 9 ? 3 : 4, 0xFFFE, shift, 6, 0, 0, 0}) Put16(h, static_cast<std::uint32_t>(v));
  for (int v : {0, fat_sectors, dir_at, 0, 4096, -2, 0, difat_sectors ? meta_at + fat_sectors : -2, difat_sectors})
    Put32(h, static_cast<std::uint32_t>(v));
  for (int i = 0; i < 109; ++i) Put32(h, i < fat_sectors ? static_cast<std::uint32_t>(meta_at + i) : 0xFFFFFFFF);
  h += QByteArray(size - h.size(), '\0');
  QByteArray difat(difat_sectors * size, '\xFF');
  for (int i = 109; i < fat_sectors; ++i) Set32(difat, 4 * (i - 109), static_cast<std::uint32_t>(meta_at + i));
  if (difat_sectors != 0) Set32(difat, size - 4, kEnd);
  QByteArray dir(size, '\0');  // the root and one stream holding the data sectors
  const auto entry = [&](int at, const QString& name, char type, std::uint32_t start, std::uint32_t bytes) {
    for (int i = 0; i < name.size(); ++i) dir[at + 2 * i] = name[i].toLatin1();
    dir[at + 0x40] = static_cast<char>(2 * name.size() + 2), dir[at + 0x42] = type;
    Set32(dir, at + 0x74, start), Set32(dir, at + 0x78, bytes);
  };
  entry(0, QStringLiteral("Root Entry"), 5, kEnd, 0);
  entry(128, QStringLiteral("Book"), 2, std::uint32_t(dir_at + 1), std::uint32_t(data_sectors * size));
  const QByteArray rest = dir + Garbage(data_sectors * size, 3);
  return fat_at_end ? h + rest + fat + difat : h + fat + difat + rest;
}

QByteArray Zip_With_Comment(int length) {
  QByteArray zip = Make_Stored_Zip({{"notes.txt", "Found on the card\n"}});
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

struct Case {
  const char* name;
  EndFinder finder;
  std::function<Made()> make;
  std::uint64_t expect = ~std::uint64_t{0};  // 0: not found; all ones: the whole made file
  std::uint64_t cut = 0;                     // the limit ends this many bytes before the file's end
};
constexpr std::uint64_t kWhole = ~std::uint64_t{0};

const Sample kSamples[] = {
    {"Wav", Find_Riff_End, [] { return Make_Wav(300, 8000); }},
    {"QtWebp", Find_Riff_End, [] { return Write(Test_Picture(64, 48), "webp"); }},
    {"GstAvi", Find_Riff_End, Gst_Avi},
    {"Docx", Find_Zip_End, [] { return Make_Docx(40); }},
    {"ZipDeflated", Find_Zip_End, [] { return Zip_Tool({"t.zip", "input.txt"}); }},
    {"ZipFromStdin", Find_Zip_End, [] { return Zip_Tool({"t.zip", "-"}, true); }},
    {"Zip64", Find_Zip_End, Zip64},
    {"GstQuickTime", Find_Isobmff_End, Gst_Mov},
    {"GstMp4", Find_Isobmff_End, [] { return Gst(VIDEO "avenc_mpeg4 ! mp4mux faststart=true"); }},
    {"Gst3gp", Find_Isobmff_End, [] { return Gst(VIDEO "avenc_h263 ! 3gppmux"); }},
    {"LameMp3Id3", Find_Mp3_End, [] { return Gst(AUDIO "taginject tags=title=Tamberlin ! id3v2mux"); }},
    {"LameMp3Bare", Find_Mp3_End, [] { return Gst(AUDIO "identity"); }},
    {"Ole2", Find_Ole2_End, [] { return Ole2(12); }},
    {"Ole2DifatSector", Find_Ole2_End, [] { return Ole2(20, false, 110); }},
    {"Ole2Sectors4096", Find_Ole2_End, [] { return Ole2(5, true, 1, 12); }},
};

class RealFile : public ::testing::TestWithParam<Sample> {};

TEST_P(RealFile, EndsExactlyAndNeverPastACut) {
  const Made made = GetParam().make();
  if (!made.skip.isEmpty()) GTEST_SKIP() << made.skip.toStdString();
  Expect_Exact_End_Never_Past_A_Cut(GetParam(), made.bytes);
}

INSTANTIATE_TEST_SUITE_P(Files, RealFile, ::testing::ValuesIn(kSamples), kByName);

class DamagedFile : public ::testing::TestWithParam<Case> {};

TEST_P(DamagedFile, FindsTheRealEndOrNone) {
  const Case& c = GetParam();
  const Made made = c.make();
  if (!made.skip.isEmpty()) GTEST_SKIP() << made.skip.toStdString();
  const auto size = static_cast<std::uint64_t>(made.bytes.size()), limit = c.cut == 0 ? 0 : size - c.cut;
  const EndFinding r = Item(made.bytes, Garbage(3000, 11), limit, limit).Run(c.finder);
  EXPECT_EQ(r.found() ? r.length : 0, c.expect == kWhole ? size : c.expect) << r.why;
}

// `made` changed by the edit, unless it was skipped.
#define EDIT(made, ...) [] { Made m = made; if (m.skip.isEmpty()) [](auto& b) { __VA_ARGS__; }(m.bytes); return m; }
const Case kDamaged[] = {
    {"WavSizeBelowFormType", Find_Riff_End, EDIT(Make_Wav(100, 8000), Set32(b, 4, 2)), 0},
    {"RiffOddSizeTakesThePadByte", Find_Riff_End, [] { return QByteArray("RIFF\x0D\0\0\0WAVEjunk\1\0\0\0j", 21); }, 22},
    {"AviFollowedByAvixChunks", Find_Riff_End, EDIT(Gst_Avi(), b = With_Avix(b, 2))},
    {"AvixChunkPastLimit", Find_Riff_End, EDIT(Gst_Avi(), b = With_Avix(b, 1, 1u << 30)), 0},
    {"MdatRunsToTheEndOfTheFile", Find_Isobmff_End, EDIT(Gst_Mov(), Set32(b, Box_At(b, "mdat"), 0, true)), 0},
    {"NoMoovBox", Find_Isobmff_End, EDIT(Gst_Mov(), b.replace(Box_At(b, "moov") + 4, 4, "moox")), 0},
    {"FirstBoxUnknown", Find_Isobmff_End, [] { return Box("abcd", "xyz") + Box("moov", "mvhd"); }, 0},
    {"LargeSizeMdat", Find_Isobmff_End,
     [] { return Box("ftyp", QByteArray("isom\0\0\0\0", 8)) + QByteArray("\0\0\0\1mdat\0\0\0\0\0\0\0\x20", 16) +
                 QByteArray(16, 'd') + Box("moov", "mvhd"); }},
    {"HeicWithMetaBox", Find_Isobmff_End,
     [] { return Box("ftyp", QByteArray("heic\0\0\0\0mif1", 12)) + Box("meta", "hdlr") + Box("mdat", "x"); }},
    {"OldQuickTimeMdatFirst", Find_Isobmff_End, [] { return Box("mdat", "data") + Box("moov", "mvhd"); }},
    {"Id3v2ThenFrames", Find_Mp3_End, [] { return Id3v2(300) + Mp3_Frames(8); }},
    {"Id3v2WithFooterAndPadding", Find_Mp3_End, [] { return Id3v2(50, 0x10) + Zeros(700) + Mp3_Frames(4); }},
    {"FramesApeId3v1", Find_Mp3_End, [] { return Mp3_Frames(16) + Ape_Tag(false) + "TAG" + QByteArray(125, 'x'); }},
    {"FramesThenApeWithHeader", Find_Mp3_End, [] { return Mp3_Frames(16) + Ape_Tag(true); }},
    {"OnlyTwoFrames", Find_Mp3_End, [] { return Id3v2(30) + Mp3_Frames(2); }, 0},
    {"FreeFormatBitrate", Find_Mp3_End, [] { return Mp3_Frames(8, 0xFFFB0044); }, 0},
    {"ReservedSampleRate", Find_Mp3_End, [] { return Mp3_Frames(8, 0xFFFB9C44); }, 0},
    {"Id3v2SizeTooLarge", Find_Mp3_End, EDIT(Id3v2(300) + Mp3_Frames(8), b[9] = 0x7F), 0},
    {"BrokenFrameEndsTheStream", Find_Mp3_End, EDIT(Mp3_Frames(20), b[17 * 417] = 0), 17 * 417},
    {"RateChangeEndsTheStream", Find_Mp3_End, [] { return Mp3_Frames(16) + Mp3_Frames(4, 0xFFFB9444, 384); }, 16 * 417},
    {"Ole2BadSectorShift", Find_Ole2_End, EDIT(Ole2(4), b[0x1E] = 10), 0},
    {"Ole2FatSectorPastLimit", Find_Ole2_End, EDIT(Ole2(4), Set32(b, 0x4C, 100000)), 0},
    {"Ole2ChainPointsPastLimit", Find_Ole2_End, EDIT(Ole2(4), Set32(b, 512 + 4 * 3, 100000)), 0},
    // One FAT sector more than listed, five DIFAT sectors, and the DIFAT sector names itself as next.
    {"Ole2DifatChainLoops", Find_Ole2_End,
     EDIT(Ole2(4, false, 111), Set32(b, 0x2C, 112), Set32(b, 0x48, 5), Set32(b, 512 * (111 + 1) + 508, 111)), 0},
    {"Ole2FatListedTwice", Find_Ole2_End, EDIT(Ole2(4, false, 2), Set32(b, 0x50, 0)), 0},
    {"ZipWithComment", Find_Zip_End, [] { return Zip_With_Comment(40); }},
    {"ZipCommentCutShort", Find_Zip_End, [] { return Zip_With_Comment(200); }, 0, 10},
    {"ZipInsideStoredZip", Find_Zip_End,
     [] { return Make_Stored_Zip({{"a.zip", Make_Stored_Zip({{"b", "in\n"}})}, {"c", "out\n"}}); }},
    {"ZipDirectoryOffsetWrong", Find_Zip_End, EDIT(Make_Docx(3), b[b.size() - 6] = char(b[b.size() - 6] + 1)), 0},
    {"Zip64LocatorPointsElsewhere", Find_Zip_End, EDIT(Zip64(), b[b.size() - 22 - 20 + 8] = 1), 0},
};
INSTANTIATE_TEST_SUITE_P(Files, DamagedFile, ::testing::ValuesIn(kDamaged), kByName);

// Frame lengths for each MPEG version and layer: sixteen frames of the expected
// length in a row must be walked to their end.
TEST(Mp3FrameLength, EveryVersionAndLayer) {
  const std::pair<std::uint32_t, int> kCases[] = {
      {0xFFFB9044, 417}, {0xFFFB9244, 418}, {0xFFFDA444, 576}, {0xFFFFC044, 416},  // MPEG 1: III, III padded, II, I
      {0xFFF38044, 208}, {0xFFE38844, 576}, {0xFFF7E444, 512}, {0xFFF5E844, 1440},  // MPEG 2 III, 2.5 III, 2 I, 2 II
  };
  for (const auto& [header, length] : kCases) {
    SCOPED_TRACE(header);
    const EndFinding r = Item(Mp3_Frames(16, header, length), Zeros(2000)).Run(Find_Mp3_End);
    EXPECT_EQ(r.length, 16u * static_cast<std::uint64_t>(length)) << r.why;
  }
}

}  // namespace
}  // namespace tamberlin::recovery
