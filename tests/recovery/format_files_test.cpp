// End finders on real files (Qt's writers, sample_files, ffmpeg, GStreamer, zip, tar, 7z, zstd, lz4, sqlite3,
// gcab, arj, jlha, compress, dpkg-deb, gcc, the command-line compressors, the system's fonts; skipped when
// missing), on files laid out by hand from the formats' documentation where no encoder is at hand, and on
// damaged copies of both. Each finder must end a whole file exactly, whatever follows it, never reach past a
// cut or a limit, and tell broken structure (not this format) from a start with no reachable end.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtEndian>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "engine/catalogue.h"
#include "recovery/format_samples.h"
#include "recovery/item_fixture.h"
#include "run_tool.h"
#include "tools/sample_files/sample_files.h"

namespace tamberlin::recovery {
namespace {

using namespace samples;
using namespace testing;

QImage Picture(int seed = 0) { return samples::Test_Picture(61, 47, seed); }  // odd width: BMP rows pad

// A TIFF laid out as an Exif block is: IFD0 (orientation) chained to IFD1,
// which points at a JPEG thumbnail stored after it.
QByteArray Tiff_With_Thumbnail(const QByteArray& thumb, bool big_endian) {
  const auto u16 = [&](QByteArray& o, std::uint32_t v) { big_endian ? Put16_Be(o, v) : Put16(o, v); };
  const auto u32 = [&](QByteArray& o, std::uint32_t v) { big_endian ? Put32_Be(o, v) : Put32(o, v); };
  QByteArray t = big_endian ? QByteArray("MM\0*", 4) : QByteArray("II*\0", 4);
  u32(t, 8), u16(t, 1), u16(t, 274), u16(t, 3), u32(t, 1), u16(t, 1), u16(t, 0), u32(t, 26);  // IFD0 at 8
  u16(t, 2), u16(t, 513), u16(t, 4), u32(t, 1), u32(t, 56);                               // IFD1 at 26
  u16(t, 514), u16(t, 4), u32(t, 1), u32(t, static_cast<std::uint32_t>(thumb.size())), u32(t, 0);  // next at 52
  return t + thumb;
}

QByteArray Jpeg_With_Exif_Thumbnail() {
  const QByteArray thumb = Write(Picture(1).scaled(16, 12), "jpeg").bytes;
  const QByteArray main = Write(Picture(), "jpeg").bytes;
  const QByteArray exif = QByteArray("Exif\0\0", 6) + Tiff_With_Thumbnail(thumb, false);
  QByteArray app1("\xFF\xE1", 2);
  Put16_Be(app1, static_cast<std::uint32_t>(exif.size() + 2));
  return main.left(2) + app1 + exif + main.mid(2);
}

QByteArray Animated_Gif() {
  const QByteArray one = Make_Gif(40, 30), head = one.left(13 + 384), image = one.mid(13 + 384).chopped(1);
  QByteArray gif = head + QByteArray("\x21\xFF\x0BNETSCAPE2.0\x03\x01\0\0\0\x21\xFE\x05hello\0", 28);
  for (int frame = 0; frame < 3; ++frame) {
    gif += QByteArray("\x21\xF9\x04\x04\x0A\x00\x00\x00", 8);
    // The second frame has its own colour table.
    gif += frame != 1 ? image : image.left(9) + '\x86' + head.mid(13, 384) + image.mid(10);
  }
  return gif + ';';
}

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
                  [](const QDir& dir) {
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
#define VIDEO25 "videotestsrc num-buffers=10 ! video/x-raw,width=176,height=144,framerate=25/1 ! "
#define MP3 "audiotestsrc num-buffers=40 ! audioconvert ! lamemp3enc ! "

QByteArray Notes() {
  QByteArray text;
  for (int i = 0; text.size() < 40000; ++i) text += "Line " + QByteArray::number(i) + " of the notes on the card\n";
  return text;
}

// A file made by `program` in a fresh folder holding notes.txt, data.bin and `files`.
std::function<Made()> By(const QString& program, const QStringList& args, const QString& output,
                         std::vector<std::pair<QString, QByteArray>> files = {}) {
  files.insert(files.begin(), {{"notes.txt", Notes()}, {"data.bin", Garbage(30000, 11)}});
  return [=] {
    return Run_Tool(program, args, output, [&](const QDir& dir) {
      for (const auto& [name, bytes] : files) {
        QFile f(dir.filePath(name));
        if (dir.mkpath(QFileInfo(name).path()) && f.open(QIODevice::WriteOnly)) f.write(bytes);
      }
    });
  };
}
Made Gst_Mov() { return Gst(VIDEO25 "jpegenc ! qtmux"); }
Made Gst_Avi() { return Gst(VIDEO25 "jpegenc ! avimux"); }
Made Zip64() { return By("zip", {"-q", "-fz", "t.zip", "notes.txt"}, "t.zip")(); }

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

#define SINE "-f lavfi -i sine=f=440:d=0.5:sample_rate=22050 "
#define BARS "-f lavfi -i testsrc=size=64x48:rate=25:d=0.4 "
#define STILL BARS "-frames:v 1 "

// ffmpeg's output for `args` (inputs and options), written to a file named `out`.
Made Ffmpeg(const char* args, const char* out) {
  return Run_Tool("ffmpeg", QProcess::splitCommand(QString("-v error -y -bitexact ") + args + " " + out), out);
}
// ---- laid out by hand, where no encoder is at hand ----------------------------

QByteArray Midi() {
  const QByteArray track = QByteArray("MTrk\0\0\0\x0C\0\x90\x3C\x40\x60\x80\x3C\x40\0\xFF\x2F\0", 20);
  return QByteArray("MThd\0\0\0\x06\0\x01\0\x02\0\x60", 14) + track + track;
}

QByteArray Amr(int frames) {
  QByteArray a("#!AMR\n");
  for (int i = 0; i < frames; ++i) a += '\x3C' + Garbage(31, static_cast<unsigned>(i));  // 12.2 kb/s, good
  return a;
}

// Monkey's Audio with a descriptor, and an APEv2 tag (footer only) after the frames.
QByteArray Ape() {
  QByteArray a = "MAC " + QByteArray("\x96\x0F\0\0", 4) + Le<4>(52, 24, 4, 44, 3000, 0, 0) + QByteArray(16, '\x11');
  Put16(a, 2000), Put16(a, 0), Put32(a, 73728), Put32(a, 700), Put32(a, 1), Put16(a, 16), Put16(a, 2), Put32(a, 44100);
  const QByteArray tag = Le<4>(5, 0) + QByteArray("Title\0Notes", 11) + "APETAGEX" + Le<4>(2000, 51, 1, 0, 0, 0);
  return a + Garbage(4, 6) + Garbage(44, 7) + Garbage(3000, 5) + tag;
}

QByteArray Bink() { return "BIKi" + Le<4>(36 + 2000, 10, 400, 10, 64, 48, 25, 1, 0, 1) + Garbage(2000, 9); }

// A CIFF heap: 100 data bytes, then a table of two entries and its offset.
QByteArray Crw() {
  QByteArray c = QByteArray("II\x1A\0\0\0HEAPCCDR", 14) + Le<4>(0x00010002, 0, 0) + Garbage(100, 2);
  Put16(c, 2), Put16(c, 0x2005), Put32(c, 60), Put32(c, 0), Put16(c, 0x2007), Put32(c, 40), Put32(c, 60);
  return c + Le<4>(100);
}

QByteArray Raf() {
  const QByteArray jpeg = Encode(Test_Picture(40, 30), "jpeg");
  QByteArray r = "FUJIFILMCCD-RAW 0201FF383501" + QByteArray("X-T1").leftJustified(32, '\0') + "0100" + Zeros(20);
  const auto j = static_cast<std::uint32_t>(jpeg.size());
  for (const std::uint32_t v : {108u, j, 108u + j, 64u, 108u + j + 64u, 1000u}) Put32_Be(r, v);
  return r + jpeg + Garbage(64, 3) + Garbage(1000, 4);
}

QByteArray Mrw() {
  QByteArray prd = QByteArray("\0PRD\0\0\0\x18", 8) + "21810002";
  Put16_Be(prd, 8), Put16_Be(prd, 16), Put16_Be(prd, 8), Put16_Be(prd, 16);
  prd += QByteArray("\x0C\x0C\x59\0\0\0\0\0", 8) + QByteArray("\0WBG\0\0\0\x08", 8) + Garbage(8, 1);
  QByteArray m("\0MRM", 4);
  Put32_Be(m, static_cast<std::uint32_t>(prd.size()));
  return m + prd + Garbage(8 * 16 * 12 / 8, 2);
}

QByteArray X3f() {
  QByteArray x = "FOVb" + Le<4>(0x00020002) + Garbage(32, 1) + Garbage(600, 2);
  return x + "SECd" + Le<4>(0x00020000, 1, 40, 600) + "IMAG" + Le<4>(static_cast<std::uint32_t>(x.size()));
}

QByteArray Jxl() {
  return QByteArray("\0\0\0\x0CJXL \r\n\x87\n", 12) + Box("ftyp", QByteArray("jxl \0\0\0\0jxl ", 12)) +
         Box("jxlc", "\xFF\x0A" + Garbage(900, 8)) + Box("Exif", Zeros(4) + "II*");
}

// Photoshop, 3 channels of 4 x 5 pixels: raw, or PackBits rows (one literal run of 5).
QByteArray Psd(int version, bool rle) {
  QByteArray p("8BPS");
  Put16_Be(p, static_cast<std::uint32_t>(version)), p += Zeros(6);
  Put16_Be(p, 3), Put32_Be(p, 4), Put32_Be(p, 5), Put16_Be(p, 8), Put16_Be(p, 3), Put32_Be(p, 0), Put32_Be(p, 16);
  p += QByteArray("8BIM\x04\x04\0\0\0\0\0\x04", 12) + "abcd" + Zeros(version == 2 ? 8 : 4);
  Put16_Be(p, rle ? 1 : 0);
  if (!rle) return p + Garbage(3 * 4 * 5, 2);
  for (int row = 0; row < 12; ++row) version == 2 ? Put32_Be(p, 6) : Put16_Be(p, 6);
  for (int row = 0; row < 12; ++row) p += '\x04' + Garbage(5, static_cast<unsigned>(row));
  return p;
}

// ---- the tables -------------------------------------------------------------------

#define HAND(f) [] { return Made{f, {}}; }
#define FF(args, out) [] { return Ffmpeg(args, out); }

const Sample kSamples[] = {
    {"JpegBaseline", Find_Jpeg_End, [] { return Write(Picture(), "jpeg"); }},
    {"JpegProgressive", Find_Jpeg_End,
     [] { Made j = Write(Picture(), "jpeg", true);
          return j.bytes.contains("\xFF\xC2") ? j : Made({}, "no progressive JPEG"); }},
    {"JpegExifThumbnail", Find_Jpeg_End, Jpeg_With_Exif_Thumbnail},
    {"Png", Find_Png_End, [] { return Write(Picture(), "png"); }},
    {"Gif", Find_Gif_End, [] { return Make_Gif(61, 47); }},
    {"GifAnimated", Find_Gif_End, Animated_Gif},
    {"Bmp24", Find_Bmp_End, [] { return Write(Picture(), "bmp"); }},
    {"Bmp8", Find_Bmp_End, [] { return Write(Picture().convertToFormat(QImage::Format_Indexed8), "bmp"); }},
    {"Bmp1", Find_Bmp_End, [] { return Write(Picture().scaled(301, 97).convertToFormat(QImage::Format_Mono), "bmp"); }},
    {"TiffQt", Find_Tiff_End, [] { return Write(Picture(), "tiff"); }},
    {"TiffLittleEndian", Find_Tiff_End, [] { return Tiff_With_Thumbnail(Write(Picture(), "jpeg").bytes, false); }},
    {"TiffBigEndian", Find_Tiff_End, [] { return Tiff_With_Thumbnail(Write(Picture(), "jpeg").bytes, true); }},
    {"IcoHand", Find_Ico_End, [] { return Hand_Icon(1); }},
    {"CurHand", Find_Ico_End, [] { return Hand_Icon(2); }},
    {"TarFiles", Find_Tar_End, [] { return Run("tar", "-cf out f1.bin f2.bin f3.bin"); }},
    {"TarLongName", Find_Tar_End, [] { return Run("tar", "-cf out f1.bin d"); }},
    {"TarPax", Find_Tar_End, [] { return Run("tar", "--format=pax -cf out f1.bin d"); }},
    {"TarPaxSizeRecord", Find_Tar_End, Tar_With_Pax_Size},
    {"OggVorbis", Find_Ogg_End, [] { return Gst(AUDIO "vorbisenc ! oggmux"); }},
    {"OggOpus", Find_Ogg_End, [] { return Gst(AUDIO "audioresample ! opusenc ! oggmux"); }},
    {"OggTheoraVorbis", Find_Ogg_End, [] { return Gst(AUDIO "vorbisenc ! m. " VIDEO "theoraenc ! oggmux name=m"); }},
    {"OggChained", Find_Ogg_End,
     [] { Made a = Gst(AUDIO "vorbisenc ! oggmux"), b = Gst(AUDIO "audioresample ! opusenc ! oggmux");
          return Made(a.bytes + b.bytes, a.skip + b.skip); }},
    {"Webm", Find_Ebml_End, [] { return Gst(VIDEO "vp8enc ! webmmux"); }},
    {"Mkv", Find_Ebml_End, [] { return Gst(VIDEO "jpegenc ! matroskamux"); }},
    {"Wav", Find_Riff_End, [] { return Make_Wav(300, 8000); }},
    {"QtWebp", Find_Riff_End, [] { return Write(Test_Picture(64, 48), "webp"); }},
    {"GstAvi", Find_Riff_End, Gst_Avi},
    {"Docx", Find_Zip_End, [] { return Make_Docx(40); }},
    {"ZipDeflated", Find_Zip_End, By("zip", {"-q", "t.zip", "notes.txt"}, "t.zip")},
    {"ZipFromStdin", Find_Zip_End, By("sh", {"-c", "zip -q t.zip - < notes.txt"}, "t.zip")},
    {"Zip64", Find_Zip_End, Zip64},
    {"GstQuickTime", Find_Isobmff_End, Gst_Mov},
    {"GstMp4", Find_Isobmff_End, [] { return Gst(VIDEO25 "avenc_mpeg4 ! mp4mux faststart=true"); }},
    {"LameMp3Id3", Find_Mp3_End, [] { return Gst(MP3 "taginject tags=title=Tamberlin ! id3v2mux"); }},
    {"LameMp3Bare", Find_Mp3_End, [] { return Gst(MP3 "identity"); }},
    {"Ole2", Find_Ole2_End, [] { return Ole2(12); }},
    {"Ole2DifatSector", Find_Ole2_End, [] { return Ole2(20, false, 110); }},
    {"Ole2Sectors4096", Find_Ole2_End, [] { return Ole2(5, true, 1, 12); }},
    {"Flac", Find_Flac_End, FF(SINE, "a.flac")},
    {"FlacStereoSide", Find_Flac_End, FF(SINE "-ac 2 -af aeval=val(0)|val(0)*0.5", "s.flac")},
    {"FlacLpcOrder32", Find_Flac_End, FF(SINE "-compression_level 12", "h.flac")},
    {"Flac24BitStereo", Find_Flac_End,
     FF(SINE "-sample_fmt s32 -bits_per_raw_sample 24 -ac 2 -af aeval=val(0)|-val(0)", "h24.flac")},
    {"WavPack", Find_Wavpack_End, FF(SINE, "a.wv"), true},
    {"Aiff", Find_Aiff_End, FF(SINE, "a.aiff")},
    {"AifcAlaw", Find_Aiff_End, FF(SINE "-c:a pcm_alaw", "c.aiff")},
    {"Au", Find_Au_End, FF(SINE, "a.au")},
    {"AacAdts", Find_Aac_End, FF(SINE "-c:a aac -f adts", "a.aac"), true},
    {"Wmv", Find_Asf_End, FF(BARS "-c:v wmv2", "v.wmv")},
    {"WmvWithAudio", Find_Asf_End, FF(BARS SINE "-c:v wmv1 -c:a wmav1 -f asf", "v.asf")},
    {"FlvWithAudio", Find_Flv_End, FF(BARS SINE "-c:v flv1 -c:a aac", "av.flv"), true},
    {"SwfPlain", Find_Swf_End, FF(BARS "-c:v flv1", "v.swf")},
    {"Mpeg1Program", Find_Mpeg_Ps_End, FF(BARS "-f mpeg", "v.mpg")},
    {"VobWithAudio", Find_Mpeg_Ps_End, FF(BARS SINE "-c:v mpeg2video -c:a mp2 -f vob -shortest", "av.vob")},
    {"TransportStreamWithAudio", Find_Mpeg_Ts_End, FF(BARS SINE "-c:a mp2 -f mpegts -shortest", "av.ts"), true},
    {"Mpeg2Video", Find_Mpeg_Video_End,  // closed with a sequence end code, as most writers leave it
     [] { Made m = Ffmpeg(BARS "-f mpeg2video", "v.m2v"); return m.bytes += QByteArray("\0\0\x01\xB7", 4), m; }},
    {"RealMedia", Find_Realmedia_End, FF(BARS "-c:v rv10 -an", "v.rm"), true},
    {"Mxf", Find_Mxf_End, FF(BARS "-c:v mpeg2video -f mxf", "v.mxf")},
    {"Y4m", Find_Y4m_End, FF(BARS "-pix_fmt yuv420p", "v.y4m"), true},
    {"Y4m10BitIsNotTaken8Bit", Find_Y4m_End, FF(BARS "-strict -1 -pix_fmt yuv420p10le", "t.y4m"), true},
    {"Y4m444", Find_Y4m_End, FF(BARS "-pix_fmt yuv444p", "g.y4m"), true},
    {"Ivf", Find_Ivf_End, FF(BARS "-c:v libvpx", "v.ivf")},
    {"Pcx", Find_Pcx_End, FF(STILL "-c:v pcx", "i.pcx")},
    {"PcxPalette", Find_Pcx_End, FF(STILL "-c:v pcx -pix_fmt pal8", "p8.pcx")},
    {"Exr", Find_Exr_End, FF(STILL "-c:v exr -pix_fmt gbrpf32le", "i.exr")},
    {"ExrZip16Lines", Find_Exr_End, FF(STILL "-c:v exr -compression zip16 -pix_fmt gbrpf32le", "z.exr")},
    {"Jp2", Find_Jp2_End, FF(STILL "-c:v jpeg2000", "i.jp2")},
    {"J2k", Find_J2k_End, FF(STILL "-c:v jpeg2000 -format j2k", "i.j2k")},
    {"Midi", Find_Midi_End, HAND(Midi())},
    {"Amr", Find_Amr_End, HAND(Amr(20)), true},
    {"ApeWithTag", Find_Ape_End, HAND(Ape()), true},
    {"Bink", Find_Bink_End, HAND(Bink())},
    {"Crw", Find_Crw_End, HAND(Crw())},
    {"Raf", Find_Raf_End, HAND(Raf())},
    {"Mrw", Find_Mrw_End, HAND(Mrw())},
    {"X3f", Find_X3f_End, HAND(X3f())},
    {"JxlContainer", Find_Jxl_End, HAND(Jxl())},
    {"PsdRaw", Find_Psd_End, HAND(Psd(1, false))},
    {"PsdRle", Find_Psd_End, HAND(Psd(1, true))},
    {"PsbRle", Find_Psd_End, HAND(Psd(2, true))},
};

const Sample& Named(std::string_view name) { return *std::ranges::find(kSamples, name, &Sample::name); }

class FormatFile : public ::testing::TestWithParam<Sample> {};

TEST_P(FormatFile, EndsExactlyAndNeverPastACut) {
  const Sample& s = GetParam();
  const Made made = s.make();
  if (!made.skip.isEmpty()) GTEST_SKIP() << made.skip.toStdString();
  const QByteArray& file = made.bytes;
  if (s.finder == Find_Tar_End) {
    // The last member's data ends in the last non-zero byte's block; the two end blocks follow, and the zeros
    // filling the last record may be cut or overwritten.
    qsizetype last = file.size() - 1;
    while (last >= 0 && file[last] == '\0') --last;
    const auto core = static_cast<std::uint64_t>((last + 512) / 512 * 512 + 1024);
    Expect_Exact_End_Never_Past_A_Cut(s, file, core);
    const auto size = static_cast<std::uint64_t>(file.size());
    EXPECT_EQ(Item(file, {}, size - 1, size - 1).Run(Find_Tar_End).length, core) << "padding cut";
    QByteArray dirty = file;
    dirty[file.size() - 1] = 1;
    EXPECT_EQ(Item(dirty).Run(Find_Tar_End).length, core) << "padding not zero";
    return;
  }
  Expect_Exact_End_Never_Past_A_Cut(s, file);
  if (s.finder != Find_Jpeg_End && s.finder != Find_Png_End && s.finder != Find_Gif_End && s.finder != Find_Bmp_End &&
      s.finder != Find_Tiff_End)
    return;
  // A zeroed last quarter breaks the structure the finder reads, except where the header alone gives the length.
  const bool tail_unread =
      s.finder == Find_Bmp_End || (s.finder == Find_Tiff_End && s.name != std::string_view("TiffQt"));
  const QByteArray zero_tail = file.left(file.size() * 3 / 4).leftJustified(file.size(), '\0');
  const EndFinding f = Item(zero_tail, Zeros(8192)).Run(s.finder);
  EXPECT_EQ(f.found() ? f.length : 0, tail_unread ? static_cast<std::uint64_t>(zero_tail.size()) : 0) << f.why;
}

INSTANTIATE_TEST_SUITE_P(Files, FormatFile, ::testing::ValuesIn(kSamples), kByName);

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
qsizetype Flv_Tag_End(const QByteArray& b, qsizetype at) {
  const auto byte = [&](qsizetype i) { return static_cast<qsizetype>(static_cast<unsigned char>(b[at + i])); };
  return at + 11 + (byte(1) << 16 | byte(2) << 8 | byte(3)) + 4;
}

const Edit kEdits[] = {
    {"bmp size field zero", "Bmp24", ED(Set32(b, 2, 0)), kFound},
    {"bmp size field past the pixels", "Bmp8", ED(Set32(b, 2, std::uint32_t(b.size() + 5000))), kFound},
    {"bmp RLE8 with its size", "Bmp8", ED(Set32(b, 30, 1)), kFound},
    {"bmp RLE8 with a zero size", "Bmp8", ED(Set32(b, 2, 0), Set32(b, 30, 1)), kNotIt},
    {"bmp unknown header size", "Bmp24", ED(Set32(b, 14, 41)), kNotIt},
    {"png IEND crc wrong", "Png", ED(b[b.size() - 1] = 0), kUnknown},
    {"png IHDR crc wrong", "Png", ED(b[29] = static_cast<char>(b[29] ^ 1)), kNotIt},
    {"png chunk length over 2^31", "Png", ED(Set32(b, 33, 0x80000000, true)), kUnknown},
    {"jpeg reserved marker", "JpegBaseline", ED(b[3] = 0x50), kNotIt},
    // An APP0 id no reader knows, so no JFIF before the table.
    {"jpeg quantisation table length wrong", "JpegBaseline", ED(b[9] = 'X', b[b.indexOf("\xFF\xDB") + 3] = 0), kNotIt},
    {"jpeg cut after its frame header", "JpegBaseline", ED(b.truncate(b.indexOf("\xFF\xDA"))), kUnknown},
    {"gif unknown block", "Gif", ED(b[13 + 384] = '!' + 1), kNotIt},
    {"gif screen without width", "Gif", ED(b[6] = b[7] = 0), kNotIt},
    {"gif last frame's control block broken", "GifAnimated", ED(b[b.lastIndexOf("\x21\xF9\x04") + 2] = 5), kUnknown},
    {"tiff IFD chain loops to IFD0", "TiffLittleEndian", ED(Set32(b, 52, 8)), kFound},
    {"tiff IFD points at itself", "TiffBigEndian", ED(Set32(b, 52, 26, true)), kFound},
    {"tiff next IFD past the limit", "TiffLittleEndian", ED(Set32(b, 52, 0x10000000)), kUnknown},
    {"tiff thumbnail past the limit", "TiffBigEndian", ED(Set32(b, 36, 0x7FFFFFF0, true)), kUnknown},
    {"tiff empty IFD", "TiffLittleEndian", ED(b[26] = 0), kUnknown},
    {"tiff first IFD value type unknown", "TiffLittleEndian", ED(b[12] = 99), kNotIt},
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
    {"ebml segment size past the limit", "Mkv", ED(Grow_Segment(b, 1 << 20)), kUnknown},
    {"ebml unknown doc type", "Webm", ED(b[b.indexOf("webm") + 1] = 'x'), kNotIt},
    {"ebml void before the segment", "Mkv", ED(b.insert(b.indexOf(kSegment), QByteArray("\xEC\x83\0\0\0", 5))), kFound},
    {"flac total samples unknown", "Flac", ED(b[8 + 13] = char(b[8 + 13] & 0xF0), Set32(b, 22, 0, true)), kUnknown},
    {"flac last frame CRC broken", "Flac", ED(b[b.size() - 1] = static_cast<char>(b[b.size() - 1] ^ 1)), kUnknown},
    {"flac STREAMINFO length wrong", "Flac", ED(b[7] = 33), kNotIt},
    {"flac bits per sample below 4", "Flac", ED(b[8 + 12] = char(b[8 + 12] & 0xFE), b[8 + 13] &= 0x0F), kNotIt},
    {"wavpack version unknown", "WavPack", ED(b[8] = 0x7F), kNotIt},
    {"aiff without COMM", "Aiff", ED(b.replace(b.indexOf("COMM"), 4, "COMX")), kNotIt},
    {"au size unknown", "Au", ED(Set32(b, 8, 0xFFFFFFFF, true)), kUnknown},
    {"au encoding zero", "Au", ED(Set32(b, 12, 0, true)), kNotIt},
    {"asf header objects overrun", "WmvWithAudio", ED(Set32(b, 24, 200, false)), kNotIt},
    {"asf size below its objects", "Wmv", ED(Set32(b, b.indexOf("\xA1\xDC\xAB\x8C") + 40, 100, false)), kUnknown},
    {"flv second tag's trailing size wrong", "FlvWithAudio",
     ED(Set32(b, Flv_Tag_End(b, Flv_Tag_End(b, 13)) - 4, 7, true)), kFound,
     [](const QByteArray& b) { return static_cast<std::uint64_t>(Flv_Tag_End(b, 13)); }},
    {"swf length one more", "SwfPlain", ED(b[4] = static_cast<char>(b[4] + 1)), kNotIt},
    {"mpeg program end code ends the stream", "Mpeg1Program", ED(b += QByteArray("\0\0\x01\xB9", 4)), kFound},
    {"mpeg pack marker bits wrong", "VobWithAudio", ED(b[4] = 0), kNotIt},
    {"m2v sequence end missing", "Mpeg2Video", ED(b.chop(4)), kUnknown},
    {"ts first table CRC wrong", "TransportStreamWithAudio", ED(b[20] = static_cast<char>(b[20] ^ 0x40)), kNotIt},
    {"rm without PROP after the header", "RealMedia", ED(b[18] = 'X'), kNotIt},
    {"mxf names no footer", "Mxf", ED(Set32(b, 20 + 24 + 4, 0, true)), kUnknown},
    {"y4m unknown colour space", "Y4m", ED(b.replace(b.indexOf(" C420") + 2, 3, "999")), kNotIt},
    {"ivf states more frames", "Ivf", ED(Set32(b, 24, 1000, false)), kUnknown},
    {"pcx odd bytes per line", "Pcx", ED(b[66] = static_cast<char>(b[66] | 1)), kNotIt},
    {"exr version flag unknown", "Exr", ED(b[7] = 1), kNotIt},
    {"j2k tile-part longer than the file", "J2k", ED(Set32(b, b.indexOf("\xFF\x90") + 6, 0x7FFFFFF, true)), kUnknown},
    {"jp2 brand unknown", "Jp2", ED(b[20] = 'x'), kNotIt},
    {"midi track count too high", "Midi", ED(b[11] = 3), kUnknown},
    {"midi format 3", "Midi", ED(b[9] = 3), kNotIt},
    {"ape compression level odd", "ApeWithTag", ED(b[52] = 1), kNotIt},
    {"bink without width", "Bink", ED(Set32(b, 20, 0, false)), kNotIt},
    {"crw table offset broken", "Crw", ED(Set32(b, b.size() - 4, 7, false)), kUnknown},
    {"raf preview is no JPEG", "Raf", ED(b[108] = 0), kNotIt},
    {"mrw storage method unknown", "Mrw", ED(b[16 + 18] = 0x33), kNotIt},
    {"x3f directory offset wrong", "X3f", ED(Set32(b, b.size() - 4, 8, false)), kUnknown},
    {"jxl bare codestream", "JxlContainer", ED(b = b.mid(b.indexOf("\xFF\x0A"))), kNotIt},
    {"psd channels zero", "PsdRaw", ED(b[13] = 0), kNotIt},
    {"psd zip-compressed data", "PsdRaw", ED(b[b.size() - 61] = 2), kUnknown},
    {"psd RLE row count too large", "PsdRle", ED(b[b.size() - 72 - 1] = 99), kUnknown},
};

TEST(FormatEdits, BrokenStructureIsNotThisFormatDamagedEndIsUnknown) { Expect_Edits(kSamples, kEdits); }

// The MPF index lists a second image stored after the first one's EOI.
QByteArray Mpf_Jpeg(const QByteArray& first, const QByteArray& second) {
  QByteArray mp("II*\0\x08\0\0\0\x02\0", 10);
  Put16(mp, 0xB000), Put16(mp, 7), Put32(mp, 4), mp += "0100";
  Put16(mp, 0xB002), Put16(mp, 7), Put32(mp, 32), Put32(mp, 8 + 2 + 24 + 4), Put32(mp, 0);
  const auto segment = static_cast<std::uint32_t>(2 + 4 + mp.size() + 32);
  const auto primary = static_cast<std::uint32_t>(first.size() + 2 + segment);
  Put32(mp, 0x20030000), Put32(mp, primary), Put32(mp, 0), Put32(mp, 0);
  Put32(mp, 0), Put32(mp, static_cast<std::uint32_t>(second.size())), Put32(mp, primary - 10), Put32(mp, 0);
  QByteArray app2("\xFF\xE2", 2);
  Put16_Be(app2, segment);
  return first.left(2) + app2 + QByteArray("MPF\0", 4) + mp + first.mid(2) + second;
}

TEST(ImageEndTest, MpfImagesExtendTheJpegWhenAllThere) {
  const QByteArray second = Write(Picture(2).scaled(30, 20), "jpeg").bytes;
  const QByteArray file = Mpf_Jpeg(Named("JpegBaseline").make().bytes, second);
  const auto size = static_cast<std::uint64_t>(file.size());
  const auto primary = size - static_cast<std::uint64_t>(second.size());
  EXPECT_EQ(Item(file, Garbage(8192)).Run(Find_Jpeg_End).length, size);
  // Cut short, or the second image broken: the first image is still whole.
  EXPECT_EQ(Item(file, Garbage(8192), size - 1, size - 1).Run(Find_Jpeg_End).length, primary);
  QByteArray no_soi = file;
  no_soi[static_cast<qsizetype>(primary) + 1] = 0;
  EXPECT_EQ(Item(no_soi, Garbage(8192)).Run(Find_Jpeg_End).length, primary);
}

struct Case {
  const char* name;
  EndFinder finder;
  std::function<Made()> make;
  std::uint64_t expect = ~std::uint64_t{0};  // 0: not found; all ones: the whole made file
  std::uint64_t cut = 0;                     // the limit ends this many bytes before the file's end
};
constexpr std::uint64_t kWhole = ~std::uint64_t{0};

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

// Formats with no stated length are told from chance by a run of frames:
// one frame short of the run is not this format, the run itself is found.
TEST(MediaFrameRuns, ShortestRunThatCounts) {
  QByteArray adts;  // 22.05 kHz mono AAC frames of 100 bytes
  for (int i = 0; i < 4; ++i) adts += QByteArray("\xFF\xF1\x5C\x40\x0C\x9F\xFC", 7) + Garbage(93, 30 + i);
  const QByteArray pes = QByteArray("\0\0\x01\xE0\0\x0A", 6) + Garbage(10, 5);
  const struct {
    const char* what;
    EndFinder finder;
    QByteArray run;       // the shortest run that counts
    qsizetype last_unit;  // bytes of its last frame or packet
  } kRuns[] = {
      {"AMR: eight frames", Find_Amr_End, Amr(8), 32},
      {"ADTS: four frames", Find_Aac_End, adts, 100},
      {"program stream: a pack and two packets", Find_Mpeg_Ps_End,
       QByteArray("\0\0\x01\xBA\x21\0\x01\0\x01\x80\x1B\x91", 12) + pes + pes, pes.size()},
  };
  for (const auto& r : kRuns) {
    SCOPED_TRACE(r.what);
    const EndFinding found = Item(r.run, Zeros(4096)).Run(r.finder);
    EXPECT_EQ(found.found() ? found.length : 0, static_cast<std::uint64_t>(r.run.size())) << found.why;
    EXPECT_TRUE(Item(r.run.left(r.run.size() - r.last_unit), Zeros(4096)).Run(r.finder).not_this_format());
  }
}

// `finder` on `file` followed by `after` (and a range or limit when not 0) finds `expect` bytes (0: no end) and,
// unless `format` is 0, says the start is (1) or is not (-1) this format.
void Expect(const std::string& what, EndFinder finder, const QByteArray& file, const QByteArray& after,
            std::uint64_t expect, int format = 0, std::uint64_t range = 0, std::uint64_t limit = 0) {
  SCOPED_TRACE(what);
  const EndFinding f = Item(file, after, range, limit).Run(finder);
  EXPECT_EQ(f.found() ? f.length : 0, expect) << f.why;
  EXPECT_TRUE(format == 0 || f.not_this_format() == (format < 0)) << f.why;
}
QByteArray Flip(QByteArray b, qsizetype at) { return b.replace(at, 1, QByteArray(1, static_cast<char>(b[at] ^ 0x5A))); }
QByteArray Lines(const char* head, const char* line, int n, const char* tail) {
  return head + QByteArray(line).repeated(n) + tail;
}
// `head` over random bytes, `size` in all.
QByteArray Fill(const QByteArray& h, int size, unsigned seed) { return Garbage(size, seed).replace(0, h.size(), h); }
std::uint64_t N(const QByteArray& b) { return static_cast<std::uint64_t>(b.size()); }
std::uint32_t Get32_Be(const QByteArray& b, qsizetype at) { return qFromBigEndian<std::uint32_t>(b.constData() + at); }



const char* kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
Made Font() {
  QFile f(kFont);
  return f.open(QIODevice::ReadOnly) ? Made(f.readAll()) : Made({}, QString(kFont) + " is not there");
}

// ---- built by hand

// RAR 4: marker, main header, one stored file, end of archive.
QByteArray Rar4() {
  const auto block = [](int type, int flags, const QByteArray& rest) {
    const QByteArray h = static_cast<char>(type) + Le<2>(flags, rest.size() + 7) + rest;
    return Le<2>(samples::Crc32(h) & 0xFFFF) + h;
  };
  const QByteArray data = Notes().left(5000);
  // sizes, host OS, CRC, time, version 2.0, stored, name length, attributes
  const QByteArray file = Le<4>(data.size(), data.size()) + '\x02' + Le<4>(samples::Crc32(data), 0x5A2B3C4D) +
                          "\x14\x30" + Le<2>(9) + Le<4>(0x20) + "notes.txt";
  return {QByteArray("Rar!\x1A\x07\x00", 7) + block(0x73, 0, Zeros(6)) + block(0x74, 0x8000, file) + data +
          block(0x7B, 0x4000, {})};
}

// RAR 5: blocks of CRC, size and fields in variable-length integers.
QByteArray Rar5() {
  const auto vint = [](auto... vs) {
    QByteArray out;
    for (std::uint64_t v : {static_cast<std::uint64_t>(vs)...})
      for (bool more = true; more; v >>= 7) out += static_cast<char>((v & 0x7F) | ((more = v > 0x7F) ? 0x80 : 0));
    return out;
  };
  const auto block = [&vint](const QByteArray& fields) {
    const QByteArray sized = vint(fields.size()) + fields;
    return Le<4>(samples::Crc32(sized)) + sized;
  };
  const QByteArray data = Notes().left(7000);
  return {QByteArray("Rar!\x1A\x07\x01\x00", 8) + block(vint(1, 0, 0)) +
          block(vint(2, 2, data.size(), 0, data.size(), 0x20, 0, 0, 9) + "notes.txt") + data + block(vint(5, 0, 0))};
}


// RPM: lead, signature header with the size of header and payload, header, payload.
QByteArray Rpm() {
  const QByteArray lead = QByteArray("\xED\xAB\xEE\xDB\x03").leftJustified(10, '\0') +
                          QByteArray("notes-1.0").leftJustified(69, '\0') + '\x05' + Zeros(16);
  const auto header = [](int tag, int type, const QByteArray& store) {
    return QByteArray("\x8E\xAD\xE8\x01\0\0\0\0", 8) + Be<4>(1, store.size(), tag, type, 0, 1) + store;
  };
  const QByteArray main = header(1000, 6, "notes"), payload = qCompress(Notes()).mid(4);
  const QByteArray signature = header(1000, 4, Be<4>(main.size() + payload.size()));
  return {lead + signature.leftJustified((signature.size() + 7) / 8 * 8, '\0') + main + payload};
}

// A Java class: a small constant pool, no fields, one method with a Code
// attribute, and a SourceFile attribute.
QByteArray Java_Class() {
  QByteArray c = "\xCA\xFE\xBA\xBE" + Be<2>(0, 61, 12);
  for (const QByteArray n : {"Notes", "java/lang/Object", "main", "()V", "Code", "SourceFile", "Notes.java"})
    c += '\x01' + Be<2>(n.size()) + n;
  // #8 class Notes, #9 class Object, #10 a long taking #11 too; flags, this, super, no interfaces or fields,
  // one method with its Code attribute, one SourceFile attribute
  return {c + QByteArray("\x07\x00\x01\x07\x00\x02\x05\0\0\0\0\0\0\0\x2A", 15) +
          Be<2>(0x21, 8, 9, 0, 0, 1, 9, 3, 4, 1, 5) + Be<4>(13) + QByteArray("\0\0\0\x01\0\0\0\x01\xB1\0\0\0\0", 13) +
          Be<2>(1, 6) + Be<4>(2) + Be<2>(7)};
}

// A collection of one font: the font moved 16 bytes on, its table offsets too.
QByteArray Ttc() {
  QByteArray f = Font().bytes;
  for (int i = 0; !f.isEmpty() && i < qFromBigEndian<std::uint16_t>(f.constData() + 4); ++i)
    f.replace(20 + 16 * i, 4, Be<4>(Get32_Be(f, 20 + 16 * i) + 16));
  return f.isEmpty() ? f : QByteArray("ttcf\0\1\0\0", 8) + Be<4>(1, 16) + f;
}

// WOFF with every table stored uncompressed.
QByteArray Woff() {
  const QByteArray f = Font().bytes;
  const int tables = f.isEmpty() ? 0 : qFromBigEndian<std::uint16_t>(f.constData() + 4);
  QByteArray directory, data;
  for (qsizetype e = 12; e < 12 + 16 * tables; e += 16) {
    const std::uint32_t length = Get32_Be(f, e + 12);
    directory += f.mid(e, 4) + Be<4>(44 + 20 * tables + data.size(), length, length, Get32_Be(f, e + 4));
    data += f.mid(Get32_Be(f, e + 8), length).leftJustified((length + 3) / 4 * 4, '\0');
  }
  // no versions, metadata or private data
  return f.isEmpty() ? f
                     : QByteArray("wOFF\0\1\0\0", 8) + Be<4>(44 + 20 * tables + data.size()) + Be<2>(tables, 0) +
                           Be<4>(f.size()) + Zeros(24) + directory + data;
}

QByteArray Blend() {
  QByteArray f("BLENDER-v300");
  for (const auto& [code, size] : {std::pair{"REND", 72}, std::pair{"GLOB", 1024}, std::pair{"DNA1", 3000}})
    f += code + Le<4>(size) + Le<8>(0x7F0012345678) + Le<4>(0, 1) + Garbage(size, static_cast<unsigned>(size));
  return {f + "ENDB" + Zeros(20)};
}

// A file, what follows it and the ranges it is found in; damage to a header
// byte makes it not this format, damage to a check field (or the data it
// covers; negative: from the end) leaves the whole members before it.
struct WholeCase {
  const char* name;
  EndFinder finder;
  std::function<Made()> make;
  bool end_stated = true;  // else Unknown when whole
  std::vector<qsizetype> header = {}, checks = {};
};
void PrintTo(const WholeCase& c, std::ostream* os) { *os << c.name; }
const char* kSql = "create table t(a, b); insert into t values (1, randomblob(20000)); "
                   "insert into t values (2, 'notes'); create index i on t(a);";
const QByteArray kControl = "Package: notes\nVersion: 1.0\nArchitecture: all\nMaintainer: A\nDescription: notes\n";
const QByteArray kHello = "#include <stdio.h>\nint main(void) { puts(\"notes\"); return 0; }\n";

const WholeCase kArchives[] = {
    {"Zip", Find_Zip_End, By("zip", {"-q", "x.zip", "notes.txt", "data.bin"}, "x.zip"), true, {2, 8}},
    {"SevenZip", Find_7z_End, By("7z", {"a", "-bd", "x.7z", "notes.txt", "data.bin"}, "x.7z"), true, {8, 14}},
    {"Zstd", Find_Zstd_End, By("zstd", {"-q", "notes.txt", "-o", "x.zst"}, "x.zst"), true, {4}},
    {"ZstdWithChecksumAndSize", Find_Zstd_End, By("zstd", {"-q", "-19", "--check", "data.bin", "-o", "x.zst"}, "x.zst"),
     true, {}},
    {"Lz4", Find_Lz4_End, By("lz4", {"-q", "notes.txt", "x.lz4"}, "x.lz4"), true, {4, 6}},
    {"Lz4BlockChecksums", Find_Lz4_End, By("lz4", {"-q", "-BX", "-B4", "data.bin", "x.lz4"}, "x.lz4"), true, {5}},
    {"Sqlite", Find_Sqlite_End, By("sqlite3", {"x.db", kSql}, "x.db"), true, {16, 21}},
    {"Cab", Find_Cab_End, By("gcab", {"-c", "x.cab", "notes.txt", "data.bin"}, "x.cab"), true, {12, 25}},
    {"Arj", Find_Arj_End, By("arj", {"a", "x.arj", "notes.txt", "data.bin"}, "x.arj"), true, {10}},
    {"Lzh", Find_Lzh_End, By("jlha", {"a", "x.lzh", "notes.txt", "data.bin"}, "x.lzh"), true, {5}},
    {"Compress", Find_Z_End, By("compress", {"-f", "notes.txt"}, "notes.txt.Z"), false, {2}},
    {"Deb", Find_Deb_End,
     By("dpkg-deb", {"--root-owner-group", "-Zgzip", "--build", "pkg", "x.deb"}, "x.deb",
        {{"pkg/DEBIAN/control", kControl}, {"pkg/usr/share/notes/notes.txt", Notes()}}),
     true, {66, 68}},
    {"Elf", Find_Elf_End, By("gcc", {"-O1", "-o", "x", "hello.c"}, "x", {{"hello.c", kHello}}), true, {4, 6, 52}},
    {"Rar4", Find_Rar_End, Rar4, true, {9, 10}},
    {"Rar5", Find_Rar_End, Rar5, true, {8, 13}},
    {"PeSigned", Find_Pe_End, [] { return Pe(true); }, true, {0x3C, 0x80, 0x84, 0x98, 0xBC}},
    {"Pe", Find_Pe_End, [] { return Pe(false); }, true, {}},
    {"Rpm", Find_Rpm_End, Rpm, true, {4, 79, 96}},
    {"JavaClass", Find_Class_End, Java_Class, true, {7, 10}},
    {"Ttf", Find_Sfnt_End, Font, true, {1, 12}},
    {"Ttc", Find_Ttc_End, Ttc, true, {5, 15, 28}},
    {"Woff", Find_Woff_End, Woff, true, {4, 14}},
    {"Djvu", Find_Djvu_End,
     [] {  // the pad byte after the odd last chunk is not part of the FORM
       const QByteArray body = "DJVUINFO" + Be<4>(10) + QByteArray::fromHex("0064006418002c011601") + "Sjbz" +
                               Be<4>(3001) + Garbage(3001, 8);
       return "AT&TFORM" + Be<4>(body.size()) + body;
     },
     true, {12}},
    {"Blend", Find_Blend_End, Blend, true, {7, 12}},
    {"Torrent", Find_Torrent_End,
     [] {
       return "d8:announce35:http://tracker.example.org/announce13:creation datei1700000000e4:infod6:lengthi123456e4:"
              "name9:notes.txt12:piece lengthi16384e6:pieces400:" + Garbage(400, 12) + "ee";
     },
     true, {11, 12}},
};

class ArchiveFormatTest : public ::testing::TestWithParam<WholeCase> {};

// The whole file is accepted and ends exactly, whatever follows it; a cut or
// a limit inside it never gives an end past the members before it.
TEST_P(ArchiveFormatTest, EndsExactlyAndRejectsDamagedHeaders) {
  const WholeCase& c = GetParam();
  const Made made = c.make();
  if (!made.skip.isEmpty()) GTEST_SKIP() << made.skip.toStdString();
  const QByteArray& file = made.bytes;
  const std::uint64_t size = N(file), before = static_cast<std::uint64_t>(made.first), whole = c.end_stated ? size : 0;
  const auto cut = static_cast<std::uint64_t>(made.first + (file.size() - made.first) * 2 / 3);
  Expect("zeros after", c.finder, file, Zeros(4096), whole, 1);
  Expect("garbage after", c.finder, file, Garbage(65536), whole, 1);
  Expect("longer than its range", c.finder, file, Garbage(65536), whole, 1, size / 2, size + 65536);
  // Less garbage than was cut: a stated size then points past the data.
  Expect("cut short, garbage after", c.finder, file.left(static_cast<qsizetype>(cut)), Garbage(512), before);
  Expect("limit ends inside it", c.finder, file, Garbage(65536), before, 0, cut, cut);
  for (const qsizetype at : c.header)
    Expect("header byte " + std::to_string(at) + " damaged", c.finder, Flip(file, at), Garbage(65536), 0, -1);
  for (const qsizetype at : c.checks)
    Expect("check byte " + std::to_string(at) + " damaged", c.finder, Flip(file, at < 0 ? file.size() + at : at),
           Zeros(4096), before);
}

INSTANTIATE_TEST_SUITE_P(Real, ArchiveFormatTest, ::testing::ValuesIn(kArchives), kByName);

// Frames and members joined end to end are one file; what follows the last
// whole one is not.
TEST(ArchiveEndTest, JoinedFramesAreOneFileUpToTheLastWholeOne) {
  for (const auto& [made, finder] : {std::pair{kArchives[2].make().bytes, &Find_Zstd_End},
                                     std::pair{kArchives[4].make().bytes, &Find_Lz4_End}}) {
    if (made.isEmpty()) GTEST_SKIP() << "the file could not be made";
    const QByteArray skippable = "\x50\x2A\x4D\x18" + Le<4>(5) + "notes", joined = made + skippable + made;
    Expect("joined", finder, joined, Garbage(4096), N(joined), 1);
    Expect("second cut", finder, joined.chopped(10), Garbage(4096), N(made + skippable), 1);
  }
}

// Text ends where the bytes stop being text, or after the format's closing
// line inside it; a start that is not text is not this format.
TEST(TextFormatTest, TextEndsAtItsClosingLineOrWhereTheTextStops) {
  const QByteArray card = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Anna Müller\r\nTEL:+49 30 1234567\r\nEND:VCARD\r\n";
  const QByteArray cards = card.repeated(40), not_text = Garbage(4096, 21);
  const QByteArray html = Lines("<!DOCTYPE html>\n<html><body>", "<p>Über das Wetter.</p>\n", 90, "</body></html>\n");
  const QByteArray latin = "<!DOCTYPE html>\n<p>Gr\xFC\xDF" "e aus K\xF6ln</p>\n" + html.mid(16);
  const QByteArray rtf = Lines("{\\rtf1\\ansi {\\fonttbl {\\f0 Times;}}\n", "\\pard Notes\\par\n", 50, "}\r\n");
  const QByteArray ps = Lines("%!PS-Adobe-3.0\n%%Pages: 1\n", "(notes) show\n", 80, "showpage\n%%EOF\n");
  const QByteArray xml = Lines("<?xml version=\"1.0\"?>\n<notes>\n", "<note>card</note>\n", 80, "</notes>\n");
  const QByteArray ics = Lines("BEGIN:VCALENDAR\r\n", "BEGIN:VEVENT\r\nEND:VEVENT\r\n", 20, "END:VCALENDAR\r\n");
  const QByteArray svg = Lines("<svg xmlns=\"http://www.w3.org/2000/svg\">\n", "<circle/>\n", 30, "</svg>\n");
  Expect("vcards, zeros after", Find_Vcf_End, cards, Zeros(4096), N(cards), 1);
  Expect("vcards, more text after", Find_Vcf_End, cards, "Other text that is not a card\n", N(cards), 1);
  Expect("vcard cut before END", Find_Vcf_End, card.left(50), Zeros(512), 0, 1);
  Expect("vcard cut mid-way, garbage after", Find_Vcf_End, cards.left(2000), not_text, N(card) * (2000 / N(card)), 1);
  Expect("html, garbage after", Find_Html_End, html, not_text, N(html), 1);
  Expect("html without its end", Find_Html_End, html.left(1500), Zeros(512), 1500, 1);
  Expect("latin-1 letters are text", Find_Html_End, latin, Zeros(512), N(latin), 1);
  Expect("rtf, text after the brace", Find_Rtf_End, rtf, "trailing words", N(rtf), 1);
  Expect("postscript", Find_Ps_End, ps, not_text, N(ps), 1);
  Expect("calendar", Find_Ics_End, ics, not_text, N(ics), 1);
  Expect("svg, text after", Find_Svg_End, svg, "<p>next</p>", N(svg), 1);
  Expect("xml, zeros after", Find_Xml_End, xml, Zeros(4096), N(xml), 1);
  Expect("xml ending on a sector boundary", Find_Xml_End, xml.left(1024), Zeros(512), 1024, 1);
  Expect("short file in its first sector", Find_Xml_End, xml.left(100), Zeros(512), 100, 1);
  Expect("nul after the signature", Find_Xml_End, "<?xml " + Zeros(600), {}, 0, -1);
  Expect("binary after the signature", Find_Html_End, "<!DOCTYPE html" + not_text, {}, 0, -1);
}

// Formats whose header states where the file ends, built field by field: the
// end is the stated one, a cut gives none; one damaged header field makes it
// not this format.
TEST(HeaderFormatTest, StatedEndsAndDamagedHeaderFields) {
  const QByteArray macho = Fill("\xCF\xFA\xED\xFE" + Le<4>(0x0100000C, 0, 2, 1, 72, 0, 0, 0x19, 72) + "__TEXT" +
                                    Zeros(10) + Le<8>(0x100000000, 0x1000, 0, 0x1000) + Zeros(16), 4096, 2);
  const QByteArray chm = Fill(QByteArray("ITSF\3\0\0\0", 8) + Le<4>(0x60, 1, 0, 0x409) + QByteArray(32, '\x11') +
                                  Le<8>(0x60, 0x18, 0x78, 0x54, 0x1000) + Le<4>(0x1FE, 0, 8192, 0, 0, 0), 8192, 3);
  const QByteArray pst = Fill(QByteArray("!BDN\0\0\0\0SM\x17\0\x13\0\1\1", 16).leftJustified(0xB8, '\0') + Le<8>(8192),
                              8192, 4);
  // A dynamic disk: footer copy, dynamic header, a table of 4 blocks (two used), blocks, footer.
  QByteArray footer =
      (QByteArray("conectix\0\0\0\2\0\1\0\0", 16) + Be<4>(0, 512) + Zeros(36) + Be<4>(3, 0)).leftJustified(512, '\0');
  std::uint32_t sum = 0;
  for (const char c : footer) sum += static_cast<std::uint8_t>(c);
  footer.replace(64, 4, Be<4>(~sum));
  const QByteArray vhd = ((footer + "cxsparse" + QByteArray(8, '\xFF') + Be<4>(0, 1536, 0x00010000, 4, 4096))
                              .leftJustified(1536, '\0') + Be<4>(4, 0xFFFFFFFF, 13, 0xFFFFFFFF))
                             .leftJustified(13 * 512 + 512 + 4096, '\x22') + footer;
  const QByteArray text = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 10 10\nshowpage\n%%EOF\n";
  const QByteArray eps = "\xC5\xD0\xD3\xC6" + Le<4>(30, text.size(), 0, 0, 30 + text.size(), 3000) + Le<2>(0xFFFF) +
                         text + Garbage(3000, 5);
  for (const auto& [what, finder, file, damage] :
       {std::tuple{"mach-o", &Find_Macho_End, macho, 4}, std::tuple{"chm", &Find_Chm_End, chm, 8},
        std::tuple{"vhd", &Find_Vhd_End, vhd, 70}, std::tuple{"pst", &Find_Pst_End, pst, 9},
        std::tuple{"binary eps", &Find_Ps_End, eps, 30}}) {
    Expect(std::string(what) + " whole", finder, file, Garbage(8192, 6), N(file), 1);
    Expect(std::string(what) + " cut", finder, file.left(file.size() * 3 / 4), {}, 0, 1);
    Expect(std::string(what) + " damaged", finder, Flip(file, damage), Garbage(8192, 6), 0, -1);
  }
}

// Text that compresses well between random runs that do not.
QByteArray Mixed_Data(int bytes, unsigned seed = 1) {
  const QByteArray text = QByteArray("A line that was on the card before it was lost\n").repeated(90);
  QByteArray out;
  for (unsigned i = 0; out.size() < bytes; ++i) out += i % 3 == 2 ? Garbage(4096, seed + i) : text;
  return out.left(bytes);
}
const QByteArray kData = Mixed_Data(300 * 1024), kMore = Mixed_Data(100000, 9);

// `data` through `program -c` (gzip: without a name or time, as from standard input).
Made Compress(const char* program, const QByteArray& data) {
  QTemporaryFile in;
  if (!in.open() || in.write(data) != data.size() || !in.flush()) return {{}, "cannot write the input"};
  const auto run = tamberlin::testing::Run_Tool(program, {QString(program) == "gzip" ? "-cn" : "-c", in.fileName()});
  return {run.out, run.problem};
}

// A member written here, so the gzip cases always run: qCompress's deflate
// data behind a header with every optional field (header CRC at 31).
QByteArray Gzip_In_Process(const QByteArray& data) {
  const QByteArray z = qCompress(data, 9);  // size, zlib header, deflate, Adler-32
  QByteArray out = QByteArray::fromHex("1f8b081e0000000000030400") + "ab\x01\x02" + QByteArray("card.bin\0found\0", 15);
  samples::Put16(out, samples::Crc32(out) & 0xFFFF);
  out += z.mid(6, z.size() - 10);
  samples::Put32(out, samples::Crc32(data));
  samples::Put32(out, static_cast<std::uint32_t>(data.size()));
  return out;
}

QByteArray Pdf() { return samples::Make_Pdf("Notes", QString("Found on the card ").repeated(40)); }

Made Joined(const Made& a, const Made& b, const QByteArray& between = {}) {
  Made joined(a.bytes + between + b.bytes, a.skip.isEmpty() ? b.skip : a.skip);
  joined.first = a.bytes.size();
  return joined;
}

const WholeCase kStreams[] = {
    {"Pdf", Find_Pdf_End, [] { return Made(Pdf()); }, true, {}, {}},
    {"GzipInProcess", Find_Gzip_End, [] { return Made(Gzip_In_Process(kData)); }, true, {}, {31, 5000, -8, -1}},
    {"GzipTool", Find_Gzip_End, [] { return Compress("gzip", kData); }, true, {}, {-8}},
    {"GzipMembers", Find_Gzip_End, [] { return Joined(Compress("gzip", kData), Made(Gzip_In_Process(kMore))); },
     true, {}, {-5}},
    {"Bzip2Tool", Find_Bzip2_End, [] { return Compress("bzip2", kData); }, true, {}, {11, -2}},  // block CRC, stream CRC
    {"Bzip2Streams", Find_Bzip2_End, [] { return Joined(Compress("bzip2", kData), Compress("bzip2", kMore)); },
     true, {}, {-2}},
    {"XzTool", Find_Xz_End, [] { return Compress("xz", kData); }, true, {}, {7, -12, -13}},  // flags, footer, index CRC
    {"XzStreamsWithPadding", Find_Xz_End,
     [] { return Joined(Compress("xz", kData), Compress("xz", kMore), Zeros(8)); }, true, {}, {-12}},
};

INSTANTIATE_TEST_SUITE_P(Streams, ArchiveFormatTest, ::testing::ValuesIn(kStreams), kByName);

// bzip2 ends at any bit: many small sizes put its end mark at every
// alignment. Empty inputs make streams without any block.
TEST(StreamEndTest, SmallAndEmptyStreamsEndExactly) {
  for (const auto& [tool, finder] :
       {std::pair{"gzip", &Find_Gzip_End}, std::pair{"bzip2", &Find_Bzip2_End}, std::pair{"xz", &Find_Xz_End}}) {
    for (int n = 0; n < 12; ++n) {
      const Made made = Compress(tool, Garbage(n * 53, static_cast<unsigned>(n)));
      if (!made.skip.isEmpty()) GTEST_SKIP() << made.skip.toStdString();
      Expect(std::string(tool) + " of " + std::to_string(n * 53) + " bytes", finder, made.bytes, Garbage(4096),
             N(made.bytes));
    }
  }
}

// Fake footers in garbage: right CRC and flags, a 0x00 where the index would
// start, but no index whose own CRC holds. Padding not a multiple of 4 joins nothing.
TEST(StreamEndTest, XzFakeFootersAndOddPaddingAreNotTheEnd) {
  const Made made = Compress("xz", kData);
  if (!made.skip.isEmpty()) GTEST_SKIP() << made.skip.toStdString();
  // backward size (a 16-byte index) and the header's flags, behind their CRC
  const QByteArray body = QByteArray("\3\0\0\0", 4) + made.bytes.mid(6, 2);
  QByteArray footer, fakes = Garbage(65536, 5);
  samples::Put32(footer, samples::Crc32(body));
  footer += body + "YZ";
  for (int at = 16; at + 12 <= fakes.size(); at += 64) fakes.replace(at, 12, footer)[at - 16] = '\0';  // 4-aligned
  Expect("fake footers after", Find_Xz_End, made.bytes, fakes, N(made.bytes));
  Expect("cut, fake footers after", Find_Xz_End, made.bytes.left(made.bytes.size() / 8 * 4), fakes, 0);
  Expect("odd padding", Find_Xz_End, made.bytes + Zeros(6) + made.bytes, {}, N(made.bytes));
}

// The last %%EOF inside the range wins (incremental updates add more);
// with none there, the first one past it; then the line's end.
TEST(StreamEndTest, PdfLastEofInRangeElseFirstAfterIt) {
  const QByteArray pdf = Pdf(), bare = pdf.chopped(1);
  ASSERT_TRUE(pdf.startsWith("%PDF-") && pdf.endsWith("%%EOF\n"));
  const QByteArray updated = pdf + "5 0 obj\n<< /Title (Found) >>\nendobj\ntrailer\n<< /Prev 0 >>\n%%EOF\r\n";
  Expect("update appended", Find_Pdf_End, updated, Garbage(4096), N(updated));
  Expect("range ends inside the update", Find_Pdf_End, updated, Garbage(4096), N(pdf), 0, N(pdf) + 10,
         N(updated) + 4096);
  Expect("range ends before any %%EOF", Find_Pdf_End, updated, Garbage(4096), N(pdf), 0, N(pdf) / 2, N(updated) + 4096);
  Expect("limit cuts the first %%EOF", Find_Pdf_End, updated, Garbage(4096), 0, 0, N(pdf) / 2, N(pdf) - 3);
  Expect("CRLF", Find_Pdf_End, bare + "\r\n", "X", N(bare) + 2);
  Expect("CR", Find_Pdf_End, bare + "\r", "X", N(bare) + 1);
  Expect("no line end", Find_Pdf_End, bare, "X\n", N(bare));
  // Another file between its two halves: the startxref offset misses.
  Expect("fragmented", Find_Pdf_End, pdf.left(1024) + Garbage(8192) + pdf.mid(1024), {}, 0, 0, 1024, N(pdf) + 8192);
}

}  // namespace
}  // namespace tamberlin::recovery
