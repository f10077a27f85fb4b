// End finders for JPEG, PNG, GIF, BMP and TIFF: files from Qt's writers,
// sample_files and hand-built containers, whole and damaged.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImageWriter>
#include <algorithm>
#include <map>
#include <memory>
#include <string_view>

#include "gui_environment.h"
#include "recovery/item_fixture.h"
#include "sample_files.h"

namespace tamberlin::recovery {
namespace {

using samples::Put16;
using samples::Put16_Be;
using samples::Put32;
using samples::Put32_Be;
using testing::Garbage;
using testing::Item;
using testing::Zeros;

QImage Picture(int seed = 0) { return samples::Test_Picture(61, 47, seed); }  // odd width: BMP rows pad

QByteArray Write(const QImage& image, const char* format, bool progressive = false) {
  if (!QImageWriter::supportedImageFormats().contains(format)) return {};
  QByteArray out;
  QBuffer buf(&out);
  buf.open(QIODevice::WriteOnly);
  QImageWriter writer(&buf, format);
  writer.setProgressiveScanWrite(progressive);
  return writer.write(image) ? out : QByteArray();
}

// A TIFF laid out as an Exif block is: IFD0 (orientation) chained to IFD1,
// which points at a JPEG thumbnail stored after it.
QByteArray Tiff_With_Thumbnail(const QByteArray& thumb, bool big_endian) {
  const auto u16 = [&](QByteArray& o, std::uint32_t v) { big_endian ? Put16_Be(o, v) : Put16(o, v); };
  const auto u32 = [&](QByteArray& o, std::uint32_t v) { big_endian ? Put32_Be(o, v) : Put32(o, v); };
  QByteArray t = big_endian ? QByteArray("MM\0*", 4) : QByteArray("II*\0", 4);
  u32(t, 8);
  u16(t, 1);  // IFD0 at 8
  u16(t, 274), u16(t, 3), u32(t, 1), u16(t, 1), u16(t, 0);
  u32(t, 26);
  u16(t, 2);  // IFD1 at 26
  u16(t, 513), u16(t, 4), u32(t, 1), u32(t, 56);
  u16(t, 514), u16(t, 4), u32(t, 1), u32(t, static_cast<std::uint32_t>(thumb.size()));
  u32(t, 0);  // at 52
  return t + thumb;
}

QByteArray Jpeg_With_Exif_Thumbnail() {
  const QByteArray thumb = Write(Picture(1).scaled(16, 12), "jpeg");
  const QByteArray main = Write(Picture(), "jpeg");
  const QByteArray exif = QByteArray("Exif\0\0", 6) + Tiff_With_Thumbnail(thumb, false);
  QByteArray app1("\xFF\xE1", 2);
  Put16_Be(app1, static_cast<std::uint32_t>(exif.size() + 2));
  return main.left(2) + app1 + exif + main.mid(2);
}

QByteArray Animated_Gif() {
  const QByteArray one = samples::Make_Gif(40, 30);
  const qsizetype head_size = 13 + 384;
  const QByteArray head = one.left(head_size);
  const QByteArray image = one.mid(head_size, one.size() - head_size - 1);
  QByteArray gif = head + QByteArray("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19) +
                   QByteArray("\x21\xFE\x05hello\x00", 9);
  for (int frame = 0; frame < 3; ++frame) {
    gif += QByteArray("\x21\xF9\x04\x04\x0A\x00\x00\x00", 8);
    QByteArray f = image;
    if (frame == 1) {  // its own colour table
      f[9] = static_cast<char>(0x86);
      f.insert(10, head.mid(13, 384));
    }
    gif += f;
  }
  return gif + ';';
}

struct Sample {
  const char* name;
  EndFinder finder;
  QByteArray (*make)();
  bool zero_tail_seen;  // a zeroed last quarter breaks the structure the finder reads
};

const Sample kSamples[] = {
    {"JpegBaseline", Find_Jpeg_End, [] { return Write(Picture(), "jpeg"); }, true},
    {"JpegProgressive", Find_Jpeg_End,
     [] {
       const QByteArray j = Write(Picture(), "jpeg", true);
       return j.contains("\xFF\xC2") ? j : QByteArray();
     },
     true},
    {"JpegExifThumbnail", Find_Jpeg_End, Jpeg_With_Exif_Thumbnail, true},
    {"Png", Find_Png_End, [] { return Write(Picture(), "png"); }, true},
    {"Gif", Find_Gif_End, [] { return samples::Make_Gif(61, 47); }, true},
    {"GifAnimated", Find_Gif_End, Animated_Gif, true},
    {"Bmp24", Find_Bmp_End, [] { return Write(Picture(), "bmp"); }, false},
    {"Bmp8", Find_Bmp_End, [] { return Write(Picture().convertToFormat(QImage::Format_Indexed8), "bmp"); }, false},
    {"Bmp1", Find_Bmp_End,
     [] { return Write(Picture().scaled(301, 97).convertToFormat(QImage::Format_Mono), "bmp"); }, false},
    {"TiffQt", Find_Tiff_End, [] { return Write(Picture(), "tiff"); }, true},
    {"TiffLittleEndian", Find_Tiff_End, [] { return Tiff_With_Thumbnail(Write(Picture(), "jpeg"), false); }, false},
    {"TiffBigEndian", Find_Tiff_End, [] { return Tiff_With_Thumbnail(Write(Picture(), "jpeg"), true); }, false},
};

// Made once per run; test parameters are copies, so keyed by name.
const QByteArray& Made(const Sample& s) {
  static std::map<std::string_view, QByteArray> made;
  QByteArray& m = made[s.name];
  if (m.isEmpty()) m = s.make();
  return m;
}
const Sample& Named(std::string_view name) {
  return *std::find_if(std::begin(kSamples), std::end(kSamples), [&](const Sample& s) { return s.name == name; });
}

class ImageEndTest : public ::testing::TestWithParam<Sample> {};

TEST_P(ImageEndTest, WholeFileEndsExactlyDamagedOneIsUnknown) {
  const Sample& s = GetParam();
  const QByteArray& file = Made(s);
  if (file.isEmpty()) GTEST_SKIP() << "this Qt cannot write " << s.name;
  const auto size = static_cast<std::uint64_t>(file.size());
  QByteArray zero_tail = file;
  const qsizetype tail = file.size() - file.size() * 3 / 4;
  zero_tail.replace(file.size() - tail, tail, Zeros(static_cast<int>(tail)));
  struct Case {
    const char* name;
    Item item;
    bool found;
  } cases[] = {
      {"garbage after", Item(file, Garbage(8192)), true},
      {"zeros after, range short, limit past the end", Item(file, Zeros(8192), 512, size * 4), true},
      {"cut one byte short", Item(file, Garbage(8192), size - 1, size - 1), false},
      {"medium ends halfway", Item(file.left(file.size() / 2 / kSectorSize * kSectorSize), {}, 0, size * 2), false},
      {"zero-filled tail", Item(zero_tail, Zeros(8192)), !s.zero_tail_seen},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    const EndFinding f = c.item.Run(s.finder);
    EXPECT_EQ(f.found(), c.found) << f.why;
    if (c.found) {
      EXPECT_EQ(f.length, size);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Images, ImageEndTest, ::testing::ValuesIn(kSamples),
                         [](const auto& p) { return std::string(p.param.name); });

void Set32(QByteArray& b, int at, std::uint32_t v, bool big_endian = false) {
  QByteArray raw;
  big_endian ? Put32_Be(raw, v) : Put32(raw, v);
  b.replace(at, 4, raw);
}

// Hand edits to one sample: the whole file, or the outcome the edit must give
// (a broken start is not this format; damage after a sound start is Unknown).
struct Edit {
  const char* name;
  const char* sample;
  void (*edit)(QByteArray&);
  EndOutcome expect;
};
constexpr auto kWhole = EndOutcome::Found, kUnknown = EndOutcome::Unknown, kNotIt = EndOutcome::NotThisFormat;

const Edit kEdits[] = {
    {"bmp size field zero", "Bmp24", [](QByteArray& b) { Set32(b, 2, 0); }, kWhole},
    {"bmp size field short", "Bmp24", [](QByteArray& b) { Set32(b, 2, 100); }, kWhole},
    {"bmp size field huge", "Bmp24", [](QByteArray& b) { Set32(b, 2, 0xFFFFFFF0); }, kWhole},
    {"bmp size field past the pixels", "Bmp8", [](QByteArray& b) { Set32(b, 2, std::uint32_t(b.size() + 5000)); },
     kWhole},
    {"bmp RLE8 with its size", "Bmp8", [](QByteArray& b) { Set32(b, 30, 1); }, kWhole},
    {"bmp RLE8 with a zero size", "Bmp8", [](QByteArray& b) { Set32(b, 2, 0), Set32(b, 30, 1); }, kNotIt},
    {"bmp unknown header size", "Bmp24", [](QByteArray& b) { Set32(b, 14, 41); }, kNotIt},
    {"png IEND crc wrong", "Png", [](QByteArray& b) { b[b.size() - 1] = 0; }, kUnknown},
    {"png IHDR crc wrong", "Png", [](QByteArray& b) { b[29] = static_cast<char>(b[29] ^ 1); }, kNotIt},
    {"png chunk length over 2^31", "Png", [](QByteArray& b) { Set32(b, 33, 0x80000000, true); }, kUnknown},
    {"jpeg reserved marker", "JpegBaseline", [](QByteArray& b) { b[3] = 0x50; }, kNotIt},
    {"jpeg quantisation table of the wrong length, no JFIF before it", "JpegBaseline",
     [](QByteArray& b) {
       b[6 + 3] = 'X';  // an APP0 id no reader knows
       b[b.indexOf("\xFF\xDB") + 3] = 0;
     },
     kNotIt},
    {"jpeg cut after its frame header", "JpegBaseline", [](QByteArray& b) { b.truncate(b.indexOf("\xFF\xDA")); },
     kUnknown},
    {"gif unknown block", "Gif", [](QByteArray& b) { b[13 + 384] = '!' + 1; }, kNotIt},
    {"gif screen without width", "Gif", [](QByteArray& b) { b[6] = b[7] = 0; }, kNotIt},
    {"gif last frame's control block broken", "GifAnimated",
     [](QByteArray& b) { b[b.lastIndexOf("\x21\xF9\x04") + 2] = 5; }, kUnknown},
    {"tiff IFD chain loops to IFD0", "TiffLittleEndian", [](QByteArray& b) { Set32(b, 52, 8); }, kWhole},
    {"tiff IFD points at itself", "TiffBigEndian", [](QByteArray& b) { Set32(b, 52, 26, true); }, kWhole},
    {"tiff next IFD past the limit", "TiffLittleEndian", [](QByteArray& b) { Set32(b, 52, 0x10000000); }, kUnknown},
    {"tiff thumbnail past the limit", "TiffBigEndian", [](QByteArray& b) { Set32(b, 36, 0x7FFFFFF0, true); }, kUnknown},
    {"tiff empty IFD", "TiffLittleEndian", [](QByteArray& b) { b[26] = 0; }, kUnknown},
    {"tiff first IFD value type unknown", "TiffLittleEndian", [](QByteArray& b) { b[12] = 99; }, kNotIt},
};

TEST(ImageEndTest, HandEditedHeaders) {
  for (const Edit& e : kEdits) {
    SCOPED_TRACE(e.name);
    const Sample& sample = Named(e.sample);
    QByteArray file = Made(sample);
    ASSERT_FALSE(file.isEmpty());
    e.edit(file);
    Item item(file, Garbage(8192));
    const EndFinding f = item.Run(sample.finder);
    EXPECT_EQ(f.outcome, e.expect) << f.why;
    if (e.expect == kWhole) {
      EXPECT_EQ(f.length, static_cast<std::uint64_t>(file.size()));
    }
  }
}

TEST(ImageEndTest, ExifThumbnailEoiDoesNotEndTheJpeg) {
  const QByteArray file = Made(Named("JpegExifThumbnail"));
  const qsizetype thumb_end = file.indexOf("\xFF\xD9") + 2;
  ASSERT_GT(thumb_end, 2);
  ASSERT_LT(thumb_end, file.size() / 2);
  Item cut(file, Garbage(8192), static_cast<std::uint64_t>(thumb_end), static_cast<std::uint64_t>(thumb_end));
  EXPECT_FALSE(cut.Run(Find_Jpeg_End).found());
}

// The MPF index lists a second image stored after the first one's EOI.
QByteArray Mpf_Jpeg(const QByteArray& first, const QByteArray& second) {
  QByteArray mp("II*\0", 4);
  Put32(mp, 8);
  Put16(mp, 2);
  Put16(mp, 0xB000), Put16(mp, 7), Put32(mp, 4), mp += "0100";
  Put16(mp, 0xB002), Put16(mp, 7), Put32(mp, 32), Put32(mp, 8 + 2 + 24 + 4);
  Put32(mp, 0);
  const auto segment = static_cast<std::uint32_t>(2 + 4 + mp.size() + 32);
  const auto primary = static_cast<std::uint32_t>(first.size() + 2 + segment);
  Put32(mp, 0x20030000), Put32(mp, primary), Put32(mp, 0), Put32(mp, 0);
  Put32(mp, 0), Put32(mp, static_cast<std::uint32_t>(second.size())), Put32(mp, primary - 10), Put32(mp, 0);
  QByteArray app2("\xFF\xE2", 2);
  Put16_Be(app2, segment);
  return first.left(2) + app2 + QByteArray("MPF\0", 4) + mp + first.mid(2) + second;
}

TEST(ImageEndTest, MpfImagesExtendTheJpegWhenAllThere) {
  const QByteArray second = Write(Picture(2).scaled(30, 20), "jpeg");
  const QByteArray file = Mpf_Jpeg(Made(Named("JpegBaseline")), second);
  const auto size = static_cast<std::uint64_t>(file.size());
  const auto primary = size - static_cast<std::uint64_t>(second.size());
  Item whole(file, Garbage(8192));
  EXPECT_EQ(whole.Run(Find_Jpeg_End).length, size);
  Item cut(file, Garbage(8192), size - 1, size - 1);  // the first image is still whole
  EXPECT_EQ(cut.Run(Find_Jpeg_End).length, primary);
  QByteArray no_soi = file;
  no_soi[static_cast<qsizetype>(primary) + 1] = 0;
  Item bad(no_soi, Garbage(8192));
  EXPECT_EQ(bad.Run(Find_Jpeg_End).length, primary);
}

}  // namespace
}  // namespace tamberlin::recovery
