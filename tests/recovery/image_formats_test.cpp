// End finders for JPEG, PNG, GIF, BMP and TIFF: files from Qt's writers,
// sample_files and hand-built containers, whole and damaged.
#include <gtest/gtest.h>

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
};

const Sample& Named(std::string_view name) { return *std::ranges::find(kSamples, name, &Sample::name); }

class ImageEndTest : public ::testing::TestWithParam<Sample> {};

TEST_P(ImageEndTest, WholeFileEndsExactlyCutOneIsNotFound) {
  const Sample& s = GetParam();
  const Made made = s.make();
  if (!made.skip.isEmpty()) GTEST_SKIP() << made.skip.toStdString();
  Expect_Exact_End_Never_Past_A_Cut(s, made.bytes);
  // A zeroed last quarter breaks the structure the finder reads, except where the header alone gives the length.
  const bool tail_unread =
      s.finder == Find_Bmp_End || (s.finder == Find_Tiff_End && s.name != std::string_view("TiffQt"));
  const QByteArray zero_tail = made.bytes.left(made.bytes.size() * 3 / 4).leftJustified(made.bytes.size(), '\0');
  const EndFinding f = Item(zero_tail, Zeros(8192)).Run(s.finder);
  EXPECT_EQ(f.found() ? f.length : 0, tail_unread ? static_cast<std::uint64_t>(zero_tail.size()) : 0) << f.why;
}

INSTANTIATE_TEST_SUITE_P(Images, ImageEndTest, ::testing::ValuesIn(kSamples), kByName);

const Edit kEdits[] = {
    {"bmp size field zero", "Bmp24", ED(Set32(b, 2, 0)), kFound},
    {"bmp size field huge", "Bmp24", ED(Set32(b, 2, 0xFFFFFFF0)), kFound},
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
};

TEST(ImageEndTest, HandEditedHeaders) { Expect_Edits(kSamples, kEdits); }

TEST(ImageEndTest, ExifThumbnailEoiDoesNotEndTheJpeg) {
  const QByteArray file = Named("JpegExifThumbnail").make().bytes;
  const auto thumb_end = static_cast<std::uint64_t>(file.indexOf("\xFF\xD9") + 2);
  ASSERT_TRUE(thumb_end > 2 && thumb_end < static_cast<std::uint64_t>(file.size() / 2));
  EXPECT_FALSE(Item(file, Garbage(8192), thumb_end, thumb_end).Run(Find_Jpeg_End).found());
}

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

}  // namespace
}  // namespace tamberlin::recovery
