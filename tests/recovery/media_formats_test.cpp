// End finders for the picture, sound and video formats added beside the
// original set: real files from ffmpeg (skipped when it is missing), files
// laid out by hand where no encoder exists, and damaged copies of both.
// Each finder must end a whole file exactly, never reach past a cut, and tell
// broken structure (not this format) from a sound start with no reachable end.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <functional>
#include <map>
#include <string>

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

struct Made {
  QByteArray bytes;
  QString skip;
};

#define SINE "-f lavfi -i sine=f=440:d=0.5:sample_rate=22050 "
#define BARS "-f lavfi -i testsrc=size=64x48:rate=25:d=0.4 "

// ffmpeg's output for `args` (inputs and options), written to a file named `out`.
Made Ffmpeg(const char* args, const char* out) {
  static std::map<std::string, Made> made;
  const std::string key = std::string(args) + out;
  if (const auto it = made.find(key); it != made.end()) return it->second;
  Made m;
  const QString exe = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
  QTemporaryDir dir;
  QProcess p;
  if (exe.isEmpty()) {
    m.skip = QStringLiteral("ffmpeg is not installed");
  } else {
    p.setWorkingDirectory(dir.path());
    p.start(exe, QStringList{"-v", "error", "-y", "-bitexact"} + QProcess::splitCommand(QString::fromLatin1(args)) +
                     QStringList{QString::fromLatin1(out)});
    QFile file(dir.filePath(QString::fromLatin1(out)));
    if (!p.waitForFinished(120000) || p.exitCode() != 0 || !file.open(QIODevice::ReadOnly)) {
      m.skip =
          "ffmpeg cannot write " + QString::fromLatin1(out) + ": " + QString::fromLocal8Bit(p.readAllStandardError());
    } else {
      m.bytes = file.readAll();
    }
  }
  return made[key] = m;
}

// ---- laid out by hand, where no encoder is at hand ----------------------------

QByteArray Midi() {
  QByteArray m("MThd\0\0\0\x06\0\x01\0\x02\0\x60", 14);
  const QByteArray events("\0\x90\x3C\x40\x60\x80\x3C\x40\0\xFF\x2F\0", 12);
  for (int t = 0; t < 2; ++t) m += "MTrk" + QByteArray("\0\0\0\x0C", 4) + events;
  return m;
}

QByteArray Amr(int frames) {
  QByteArray a("#!AMR\n");
  for (int i = 0; i < frames; ++i) a += '\x3C' + Garbage(31, static_cast<unsigned>(i));  // 12.2 kb/s, good
  return a;
}

// Monkey's Audio with a descriptor, and an APEv2 tag (footer only) after the frames.
QByteArray Ape() {
  const QByteArray frames = Garbage(3000, 5), seek = Garbage(4, 6), wav = Garbage(44, 7);
  QByteArray a("MAC ");
  Put16(a, 3990), Put16(a, 0);
  for (const auto v : {52, 24, 4, 44, 3000, 0, 0}) Put32(a, static_cast<std::uint32_t>(v));
  a += QByteArray(16, '\x11');  // MD5
  Put16(a, 2000), Put16(a, 0), Put32(a, 73728), Put32(a, 700), Put32(a, 1), Put16(a, 16), Put16(a, 2);
  Put32(a, 44100);
  QByteArray tag;
  Put32(tag, 5), Put32(tag, 0);
  tag += QByteArray("Title\0Notes", 11);
  QByteArray footer("APETAGEX");
  for (const std::uint32_t v : {2000u, static_cast<std::uint32_t>(tag.size() + 32), 1u, 0u, 0u, 0u}) Put32(footer, v);
  return a + seek + wav + frames + tag + footer;
}

QByteArray Bink() {
  QByteArray b("BIKi");
  const QByteArray body = Garbage(2000, 9);
  for (const auto v : {36 + 2000, 10, 400, 10, 64, 48, 25, 1, 0, 1}) Put32(b, static_cast<std::uint32_t>(v));
  return b + body;
}

// A CIFF heap: 100 data bytes, then a table of two entries and its offset.
QByteArray Crw() {
  QByteArray c("II\x1A\0\0\0HEAPCCDR", 14);
  Put32(c, 0x00010002), Put32(c, 0), Put32(c, 0);
  c += Garbage(100, 2);
  Put16(c, 2);
  Put16(c, 0x2005), Put32(c, 60), Put32(c, 0);
  Put16(c, 0x2007), Put32(c, 40), Put32(c, 60);
  Put32(c, 100);
  return c;
}

QByteArray Raf() {
  const QByteArray jpeg = samples::Encode(samples::Test_Picture(40, 30), "jpeg");
  QByteArray r("FUJIFILMCCD-RAW 0201FF383501");
  r += QByteArray("X-T1").leftJustified(32, '\0') + "0100" + QByteArray(20, '\0');
  const auto j = static_cast<std::uint32_t>(jpeg.size());
  for (const std::uint32_t v : {108u, j, 108u + j, 64u, 108u + j + 64u, 1000u}) Put32_Be(r, v);
  return r + jpeg + Garbage(64, 3) + Garbage(1000, 4);
}

QByteArray Mrw() {
  QByteArray prd("\0PRD\0\0\0\x18", 8);
  prd += "21810002";
  Put16_Be(prd, 8), Put16_Be(prd, 16), Put16_Be(prd, 8), Put16_Be(prd, 16);
  prd += QByteArray("\x0C\x0C\x59\0\0\0\0\0", 8);
  const QByteArray wbg = QByteArray("\0WBG\0\0\0\x08", 8) + Garbage(8, 1);
  QByteArray m("\0MRM", 4);
  Put32_Be(m, static_cast<std::uint32_t>(prd.size() + wbg.size()));
  return m + prd + wbg + Garbage(8 * 16 * 12 / 8, 2);
}

QByteArray X3f() {
  QByteArray x("FOVb");
  Put32(x, 0x00020002);
  x += Garbage(32, 1) + Garbage(600, 2);
  const auto dir = static_cast<std::uint32_t>(x.size());
  x += "SECd";
  Put32(x, 0x00020000), Put32(x, 1);
  Put32(x, 40), Put32(x, 600), x += "IMAG";
  Put32(x, dir);
  return x;
}

QByteArray Jxl_Box(const char* type, const QByteArray& payload) {
  QByteArray b;
  Put32_Be(b, static_cast<std::uint32_t>(8 + payload.size()));
  return b + type + payload;
}
QByteArray Jxl() {
  return QByteArray("\0\0\0\x0CJXL \r\n\x87\n", 12) + Jxl_Box("ftyp", QByteArray("jxl \0\0\0\0jxl ", 12)) +
         Jxl_Box("jxlc", "\xFF\x0A" + Garbage(900, 8)) + Jxl_Box("Exif", QByteArray(4, '\0') + "II*");
}

// Photoshop, 3 channels of 4 x 5 pixels: raw, or PackBits rows (one literal run of 5).
QByteArray Psd(int version, bool rle) {
  QByteArray p("8BPS");
  Put16_Be(p, static_cast<std::uint32_t>(version)), p += QByteArray(6, '\0');
  Put16_Be(p, 3), Put32_Be(p, 4), Put32_Be(p, 5), Put16_Be(p, 8), Put16_Be(p, 3);
  Put32_Be(p, 0);
  const QByteArray resource = QByteArray("8BIM\x04\x04\0\0", 8) + QByteArray("\0\0\0\x04", 4) + "abcd";
  Put32_Be(p, static_cast<std::uint32_t>(resource.size())), p += resource;
  if (version == 2) Put32_Be(p, 0);
  Put32_Be(p, 0);
  Put16_Be(p, rle ? 1 : 0);
  if (!rle) return p + Garbage(3 * 4 * 5, 2);
  for (int row = 0; row < 12; ++row) version == 2 ? Put32_Be(p, 6) : Put16_Be(p, 6);
  for (int row = 0; row < 12; ++row) p += '\x04' + Garbage(5, static_cast<unsigned>(row));
  return p;
}

// ---- the tables -------------------------------------------------------------------

struct Sample {
  const char* name;
  EndFinder finder;
  std::function<Made()> make;
  bool may_end_early = false;  // no stated length, or a trailing tag: a cut may end the file at an earlier frame
};
void PrintTo(const Sample& s, std::ostream* os) { *os << s.name; }
Made Hand(QByteArray b) { return {std::move(b), {}}; }

const Sample kSamples[] = {
    {"Flac", Find_Flac_End, [] { return Ffmpeg(SINE, "a.flac"); }},
    {"FlacStereoSide", Find_Flac_End, [] { return Ffmpeg(SINE "-ac 2 -af aeval=val(0)|val(0)*0.5", "s.flac"); }},
    {"FlacLpcOrder32", Find_Flac_End, [] { return Ffmpeg(SINE "-compression_level 12", "h.flac"); }},
    {"Flac24BitStereo", Find_Flac_End,
     [] { return Ffmpeg(SINE "-sample_fmt s32 -bits_per_raw_sample 24 -ac 2 -af aeval=val(0)|-val(0)", "h24.flac"); }},
    {"WavPack", Find_Wavpack_End, [] { return Ffmpeg(SINE, "a.wv"); }, true},
    {"Aiff", Find_Aiff_End, [] { return Ffmpeg(SINE, "a.aiff"); }},
    {"AifcAlaw", Find_Aiff_End, [] { return Ffmpeg(SINE "-c:a pcm_alaw", "c.aiff"); }},
    {"Au", Find_Au_End, [] { return Ffmpeg(SINE, "a.au"); }},
    {"AacAdts", Find_Aac_End, [] { return Ffmpeg(SINE "-c:a aac -f adts", "a.aac"); }, true},
    {"Wma", Find_Asf_End, [] { return Ffmpeg(SINE "-c:a wmav2", "a.wma"); }},
    {"Wmv", Find_Asf_End, [] { return Ffmpeg(BARS "-c:v wmv2", "v.wmv"); }},
    {"Flv", Find_Flv_End, [] { return Ffmpeg(BARS "-c:v flv1", "v.flv"); }, true},
    {"SwfPlain", Find_Swf_End, [] { return Ffmpeg(BARS "-c:v flv1", "v.swf"); }},
    {"WmvWithAudio", Find_Asf_End, [] { return Ffmpeg(BARS SINE "-c:v wmv1 -c:a wmav1 -f asf", "v.asf"); }},
    {"FlvWithAudio", Find_Flv_End, [] { return Ffmpeg(BARS SINE "-c:v flv1 -c:a aac", "av.flv"); }, true},
    {"VobWithAudio", Find_Mpeg_Ps_End,
     [] { return Ffmpeg(BARS SINE "-c:v mpeg2video -c:a mp2 -f vob -shortest", "av.vob"); }},
    {"TransportStreamWithAudio", Find_Mpeg_Ts_End,
     [] { return Ffmpeg(BARS SINE "-c:a mp2 -f mpegts -shortest", "av.ts"); }, true},
    {"Mpeg1Program", Find_Mpeg_Ps_End, [] { return Ffmpeg(BARS "-f mpeg", "v.mpg"); }},
    {"Vob", Find_Mpeg_Ps_End, [] { return Ffmpeg(BARS "-c:v mpeg2video -f vob", "v.vob"); }},
    {"Mpeg2Video", Find_Mpeg_Video_End,
     [] {  // as writers that close the sequence leave it
       Made m = Ffmpeg(BARS "-f mpeg2video", "v.m2v");
       if (m.skip.isEmpty()) m.bytes += QByteArray("\0\0\x01\xB7", 4);
       return m;
     }},
    {"TransportStream", Find_Mpeg_Ts_End, [] { return Ffmpeg(BARS "-f mpegts", "v.ts"); }, true},
    {"RealMedia", Find_Realmedia_End, [] { return Ffmpeg(BARS "-c:v rv10 -an", "v.rm"); }, true},
    {"Mxf", Find_Mxf_End, [] { return Ffmpeg(BARS "-c:v mpeg2video -f mxf", "v.mxf"); }},
    {"Y4m", Find_Y4m_End, [] { return Ffmpeg(BARS "-pix_fmt yuv420p", "v.y4m"); }, true},
    {"Ivf", Find_Ivf_End, [] { return Ffmpeg(BARS "-c:v libvpx", "v.ivf"); }},
    {"Pcx", Find_Pcx_End, [] { return Ffmpeg(BARS "-frames:v 1 -c:v pcx", "i.pcx"); }},
    {"PcxPalette", Find_Pcx_End, [] { return Ffmpeg(BARS "-frames:v 1 -c:v pcx -pix_fmt pal8", "p8.pcx"); }},
    {"PcxMono", Find_Pcx_End, [] { return Ffmpeg(BARS "-frames:v 1 -c:v pcx -pix_fmt monob", "m.pcx"); }},
    {"ExrZip16Lines", Find_Exr_End,
     [] { return Ffmpeg(BARS "-frames:v 1 -c:v exr -compression zip16 -pix_fmt gbrpf32le", "z.exr"); }},
    {"ExrRle", Find_Exr_End,
     [] { return Ffmpeg(BARS "-frames:v 1 -c:v exr -compression rle -pix_fmt gbrpf32le", "r.exr"); }},
    {"Y4m10BitIsNotTaken8Bit", Find_Y4m_End, [] { return Ffmpeg(BARS "-strict -1 -pix_fmt yuv420p10le", "t.y4m"); }, true},
    {"Y4m444", Find_Y4m_End, [] { return Ffmpeg(BARS "-pix_fmt yuv444p", "g.y4m"); }, true},
    {"IvfVp9", Find_Ivf_End, [] { return Ffmpeg(BARS "-c:v libvpx-vp9", "v9.ivf"); }},
    {"Exr", Find_Exr_End, [] { return Ffmpeg(BARS "-frames:v 1 -c:v exr -pix_fmt gbrpf32le", "i.exr"); }},
    {"Jp2", Find_Jp2_End, [] { return Ffmpeg(BARS "-frames:v 1 -c:v jpeg2000", "i.jp2"); }},
    {"J2k", Find_J2k_End, [] { return Ffmpeg(BARS "-frames:v 1 -c:v jpeg2000 -format j2k", "i.j2k"); }},
    {"Midi", Find_Midi_End, [] { return Hand(Midi()); }},
    {"Amr", Find_Amr_End, [] { return Hand(Amr(20)); }, true},
    {"ApeWithTag", Find_Ape_End, [] { return Hand(Ape()); }, true},
    {"Bink", Find_Bink_End, [] { return Hand(Bink()); }},
    {"Crw", Find_Crw_End, [] { return Hand(Crw()); }},
    {"Raf", Find_Raf_End, [] { return Hand(Raf()); }},
    {"Mrw", Find_Mrw_End, [] { return Hand(Mrw()); }},
    {"X3f", Find_X3f_End, [] { return Hand(X3f()); }},
    {"JxlContainer", Find_Jxl_End, [] { return Hand(Jxl()); }},
    {"PsdRaw", Find_Psd_End, [] { return Hand(Psd(1, false)); }},
    {"PsdRle", Find_Psd_End, [] { return Hand(Psd(1, true)); }},
    {"PsbRle", Find_Psd_End, [] { return Hand(Psd(2, true)); }},
};

class MediaFile : public ::testing::TestWithParam<Sample> {};

TEST_P(MediaFile, EndsExactlyNeverPastACutAndRandomBytesAreNotIt) {
  const Sample& s = GetParam();
  const Made made = s.make();
  if (!made.skip.isEmpty()) GTEST_SKIP() << made.skip.toStdString();
  const QByteArray& file = made.bytes;
  const auto size = static_cast<std::uint64_t>(file.size());
  struct Case {
    const char* what;
    Item item;
    std::uint64_t cut;  // 0: the whole file is there
  } cases[] = {
      {"garbage after", Item(file, Garbage(9000)), 0},
      {"zeros after, range one sector, limit past the end", Item(file, Zeros(9000), 512, size * 4), 0},
      {"cut one byte short", Item(file, Garbage(9000), size - 1, size - 1), size - 1},
      {"cut in half", Item(file, Garbage(9000), size / 2, size / 2), size / 2},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    const EndFinding f = c.item.Run(s.finder);
    if (c.cut == 0) {
      EXPECT_TRUE(f.found()) << f.why;
      EXPECT_EQ(f.length, size);
    } else if (s.may_end_early) {
      EXPECT_LE(f.found() ? f.length : 0, c.cut);
    } else {
      EXPECT_FALSE(f.found()) << "length " << f.length;
    }
  }
  // The same number of random bytes is not this format.
  Item noise(Garbage(static_cast<int>(file.size()), 99));
  EXPECT_TRUE(noise.Run(s.finder).not_this_format());
}

INSTANTIATE_TEST_SUITE_P(Files, MediaFile, ::testing::ValuesIn(kSamples),
                         [](const auto& p) { return std::string(p.param.name); });

void Set32(QByteArray& b, qsizetype at, std::uint32_t v, bool big_endian) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (big_endian ? 24 - 8 * i : 8 * i));
}

qsizetype Flv_Tag_End(const QByteArray& b, qsizetype at) {
  const auto byte = [&](qsizetype i) { return static_cast<qsizetype>(static_cast<unsigned char>(b[at + i])); };
  return at + 11 + (byte(1) << 16 | byte(2) << 8 | byte(3)) + 4;
}

// Edits to one sample and the outcome they must give: Found means the whole
// edited file, unless `length` says otherwise.
struct Edit {
  const char* name;
  const char* sample;
  std::function<void(QByteArray&)> edit;
  EndOutcome expect;
  std::function<std::uint64_t(const QByteArray&)> length = nullptr;
};

const Edit kEdits[] = {
    {"flac total samples unknown", "Flac",
     [](QByteArray& b) { b[8 + 13] = static_cast<char>(b[8 + 13] & 0xF0), Set32(b, 8 + 14, 0, true); },
     EndOutcome::Unknown},
    {"flac last frame CRC broken", "Flac",
     [](QByteArray& b) { b[b.size() - 1] = static_cast<char>(b[b.size() - 1] ^ 1); }, EndOutcome::Unknown},
    {"flac STREAMINFO length wrong", "Flac", [](QByteArray& b) { b[7] = 33; }, EndOutcome::NotThisFormat},
    {"flac bits per sample below 4", "Flac",
     [](QByteArray& b) { b[8 + 12] = static_cast<char>(b[8 + 12] & 0xFE), b[8 + 13] &= 0x0F; },
     EndOutcome::NotThisFormat},
    {"wavpack version unknown", "WavPack", [](QByteArray& b) { b[8] = 0x7F; }, EndOutcome::NotThisFormat},
    {"aiff without COMM", "Aiff", [](QByteArray& b) { b.replace(b.indexOf("COMM"), 4, "COMX"); },
     EndOutcome::NotThisFormat},
    {"au size unknown", "Au", [](QByteArray& b) { Set32(b, 8, 0xFFFFFFFF, true); }, EndOutcome::Unknown},
    {"au encoding zero", "Au", [](QByteArray& b) { Set32(b, 12, 0, true); }, EndOutcome::NotThisFormat},
    {"asf header objects overrun", "Wma", [](QByteArray& b) { Set32(b, 24, 200, false); }, EndOutcome::NotThisFormat},
    {"asf stated size smaller than the objects", "Wmv",
     [](QByteArray& b) { Set32(b, b.indexOf(QByteArray("\xA1\xDC\xAB\x8C", 4)) + 40, 100, false); },
     EndOutcome::Unknown},
    {"flv second tag's trailing size wrong", "Flv",
     [](QByteArray& b) { Set32(b, Flv_Tag_End(b, Flv_Tag_End(b, 13)) - 4, 7, true); }, EndOutcome::Found,
     [](const QByteArray& b) { return static_cast<std::uint64_t>(Flv_Tag_End(b, 13)); }},
    {"swf length one more", "SwfPlain", [](QByteArray& b) { b[4] = static_cast<char>(b[4] + 1); },
     EndOutcome::NotThisFormat},
    {"mpeg program end code ends the stream", "Mpeg1Program", [](QByteArray& b) { b += QByteArray("\0\0\x01\xB9", 4); },
     EndOutcome::Found},
    {"mpeg pack marker bits wrong", "Vob", [](QByteArray& b) { b[4] = 0; }, EndOutcome::NotThisFormat},
    {"m2v sequence end missing", "Mpeg2Video", [](QByteArray& b) { b.chop(4); }, EndOutcome::Unknown},
    {"ts first table CRC wrong", "TransportStream", [](QByteArray& b) { b[20] = static_cast<char>(b[20] ^ 0x40); },
     EndOutcome::NotThisFormat},
    {"rm without PROP after the header", "RealMedia", [](QByteArray& b) { b[18] = 'X'; }, EndOutcome::NotThisFormat},
    {"mxf names no footer", "Mxf", [](QByteArray& b) { Set32(b, 20 + 24 + 4, 0, true); }, EndOutcome::Unknown},
    {"y4m unknown colour space", "Y4m", [](QByteArray& b) { b.replace(b.indexOf(" C420") + 2, 3, "999"); },
     EndOutcome::NotThisFormat},
    {"ivf states more frames", "Ivf", [](QByteArray& b) { Set32(b, 24, 1000, false); }, EndOutcome::Unknown},
    {"pcx odd bytes per line", "Pcx", [](QByteArray& b) { b[66] = static_cast<char>(b[66] | 1); },
     EndOutcome::NotThisFormat},
    {"exr version flag unknown", "Exr", [](QByteArray& b) { b[7] = 1; }, EndOutcome::NotThisFormat},
    {"j2k tile-part longer than the file", "J2k",
     [](QByteArray& b) { Set32(b, b.indexOf("\xFF\x90") + 6, 0x7FFFFFF, true); }, EndOutcome::Unknown},
    {"jp2 brand unknown", "Jp2", [](QByteArray& b) { b[20] = 'x'; }, EndOutcome::NotThisFormat},
    {"midi track count too high", "Midi", [](QByteArray& b) { b[11] = 3; }, EndOutcome::Unknown},
    {"midi format 3", "Midi", [](QByteArray& b) { b[9] = 3; }, EndOutcome::NotThisFormat},
    {"ape compression level odd", "ApeWithTag", [](QByteArray& b) { b[52] = 1; }, EndOutcome::NotThisFormat},
    {"bink without width", "Bink", [](QByteArray& b) { Set32(b, 20, 0, false); }, EndOutcome::NotThisFormat},
    {"crw table offset broken", "Crw", [](QByteArray& b) { Set32(b, b.size() - 4, 7, false); }, EndOutcome::Unknown},
    {"raf preview is no JPEG", "Raf", [](QByteArray& b) { b[108] = 0; }, EndOutcome::NotThisFormat},
    {"mrw storage method unknown", "Mrw", [](QByteArray& b) { b[16 + 18] = 0x33; }, EndOutcome::NotThisFormat},
    {"x3f directory offset wrong", "X3f", [](QByteArray& b) { Set32(b, b.size() - 4, 8, false); }, EndOutcome::Unknown},
    {"jxl bare codestream", "JxlContainer", [](QByteArray& b) { b = b.mid(b.indexOf("\xFF\x0A")); },
     EndOutcome::NotThisFormat},
    {"psd channels zero", "PsdRaw", [](QByteArray& b) { b[13] = 0; }, EndOutcome::NotThisFormat},
    {"psd zip-compressed data", "PsdRaw", [](QByteArray& b) { b[b.size() - 61] = 2; }, EndOutcome::Unknown},
    {"psd RLE row count too large", "PsdRle", [](QByteArray& b) { b[b.size() - 72 - 1] = 99; }, EndOutcome::Unknown},
};

TEST(MediaFileEdits, BrokenStructureIsNotThisFormatDamagedEndIsUnknown) {
  for (const Edit& e : kEdits) {
    SCOPED_TRACE(e.name);
    const Sample& s = *std::find_if(std::begin(kSamples), std::end(kSamples),
                                    [&](const Sample& x) { return std::string_view(x.name) == e.sample; });
    Made made = s.make();
    if (!made.skip.isEmpty()) continue;  // the sample's own test says why
    e.edit(made.bytes);
    Item item(made.bytes, Garbage(9000, 12));
    const EndFinding f = item.Run(s.finder);
    EXPECT_EQ(f.outcome, e.expect) << f.why;
    if (e.expect == EndOutcome::Found) {
      EXPECT_EQ(f.length, e.length ? e.length(made.bytes) : static_cast<std::uint64_t>(made.bytes.size()));
    }
  }
}

// Formats with no stated length are told from chance by a run of frames:
// one frame short of the run is not this format, the run itself is found.
TEST(MediaFrameRuns, ShortestRunThatCounts) {
  QByteArray adts;  // 22.05 kHz mono AAC frames of 100 bytes
  for (int i = 0; i < 4; ++i) adts += QByteArray("\xFF\xF1\x5C\x40\x0C\x9F\xFC", 7) + Garbage(93, 30 + i);
  const QByteArray mpeg1_pack("\0\0\x01\xBA\x21\0\x01\0\x01\x80\x1B\x91", 12);
  const QByteArray pes = QByteArray("\0\0\x01\xE0\0\x0A", 6) + Garbage(10, 5);
  const struct {
    const char* what;
    EndFinder finder;
    QByteArray run;       // the shortest run that counts
    qsizetype last_unit;  // bytes of its last frame or packet
  } kRuns[] = {
      {"AMR: eight frames", Find_Amr_End, Amr(8), 32},
      {"ADTS: four frames", Find_Aac_End, adts, 100},
      {"program stream: a pack and two packets", Find_Mpeg_Ps_End, mpeg1_pack + pes + pes, pes.size()},
  };
  for (const auto& r : kRuns) {
    SCOPED_TRACE(r.what);
    Item whole(r.run, Zeros(4096));
    const EndFinding found = whole.Run(r.finder);
    EXPECT_TRUE(found.found()) << found.why;
    EXPECT_EQ(found.length, static_cast<std::uint64_t>(r.run.size()));
    Item short_run(r.run.left(r.run.size() - r.last_unit), Zeros(4096));
    EXPECT_TRUE(short_run.Run(r.finder).not_this_format());
  }
}

// A large medium of random sectors that counts what is read: a finder that
// meets a signature in random bytes must say so after a few blocks, never
// walk or search on through the medium.
class CountingRandomMedium final : public SectorSource {
 public:
  static constexpr std::uint64_t kSectors = std::uint64_t{1} << 21;  // 1 GiB
  std::uint64_t seed = 0;
  std::uint64_t reads = 0;
  QByteArray first;  // what sector 0 starts with
  const std::uint8_t* Read_Sector(std::uint64_t sector) override {
    if (sector >= kSectors) return nullptr;
    ++reads;
    std::uint64_t x = seed ^ (sector * 0x9E3779B97F4A7C15ull);
    for (std::size_t i = 0; i < kSectorSize; i += 8) {
      x ^= x << 13, x ^= x >> 7, x ^= x << 17;
      for (std::size_t k = 0; k < 8; ++k) sector_[i + k] = static_cast<std::uint8_t>(x >> (8 * k));
    }
    if (sector == 0) std::copy(first.begin(), first.end(), sector_);
    return sector_;
  }

 private:
  std::uint8_t sector_[kSectorSize] = {};
};

TEST(MediaFinderCost, RandomBytesBehindASignatureAreRejectedWithinAFewBlocks) {
  constexpr std::uint64_t kMostSectors = 8 * 128;  // eight of the item's 64 KiB blocks
  const struct {
    EndFinder finder;
    QByteArray start;  // the signature, at the offset the catalogue gives it
  } kStarts[] = {
      {Find_Jpeg_End, "\xFF\xD8\xFF"},
      {Find_Png_End, "\x89PNG\r\n\x1A\n"},
      {Find_Gif_End, "GIF89a"},
      {Find_Bmp_End, "BM"},
      {Find_Tiff_End, QByteArray("II*\0", 4)},
      {Find_Isobmff_End, QByteArray(4, '\x10') + "mdat"},
      {Find_Riff_End, "RIFF"},
      {Find_Mp3_End, "ID3"},
      {Find_Mp3_End, "\xFF\xFB"},
      {Find_Ico_End, QByteArray("\0\0\x01\0", 4)},
      {Find_Ogg_End, "OggS"},
      {Find_Ebml_End, "\x1A\x45\xDF\xA3"},
      {Find_Psd_End, QByteArray("8BPS\0\x01\0\0\0\0\0\0", 12)},
      {Find_Crw_End, QByteArray("II\x1A\0\0\0HEAPCCDR", 14)},
      {Find_Raf_End, "FUJIFILMCCD-RAW "},
      {Find_Mrw_End, QByteArray("\0MRM", 4)},
      {Find_X3f_End, "FOVb"},
      {Find_Jp2_End, QByteArray("\0\0\0\x0CjP  \r\n\x87\n", 12)},
      {Find_J2k_End, "\xFF\x4F\xFF\x51"},
      {Find_Jxl_End, "\xFF\x0A"},
      {Find_Exr_End, "\x76\x2F\x31\x01"},
      {Find_Pcx_End, "\x0A\x05\x01"},
      {Find_Aiff_End, "FORM"},
      {Find_Flac_End, "fLaC"},
      {Find_Midi_End, QByteArray("MThd\0\0\0\x06", 8)},
      {Find_Amr_End, "#!AMR\n"},
      {Find_Asf_End, QByteArray("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16)},
      {Find_Au_End, ".snd"},
      {Find_Aac_End, "\xFF\xF1"},
      {Find_Wavpack_End, "wvpk"},
      {Find_Ape_End, "MAC "},
      {Find_Flv_End, "FLV\x01"},
      {Find_Swf_End, "FWS"},
      {Find_Swf_End, "CWS"},
      {Find_Mpeg_Ps_End, QByteArray("\0\0\x01\xBA", 4)},
      {Find_Mpeg_Video_End, QByteArray("\0\0\x01\xB3", 4)},
      {Find_Mpeg_Ts_End, QByteArray("\x47\x40\0\x10", 4)},
      {Find_Realmedia_End, QByteArray(".RMF\0\0\0\x12", 8)},
      {Find_Mxf_End, QByteArray("\x06\x0E\x2B\x34\x02\x05\x01\x01\x0D\x01\x02\x01\x01\x02", 14)},
      {Find_Y4m_End, "YUV4MPEG2 "},
      {Find_Ivf_End, "DKIF"},
      {Find_Bink_End, "BIK"},
  };
  for (const auto& s : kStarts) {
    SCOPED_TRACE(s.start.toHex().toStdString());
    std::uint64_t most = 0;
    for (std::uint64_t v = 0; v < 200; ++v) {
      CountingRandomMedium medium;
      medium.seed = 0x5EED0000 + v;
      medium.first = s.start;
      ItemBytes bytes(medium, 0, 8 * kSectorSize, CountingRandomMedium::kSectors * kSectorSize);
      EXPECT_FALSE(s.finder(bytes).found());
      most = std::max(most, medium.reads);
    }
    EXPECT_LE(most, kMostSectors);
  }
}

}  // namespace
}  // namespace tamberlin::recovery
