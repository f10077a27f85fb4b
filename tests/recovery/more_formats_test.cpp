// End finders for ICO/CUR, tar, Ogg and Matroska/WebM on real files (Qt's
// icon writer, GNU tar, GStreamer; skipped when missing) and on hand-built
// and damaged ones.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

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
  QByteArray bytes;
  QString skip;
};
Made Skip(const QString& why) { return {{}, why}; }

QByteArray Write(const QImage& image, const char* format) {
  QByteArray out;
  QBuffer buf(&out);
  buf.open(QIODevice::WriteOnly);
  return QImageWriter(&buf, format).write(image) ? out : QByteArray();
}

// An icon (type 1) or cursor (type 2) holding a DIB and a PNG image.
QByteArray Hand_Icon(int type) {
  const QImage small = samples::Test_Picture(16, 16).convertToFormat(QImage::Format_RGB888);
  QByteArray dib = Write(small, "bmp").mid(14);
  dib[8] = 32;           // height counts the AND mask too
  dib += Zeros(16 * 4);  // the AND mask: 16 rows of 4 bytes
  const QByteArray png = Write(samples::Test_Picture(48, 48, 3), "png");
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

Made Qt_Icon() {
  if (!QImageWriter::supportedImageFormats().contains("ico")) return Skip(QStringLiteral("no Qt ico plugin"));
  return {Write(samples::Test_Picture(32, 32), "ico"), {}};
}

// Runs `program` in a folder holding three data files and a folder with a
// long-named one, and returns `result`.
Made Run_Tool(const QString& program, const QStringList& args, const QString& result = QStringLiteral("out")) {
  const QString exe = QStandardPaths::findExecutable(program);
  if (exe.isEmpty()) return Skip(program + " is not installed");
  QTemporaryDir dir;
  QDir(dir.path()).mkdir(QStringLiteral("d"));
  const auto put = [&](const QString& name, const QByteArray& data) {
    QFile f(dir.filePath(name));
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
  };
  for (int i = 1; i <= 3; ++i) put(QStringLiteral("f%1.bin").arg(i), Garbage(i * 3000 + 17, static_cast<unsigned>(i)));
  put(QStringLiteral("d/") + QString(120, QLatin1Char('x')), Garbage(700, 9));
  QProcess p;
  p.setWorkingDirectory(dir.path());
  p.start(exe, args);
  if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    return Skip(program + " failed: " + QString::fromLocal8Bit(p.readAllStandardError()).trimmed());
  }
  QFile out(dir.filePath(result));
  if (!out.open(QIODevice::ReadOnly) || out.size() == 0) return Skip(program + " wrote nothing");
  return {out.readAll(), {}};
}
Made Tar(const char* args) { return Run_Tool(QStringLiteral("tar"), QString::fromLatin1(args).split(' ')); }
Made Gst(const char* pipeline) {
  return Run_Tool(QStringLiteral("gst-launch-1.0"),
                  QStringList{QStringLiteral("-q")} + QProcess::splitCommand(QString::fromLatin1(pipeline)) +
                      QStringList{QStringLiteral("!"), QStringLiteral("filesink"), QStringLiteral("location=out")});
}
Made Joined(const Made& a, const Made& b) {
  return a.skip.isEmpty() && b.skip.isEmpty() ? Made{a.bytes + b.bytes, {}} : Skip(a.skip + b.skip);
}

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

struct Sample {
  const char* name;
  EndFinder finder;
  std::function<Made()> make;
  bool padded = false;  // zeros fill the last record (tar): without them the file is still whole
};
void PrintTo(const Sample& s, std::ostream* os) { *os << s.name; }

const Sample kSamples[] = {
    {"IcoQt", Find_Ico_End, Qt_Icon},
    {"IcoHand", Find_Ico_End, [] { return Made{Hand_Icon(1), {}}; }},
    {"CurHand", Find_Ico_End, [] { return Made{Hand_Icon(2), {}}; }},
    {"TarFiles", Find_Tar_End, [] { return Tar("-cf out f1.bin f2.bin f3.bin"); }, true},
    {"TarLongName", Find_Tar_End, [] { return Tar("-cf out f1.bin d"); }, true},
    {"TarPax", Find_Tar_End, [] { return Tar("--format=pax -cf out f1.bin d"); }, true},
    {"TarPaxSizeRecord", Find_Tar_End, [] { return Made{Tar_With_Pax_Size(), {}}; }, true},
    {"OggVorbis", Find_Ogg_End, [] { return Gst(AUDIO "vorbisenc ! oggmux"); }},
    {"OggOpus", Find_Ogg_End, [] { return Gst(AUDIO "audioresample ! opusenc ! oggmux"); }},
    {"OggSpeex", Find_Ogg_End, [] { return Gst(AUDIO "speexenc ! oggmux"); }},
    {"OggTheoraVorbis", Find_Ogg_End, [] { return Gst(AUDIO "vorbisenc ! m. " VIDEO "theoraenc ! oggmux name=m"); }},
    {"OggChained", Find_Ogg_End,
     [] { return Joined(Gst(AUDIO "vorbisenc ! oggmux"), Gst(AUDIO "audioresample ! opusenc ! oggmux")); }},
    {"Webm", Find_Ebml_End, [] { return Gst(VIDEO "vp8enc ! webmmux"); }},
    {"Mkv", Find_Ebml_End, [] { return Gst(VIDEO "jpegenc ! matroskamux"); }},
    {"Mka", Find_Ebml_End, [] { return Gst(AUDIO "vorbisenc ! matroskamux"); }},
};

// Made once per run; test parameters are copies, so keyed by name.
const Made& Made_Once(const Sample& s) {
  static std::map<std::string, Made> made;
  auto [it, fresh] = made.try_emplace(s.name);
  if (fresh) it->second = s.make();
  return it->second;
}

class MoreFormatsTest : public ::testing::TestWithParam<Sample> {};

TEST_P(MoreFormatsTest, ExactEndAndNeverPastACut) {
  const Sample& s = GetParam();
  const Made& made = Made_Once(s);
  if (!made.skip.isEmpty()) GTEST_SKIP() << made.skip.toStdString();
  const QByteArray& file = made.bytes;
  const auto size = static_cast<std::uint64_t>(file.size());
  // Tar: the last member's data ends in the last non-zero byte's block; the two end blocks follow.
  qsizetype last = file.size() - 1;
  while (s.padded && last >= 0 && file[last] == '\0') --last;
  const auto core = s.padded ? static_cast<std::uint64_t>((last + 512) / 512 * 512 + 1024) : size;
  struct Case {
    const char* what;
    QByteArray file, after;
    std::uint64_t range, limit, expect;  // expect 0: Unknown
  };
  std::vector<Case> cases = {
      {"garbage after", file, Garbage(65536), 0, 0, size},
      {"zeros after, range one sector, limit past the end", file, Zeros(8192), 512, size * 4, size},
      {"cut inside", file, Garbage(65536), core * 2 / 3, core * 2 / 3, 0},
      {"cut one byte short", file, Garbage(65536), core - 1, core - 1, 0},
      {"medium ends halfway", file.left(file.size() / 2 / kSectorSize * kSectorSize), {}, 0, size * 2, 0},
  };
  if (s.padded) {
    QByteArray dirty_padding = file;
    dirty_padding[file.size() - 1] = 1;
    cases.push_back({"padding cut", file, {}, size - 1, size - 1, core});
    cases.push_back({"padding not zero", dirty_padding, {}, 0, 0, core});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Item item(c.file, c.after, c.range, c.limit);
    const EndFinding f = item.Run(s.finder);
    EXPECT_EQ(f.found() ? f.length : 0, c.expect) << f.why;
  }
  Item noise(Garbage(8192, 3));
  EXPECT_TRUE(noise.Run(s.finder).not_this_format()) << "random bytes";
}

INSTANTIATE_TEST_SUITE_P(Real, MoreFormatsTest, ::testing::ValuesIn(kSamples),
                         [](const auto& p) { return std::string(p.param.name); });

void Set(QByteArray& b, qsizetype at, const QByteArray& bytes) { b.replace(at, bytes.size(), bytes); }

// Adds `delta` to the Segment's size, which the muxers write as an 8-byte vint.
void Grow_Segment(QByteArray& b, std::int64_t delta) {
  const qsizetype at = b.indexOf("\x18\x53\x80\x67") + 4;
  ASSERT_EQ(b[at], '\x01');
  std::uint64_t size = 0;
  for (int i = 1; i < 8; ++i) size = size << 8 | static_cast<std::uint8_t>(b[at + i]);
  size += static_cast<std::uint64_t>(delta);
  for (int i = 7; i >= 1; --i, size >>= 8) b[at + i] = static_cast<char>(size & 0xFF);
}

// Hand edits to one sample: the edited file is found whole, or the outcome
// the edit must give (kNotFound: either way, the end is not told).
enum Want { kWhole, kUnknown, kNotIt, kNotFound };
struct Edit {
  const char* name;
  const char* sample;
  std::function<void(QByteArray&)> edit;
  Want want;
};

const Edit kEdits[] = {
    {"ico reserved field set", "IcoHand", [](QByteArray& b) { b[0] = 1; }, kNotIt},
    {"ico offset inside the directory", "IcoHand", [](QByteArray& b) { b[6 + 12] = 20; }, kNotIt},
    {"ico image size past the limit", "CurHand", [](QByteArray& b) { Set(b, 22 + 8, "\xF0\xFF\xFF\x7F"); }, kUnknown},
    {"ico image neither DIB nor PNG", "CurHand", [](QByteArray& b) { b[b.indexOf("\x89PNG")] = 0; }, kNotIt},
    {"tar second header checksum wrong", "TarFiles", [](QByteArray& b) { b[3584 + 1] ^= 1; }, kNotFound},
    {"tar second header zeroed", "TarFiles", [](QByteArray& b) { Set(b, 3584, Zeros(512)); }, kNotFound},
    {"tar base-256 size", "TarFiles",
     [](QByteArray& b) {
       QByteArray header = b.left(512);
       Set(header, 124, QByteArray("\x80\0\0\0\0\0\0\0\0\0\x0b\xc9", 12));  // 3017
       Tar_Checksum(header);
       Set(b, 0, header);
     },
     kWhole},
    {"tar directory with a size", "TarLongName",  // tar reads no data after a directory
     [](QByteArray& b) {
       QByteArray header = b.mid(3584, 512);
       Set(header, 124, "00000001750");
       Tar_Checksum(header);
       Set(b, 3584, header);
     },
     kWhole},
    {"tar negative base-256 size", "TarFiles",
     [](QByteArray& b) {
       QByteArray header = b.left(512);
       Set(header, 124, QByteArray(12, '\xFF'));
       Tar_Checksum(header);
       Set(b, 0, header);
     },
     kNotFound},
    {"ogg crc wrong in the first page", "OggVorbis", [](QByteArray& b) { b[30] ^= 1; }, kNotIt},
    {"ogg crc wrong in the second chain", "OggChained", [](QByteArray& b) { b[b.size() - 3] ^= 1; }, kUnknown},
    {"ogg last page missing", "OggTheoraVorbis", [](QByteArray& b) { b.truncate(b.lastIndexOf("OggS")); }, kUnknown},
    {"ebml segment size unknown", "Mkv",
     [](QByteArray& b) { Set(b, b.indexOf("\x18\x53\x80\x67") + 4, QByteArray("\x01") + QByteArray(7, '\xFF')); },
     kUnknown},
    {"ebml segment size short", "Webm", [](QByteArray& b) { Grow_Segment(b, -100); }, kUnknown},
    {"ebml segment size past the limit", "Mka", [](QByteArray& b) { Grow_Segment(b, 1 << 20); }, kUnknown},
    {"ebml unknown doc type", "Webm", [](QByteArray& b) { b[b.indexOf("webm") + 1] = 'x'; }, kNotIt},
    {"ebml void before the segment", "Mkv",
     [](QByteArray& b) { b.insert(b.indexOf("\x18\x53\x80\x67"), QByteArray("\xEC\x83\0\0\0", 5)); }, kWhole},
};

TEST(MoreFormatsEdits, WholeOrUnknown) {
  for (const Edit& e : kEdits) {
    SCOPED_TRACE(e.name);
    const Sample& s = *std::find_if(std::begin(kSamples), std::end(kSamples),
                                    [&](const Sample& x) { return std::string_view(x.name) == e.sample; });
    QByteArray file = Made_Once(s).bytes;
    if (file.isEmpty()) continue;  // the sample's own test says why it was skipped
    e.edit(file);
    Item item(file, Garbage(65536, 11));
    const EndFinding f = item.Run(s.finder);
    switch (e.want) {
      case kWhole: EXPECT_EQ(f.found() ? f.length : 0, static_cast<std::uint64_t>(file.size())) << f.why; break;
      case kUnknown: EXPECT_EQ(f.outcome, EndOutcome::Unknown) << f.why; break;
      case kNotIt: EXPECT_TRUE(f.not_this_format()) << f.why; break;
      case kNotFound: EXPECT_FALSE(f.found()) << f.length; break;
    }
  }
}

}  // namespace
}  // namespace tamberlin::recovery
