// End finders for the picture, sound and video formats added beside the
// original set: real files from ffmpeg (skipped when it is missing), files
// laid out by hand where no encoder exists, and damaged copies of both.
// Each finder must end a whole file exactly, never reach past a cut, and tell
// broken structure (not this format) from a sound start with no reachable end.
#include <gtest/gtest.h>

#include "gui_environment.h"
#include "recovery/format_samples.h"
#include "tools/sample_files/sample_files.h"

namespace tamberlin::recovery {
namespace {

using namespace samples;
using namespace testing;

#define SINE "-f lavfi -i sine=f=440:d=0.5:sample_rate=22050 "
#define BARS "-f lavfi -i testsrc=size=64x48:rate=25:d=0.4 "
#define STILL BARS "-frames:v 1 "

// ffmpeg's output for `args` (inputs and options), written to a file named `out`.
Made Ffmpeg(const char* args, const char* out) {
  return Run_Tool("ffmpeg", QProcess::splitCommand(QString("-v error -y -bitexact ") + args + " " + out), out);
}
QByteArray Le32s(std::initializer_list<std::uint32_t> values) {
  QByteArray b;
  for (const auto v : values) Put32(b, v);
  return b;
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
  QByteArray a = "MAC " + QByteArray("\x96\x0F\0\0", 4) + Le32s({52, 24, 4, 44, 3000, 0, 0}) + QByteArray(16, '\x11');
  Put16(a, 2000), Put16(a, 0), Put32(a, 73728), Put32(a, 700), Put32(a, 1), Put16(a, 16), Put16(a, 2), Put32(a, 44100);
  const QByteArray tag = Le32s({5, 0}) + QByteArray("Title\0Notes", 11) + "APETAGEX" + Le32s({2000, 51, 1, 0, 0, 0});
  return a + Garbage(4, 6) + Garbage(44, 7) + Garbage(3000, 5) + tag;
}

QByteArray Bink() { return "BIKi" + Le32s({36 + 2000, 10, 400, 10, 64, 48, 25, 1, 0, 1}) + Garbage(2000, 9); }

// A CIFF heap: 100 data bytes, then a table of two entries and its offset.
QByteArray Crw() {
  QByteArray c = QByteArray("II\x1A\0\0\0HEAPCCDR", 14) + Le32s({0x00010002, 0, 0}) + Garbage(100, 2);
  Put16(c, 2), Put16(c, 0x2005), Put32(c, 60), Put32(c, 0), Put16(c, 0x2007), Put32(c, 40), Put32(c, 60);
  return c + Le32s({100});
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
  QByteArray x = "FOVb" + Le32s({0x00020002}) + Garbage(32, 1) + Garbage(600, 2);
  return x + "SECd" + Le32s({0x00020000, 1, 40, 600}) + "IMAG" + Le32s({static_cast<std::uint32_t>(x.size())});
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
    {"PcxMono", Find_Pcx_End, FF(STILL "-c:v pcx -pix_fmt monob", "m.pcx")},
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

class MediaFile : public ::testing::TestWithParam<Sample> {};

TEST_P(MediaFile, EndsExactlyAndNeverPastACut) {
  const Made made = GetParam().make();
  if (!made.skip.isEmpty()) GTEST_SKIP() << made.skip.toStdString();
  Expect_Exact_End_Never_Past_A_Cut(GetParam(), made.bytes);
}

INSTANTIATE_TEST_SUITE_P(Files, MediaFile, ::testing::ValuesIn(kSamples), kByName);

qsizetype Flv_Tag_End(const QByteArray& b, qsizetype at) {
  const auto byte = [&](qsizetype i) { return static_cast<qsizetype>(static_cast<unsigned char>(b[at + i])); };
  return at + 11 + (byte(1) << 16 | byte(2) << 8 | byte(3)) + 4;
}

const Edit kEdits[] = {
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

TEST(MediaFileEdits, BrokenStructureIsNotThisFormatDamagedEndIsUnknown) { Expect_Edits(kSamples, kEdits); }

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

// A 1 GiB medium of random sectors, `first` at its start, that counts what is
// read: a finder that meets a signature in random bytes must say so after a
// few blocks, never walk or search on through the medium.
struct CountingRandomMedium final : SectorSource {
  static constexpr std::uint64_t kSectors = std::uint64_t{1} << 21;
  std::uint64_t seed = 0, reads = 0;
  QByteArray first;
  std::uint8_t sector_[kSectorSize] = {};
  const std::uint8_t* Read_Sector(std::uint64_t sector) override {
    if (sector >= kSectors) return nullptr;
    ++reads;
    std::uint64_t x = seed ^ (sector * 0x9E3779B97F4A7C15ull);
    for (std::size_t i = 0; i < kSectorSize; ++i) {
      if (i % 8 == 0) x ^= x << 13, x ^= x >> 7, x ^= x << 17;
      sector_[i] = static_cast<std::uint8_t>(x >> (8 * (i % 8)));
    }
    if (sector == 0) std::copy(first.begin(), first.end(), sector_);
    return sector_;
  }
};

TEST(MediaFinderCost, RandomBytesBehindASignatureAreRejectedWithinAFewBlocks) {
  constexpr std::uint64_t kMostSectors = 8 * 128;  // eight of the item's 64 KiB blocks
  using B = QByteArray;
  const std::pair<EndFinder, QByteArray> kStarts[] = {  // the signature, at the offset the catalogue gives it
      {Find_Jpeg_End, "\xFF\xD8\xFF"}, {Find_Png_End, "\x89PNG\r\n\x1A\n"}, {Find_Gif_End, "GIF89a"},
      {Find_Bmp_End, "BM"}, {Find_Tiff_End, B("II*\0", 4)}, {Find_Isobmff_End, B(4, '\x10') + "mdat"},
      {Find_Riff_End, "RIFF"}, {Find_Mp3_End, "ID3"}, {Find_Mp3_End, "\xFF\xFB"}, {Find_Ico_End, B("\0\0\x01\0", 4)},
      {Find_Ogg_End, "OggS"}, {Find_Ebml_End, "\x1A\x45\xDF\xA3"}, {Find_Psd_End, B("8BPS\0\x01\0\0\0\0\0\0", 12)},
      {Find_Crw_End, B("II\x1A\0\0\0HEAPCCDR", 14)}, {Find_Raf_End, "FUJIFILMCCD-RAW "}, {Find_Mrw_End, B("\0MRM", 4)},
      {Find_X3f_End, "FOVb"}, {Find_Jp2_End, B("\0\0\0\x0CjP  \r\n\x87\n", 12)}, {Find_J2k_End, "\xFF\x4F\xFF\x51"},
      {Find_Jxl_End, "\xFF\x0A"}, {Find_Exr_End, "\x76\x2F\x31\x01"}, {Find_Pcx_End, "\x0A\x05\x01"},
      {Find_Aiff_End, "FORM"}, {Find_Flac_End, "fLaC"}, {Find_Midi_End, B("MThd\0\0\0\x06", 8)},
      {Find_Amr_End, "#!AMR\n"}, {Find_Asf_End, B("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\0\xAA\0\x62\xCE\x6C", 16)},
      {Find_Au_End, ".snd"}, {Find_Aac_End, "\xFF\xF1"}, {Find_Wavpack_End, "wvpk"}, {Find_Ape_End, "MAC "},
      {Find_Flv_End, "FLV\x01"}, {Find_Swf_End, "FWS"}, {Find_Swf_End, "CWS"}, {Find_Mpeg_Ps_End, B("\0\0\x01\xBA", 4)},
      {Find_Mpeg_Video_End, B("\0\0\x01\xB3", 4)}, {Find_Mpeg_Ts_End, B("\x47\x40\0\x10", 4)},
      {Find_Realmedia_End, B(".RMF\0\0\0\x12", 8)}, {Find_Y4m_End, "YUV4MPEG2 "}, {Find_Ivf_End, "DKIF"},
      {Find_Mxf_End, B("\x06\x0E\x2B\x34\x02\x05\x01\x01\x0D\x01\x02\x01\x01\x02", 14)}, {Find_Bink_End, "BIK"},
  };
  for (const auto& [finder, start] : kStarts) {
    SCOPED_TRACE(start.toHex().toStdString());
    std::uint64_t most = 0;
    for (std::uint64_t v = 0; v < 200; ++v) {
      CountingRandomMedium medium;
      medium.seed = 0x5EED0000 + v, medium.first = start;
      ItemBytes bytes(medium, 0, 8 * kSectorSize, CountingRandomMedium::kSectors * kSectorSize);
      EXPECT_FALSE(finder(bytes).found());
      most = std::max(most, medium.reads);
    }
    EXPECT_LE(most, kMostSectors);
  }
}

}  // namespace
}  // namespace tamberlin::recovery
