// End finders for ICO/CUR, tar, Ogg and Matroska/WebM on real files (Qt's
// icon writer, GNU tar, GStreamer; skipped when missing) and on hand-built
// and damaged ones.
#include <gtest/gtest.h>


#include "gui_environment.h"
#include "recovery/format_samples.h"
#include "tools/sample_files/sample_files.h"

namespace tamberlin::recovery {
namespace {

using namespace samples;
using namespace testing;

// An icon (type 1) or cursor (type 2) holding a DIB and a PNG image.
QByteArray Hand_Icon(int type) {
  QByteArray dib = Encode(Test_Picture(16, 16).convertToFormat(QImage::Format_RGB888), "bmp").mid(14);
  dib[8] = 32;           // height counts the AND mask too
  dib += Zeros(16 * 4);  // the AND mask: 16 rows of 4 bytes
  const QByteArray png = Encode(Test_Picture(48, 48, 3), "png");
  QByteArray ico;
  Put16(ico, 0), Put16(ico, static_cast<std::uint32_t>(type)), Put16(ico, 2);
  const auto entry = [&](int side, const QByteArray& data, std::uint32_t offset) {
    ico += static_cast<char>(side), ico += static_cast<char>(side), ico += QByteArray(2, '\0');
    Put16(ico, 1), Put16(ico, 32), Put32(ico, static_cast<std::uint32_t>(data.size())), Put32(ico, offset);
  };
  entry(16, dib, 38);
  entry(48, png, static_cast<std::uint32_t>(38 + dib.size()));
  return ico + dib + png;
}

// Runs `program` in a folder holding three data files and a folder with a long-named one.
Made Run(const char* program, const QString& args) {
  return Run_Tool(QString::fromLatin1(program), QProcess::splitCommand(args), QStringLiteral("out"),
                  [](const QDir& dir, QProcess&) {
                    dir.mkdir(QStringLiteral("d"));
                    for (int i = 0; i <= 3; ++i) {
                      QFile f(dir.filePath(i == 0 ? "d/" + QString(120, 'x') : QString("f%1.bin").arg(i)));
                      if (f.open(QIODevice::WriteOnly)) f.write(i == 0 ? Garbage(700, 9) : Garbage(i * 3000 + 17, i));
                    }
                  });
}
Made Gst(const char* pipeline) { return Run("gst-launch-1.0", QString("-q ") + pipeline + " ! filesink location=out"); }

void Tar_Checksum(QByteArray& header) {
  header.replace(148, 8, QByteArray(8, ' '));
  unsigned sum = 0;
  for (int i = 0; i < 512; ++i) sum += static_cast<std::uint8_t>(header[i]);
  header.replace(148, 8, QByteArray::number(sum, 8).rightJustified(6, '0') + QByteArray("\0 ", 2));
}

QByteArray Padded(const QByteArray& b, int to) { return b.leftJustified((b.size() + to - 1) / to * to, '\0'); }

// A pax archive whose member's own size field says 0: only the "size" record tells where its data ends.
QByteArray Tar_With_Pax_Size() {
  const QByteArray record = "13 size=5000\n";
  const auto header = [](const char* name, char type, qsizetype size) {
    QByteArray h = QByteArray(name).leftJustified(100, '\0') + QByteArray("0000644\0" "0000000\0" "0000000\0", 24) +
                   QByteArray::number(size, 8).rightJustified(11, '0') + '\0' + QByteArray("14000000000\0", 12) +
                   QByteArray(8, ' ') + type;
    h = Padded(h.leftJustified(257, '\0') + QByteArray("ustar\0" "00", 8), 512);
    Tar_Checksum(h);
    return h;
  };
  return Padded(header("PaxHeaders/big", 'x', record.size()) + Padded(record, 512) + header("big", '0', 0) +
                    Padded(Garbage(5000, 4), 512) + Zeros(1024),
                10240);
}

#define AUDIO "audiotestsrc num-buffers=20 ! audioconvert ! "
#define VIDEO "videotestsrc num-buffers=10 ! video/x-raw,width=176,height=144 ! "

const Sample kSamples[] = {
    {"IcoQt", Find_Ico_End, [] { return Write(Test_Picture(32, 32), "ico"); }},
    {"IcoHand", Find_Ico_End, [] { return Hand_Icon(1); }},
    {"CurHand", Find_Ico_End, [] { return Hand_Icon(2); }},
    {"TarFiles", Find_Tar_End, [] { return Run("tar", "-cf out f1.bin f2.bin f3.bin"); }},
    {"TarLongName", Find_Tar_End, [] { return Run("tar", "-cf out f1.bin d"); }},
    {"TarPax", Find_Tar_End, [] { return Run("tar", "--format=pax -cf out f1.bin d"); }},
    {"TarPaxSizeRecord", Find_Tar_End, Tar_With_Pax_Size},
    {"OggVorbis", Find_Ogg_End, [] { return Gst(AUDIO "vorbisenc ! oggmux"); }},
    {"OggOpus", Find_Ogg_End, [] { return Gst(AUDIO "audioresample ! opusenc ! oggmux"); }},
    {"OggSpeex", Find_Ogg_End, [] { return Gst(AUDIO "speexenc ! oggmux"); }},
    {"OggTheoraVorbis", Find_Ogg_End, [] { return Gst(AUDIO "vorbisenc ! m. " VIDEO "theoraenc ! oggmux name=m"); }},
    {"OggChained", Find_Ogg_End,
     [] { Made a = Gst(AUDIO "vorbisenc ! oggmux"), b = Gst(AUDIO "audioresample ! opusenc ! oggmux");
          return Made(a.bytes + b.bytes, a.skip + b.skip); }},
    {"Webm", Find_Ebml_End, [] { return Gst(VIDEO "vp8enc ! webmmux"); }},
    {"Mkv", Find_Ebml_End, [] { return Gst(VIDEO "jpegenc ! matroskamux"); }},
    {"Mka", Find_Ebml_End, [] { return Gst(AUDIO "vorbisenc ! matroskamux"); }},
};

class MoreFormatsTest : public ::testing::TestWithParam<Sample> {};

TEST_P(MoreFormatsTest, ExactEndAndNeverPastACut) {
  const Made made = GetParam().make();
  if (!made.skip.isEmpty()) GTEST_SKIP() << made.skip.toStdString();
  const QByteArray& file = made.bytes;
  if (GetParam().finder != Find_Tar_End) return Expect_Exact_End_Never_Past_A_Cut(GetParam(), file);
  // Tar: the last member's data ends in the last non-zero byte's block; the two end blocks follow, and the
  // zeros filling the last record may be cut or overwritten.
  qsizetype last = file.size() - 1;
  while (last >= 0 && file[last] == '\0') --last;
  const auto core = static_cast<std::uint64_t>((last + 512) / 512 * 512 + 1024);
  Expect_Exact_End_Never_Past_A_Cut(GetParam(), file, core);
  const auto size = static_cast<std::uint64_t>(file.size());
  EXPECT_EQ(Item(file, {}, size - 1, size - 1).Run(Find_Tar_End).length, core) << "padding cut";
  QByteArray dirty = file;
  dirty[file.size() - 1] = 1;
  EXPECT_EQ(Item(dirty).Run(Find_Tar_End).length, core) << "padding not zero";
}

INSTANTIATE_TEST_SUITE_P(Real, MoreFormatsTest, ::testing::ValuesIn(kSamples), kByName);

void Set(QByteArray& b, qsizetype at, const QByteArray& bytes) { b.replace(at, bytes.size(), bytes); }

const QByteArray kSegment("\x18\x53\x80\x67");

// Adds `delta` to the Segment's size, which the muxers write as an 8-byte vint.
void Grow_Segment(QByteArray& b, std::int64_t delta) {
  const qsizetype at = b.indexOf(kSegment) + 4;
  ASSERT_EQ(b[at], '\x01');
  std::uint64_t size = 0;
  for (int i = 1; i < 8; ++i) size = size << 8 | static_cast<std::uint8_t>(b[at + i]);
  size += static_cast<std::uint64_t>(delta);
  for (int i = 7; i >= 1; --i, size >>= 8) b[at + i] = static_cast<char>(size & 0xFF);
}

// The size field of the tar header at `at`, with the checksum made good again.
void Tar_Size(QByteArray& b, qsizetype at, const QByteArray& size) {
  QByteArray header = b.mid(at, 512);
  Set(header, 124, size);
  Tar_Checksum(header);
  Set(b, at, header);
}
const Edit kEdits[] = {
    {"ico reserved field set", "IcoHand", ED(b[0] = 1), kNotIt},
    {"ico offset inside the directory", "IcoHand", ED(b[6 + 12] = 20), kNotIt},
    {"ico image size past the limit", "CurHand", ED(Set(b, 22 + 8, "\xF0\xFF\xFF\x7F")), kUnknown},
    {"ico image neither DIB nor PNG", "CurHand", ED(b[b.indexOf("\x89PNG")] = 0), kNotIt},
    {"tar second header checksum wrong", "TarFiles", ED(b[3584 + 1] ^= 1), kUnknown},
    {"tar second header zeroed", "TarFiles", ED(Set(b, 3584, Zeros(512))), kUnknown},
    {"tar base-256 size", "TarFiles", ED(Tar_Size(b, 0, QByteArray("\x80\0\0\0\0\0\0\0\0\0\x0b\xc9", 12))), kFound},
    {"tar negative base-256 size", "TarFiles", ED(Tar_Size(b, 0, QByteArray(12, '\xFF'))), kNotIt},
    // tar reads no data after a directory
    {"tar directory with a size", "TarLongName", ED(Tar_Size(b, 3584, "00000001750")), kFound},
    {"ogg crc wrong in the first page", "OggVorbis", ED(b[30] ^= 1), kNotIt},
    {"ogg crc wrong in the second chain", "OggChained", ED(b[b.size() - 3] ^= 1), kUnknown},
    {"ogg last page missing", "OggTheoraVorbis", ED(b.truncate(b.lastIndexOf("OggS"))), kUnknown},
    {"ebml segment size unknown", "Mkv", ED(Set(b, b.indexOf(kSegment) + 4, "\x01" + QByteArray(7, '\xFF'))), kUnknown},
    {"ebml segment size short", "Webm", ED(Grow_Segment(b, -100)), kUnknown},
    {"ebml segment size past the limit", "Mka", ED(Grow_Segment(b, 1 << 20)), kUnknown},
    {"ebml unknown doc type", "Webm", ED(b[b.indexOf("webm") + 1] = 'x'), kNotIt},
    {"ebml void before the segment", "Mkv", ED(b.insert(b.indexOf(kSegment), QByteArray("\xEC\x83\0\0\0", 5))), kFound},
};

TEST(MoreFormatsEdits, WholeOrUnknown) { Expect_Edits(kSamples, kEdits); }

}  // namespace
}  // namespace tamberlin::recovery
