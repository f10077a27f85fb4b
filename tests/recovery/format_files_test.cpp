// End finders on real files (Qt's writers, sample_files, ffmpeg, GStreamer, zip and tar; skipped when missing),
// on files laid out by hand where no encoder is at hand, and on damaged copies of both. Each finder must end a
// whole file exactly, never reach past a cut, and tell broken structure (not this format) from a start with no
// reachable end.
#include <gtest/gtest.h>

#include <QtEndian>

#include "gui_environment.h"
#include "recovery/format_samples.h"
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

// zip run through the shell beside (or fed) a text file of 300 lines.
Made Zip_Tool(const QString& args) {
  return Run_Tool("sh", {"-c", "zip -q " + args}, "t.zip", [](const QDir& dir) {
    QFile input(dir.filePath("input.txt"));
    if (input.open(QIODevice::WriteOnly)) input.write(QByteArray("Notes found on the card\n").repeated(300));
  });
}
Made Gst_Mov() { return Gst(VIDEO25 "jpegenc ! qtmux"); }
Made Gst_Avi() { return Gst(VIDEO25 "jpegenc ! avimux"); }
Made Zip64() { return Zip_Tool("-fz t.zip input.txt"); }

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

QByteArray Jxl_Box(const char* type, const QByteArray& payload) {
  QByteArray b;
  Put32_Be(b, static_cast<std::uint32_t>(8 + payload.size()));
  return b + type + payload;
}
QByteArray Jxl() {
  return QByteArray("\0\0\0\x0CJXL \r\n\x87\n", 12) + Jxl_Box("ftyp", QByteArray("jxl \0\0\0\0jxl ", 12)) +
         Jxl_Box("jxlc", "\xFF\x0A" + Garbage(900, 8)) + Jxl_Box("Exif", Zeros(4) + "II*");
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
    {"ZipDeflated", Find_Zip_End, [] { return Zip_Tool("t.zip input.txt"); }},
    {"ZipFromStdin", Find_Zip_End, [] { return Zip_Tool("t.zip - < input.txt"); }},
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

}  // namespace
}  // namespace tamberlin::recovery
