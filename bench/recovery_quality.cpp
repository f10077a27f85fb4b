// recovery_quality: builds stick images as users' look (real files, most deleted, some partly overwritten, some
// fragmented; on the used stick old compressed data all around them), recovers each with tamberlin-cli in every
// mode and with PhotoRec on the same image, and compares what each wrote with the files that were there.
#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImageWriter>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <optional>
#include <random>
#include <span>
#include <tuple>
#include <vector>

#include "fat_image.h"
#include "run_tool.h"
#include "tools/sample_files/sample_files.h"

namespace {

using namespace tamberlin;
using e2e::kSectorBytes;
using Members = std::vector<std::pair<QString, QByteArray>>;
constexpr qsizetype kHead = 4096;  // bytes compared to tell which original a file starts like

// One stick to build and recover (1 KiB clusters make FAT32 possible at 128 MiB; a used stick has old data wherever
// the files are not). `exact_before` is how many planted files Tamberlin got back byte for byte before its
// structure checks were made strict: stricter checks must not lose any of them.
struct Case {
  const char* name;
  const char* what;
  std::uint32_t mib, sectors_per_cluster;
  bool used;
  int exact_before;
};
constexpr Case kCases[] = {
    {"clean", "files on a freshly formatted stick", 128, 2, false, 36},
    {"used", "files among old compressed data, as on a card in use for years", 512, 8, true, 35},
};

void Say(const QString& s) { std::printf("%s\n", qPrintable(s)), std::fflush(stdout); }
QByteArray Sha_Hex(const QByteArray& b) { return QCryptographicHash::hash(b, QCryptographicHash::Sha256).toHex(); }
QByteArray File_Sha_Hex(const QString& path) {
  QFile f(path);
  QCryptographicHash h(QCryptographicHash::Sha256);
  return f.open(QIODevice::ReadOnly) && h.addData(&f) ? h.result().toHex() : QByteArray();
}
QByteArray Read_File(const QString& path, qint64 max = -1) {
  QFile f(path);
  return !f.open(QIODevice::ReadOnly) ? QByteArray() : max < 0 ? f.readAll() : f.read(max);
}
bool Write_File(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}
void Clear(const QString& dir) { QDir(dir).removeRecursively(), QDir().mkpath(dir); }

// A file made by `tool` in a fresh folder under `scratch` holding `members`, whose names follow `args`: what it
// wrote to OUT (a word in `args`), or its standard output when no argument names OUT. Nothing, and the reason in
// `why`, on failure.
std::optional<QByteArray> Made(const QString& scratch, const char* tool, QStringList args, const Members& members,
                               QString* why) {
  static int n = 0;
  const QString dir = scratch + QStringLiteral("/%1").arg(++n), out = dir + ".out";
  *why = QStringLiteral("cannot write the input files in ") + dir;
  if (!QDir().mkpath(dir)) return std::nullopt;
  for (const auto& [name, bytes] : members)
    if (args << name; !Write_File(dir + '/' + name, bytes)) return std::nullopt;
  const bool to_stdout = args.filter("OUT").isEmpty();
  const testing::ToolRun run = testing::Run_Tool(tool, args.replaceInStrings("OUT", out), {}, dir);
  const QByteArray bytes = to_stdout ? run.out : Read_File(out);
  *why = run.exit_code > 0 ? tool + QStringLiteral(" failed: ") + QString::fromLocal8Bit(run.err).trimmed().right(200)
                           : run.problem;
  return run.Ok() && bytes.size() >= 64 ? std::optional(bytes) : std::nullopt;
}

// ------------------------------------------------------------ file contents

QByteArray Random_Bytes(qsizetype n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  QByteArray out(n, Qt::Uninitialized);
  for (char& c : out) c = static_cast<char>(rng() & 0xFF);
  return out;
}

// A test picture with grain, so that it compresses like a photograph.
QImage Photo(int width, int height, int seed, int grain = 6) {
  QImage img = samples::Test_Picture(width, height, seed).convertToFormat(QImage::Format_RGB32);
  std::mt19937 rng(static_cast<std::uint32_t>(seed) * 7919u + 1u);
  for (int y = 0; y < height; ++y)
    for (QRgb& p : std::span(reinterpret_cast<QRgb*>(img.scanLine(y)), static_cast<std::size_t>(width))) {
      const int n = static_cast<int>(rng() % static_cast<std::uint32_t>(2 * grain + 1)) - grain;
      p = qRgb(std::clamp(qRed(p) + n, 0, 255), std::clamp(qGreen(p) + n, 0, 255), std::clamp(qBlue(p) + n, 0, 255));
    }
  return img;
}

QByteArray Jpeg(const QImage& img, int quality, bool progressive = false) {
  QByteArray out;
  QBuffer buf(&out);
  buf.open(QIODevice::WriteOnly);
  QImageWriter w(&buf, "jpeg");
  w.setQuality(quality);
  w.setProgressiveScanWrite(progressive);
  return w.write(img) ? out : QByteArray();
}

// A camera-style JPEG: an Exif APP1 whose IFD1 carries a 160x120 JPEG thumbnail, so the first FF D9 in the file
// is the thumbnail's.
QByteArray Jpeg_With_Thumbnail(const QImage& img, int quality) {
  const QByteArray main = Jpeg(img, quality), thumb = Jpeg(img.scaled(160, 120), 75);
  QByteArray tiff("II*\0\x08\0\0\0", 8);
  auto ifd = [&](std::initializer_list<std::array<std::uint32_t, 4>> entries, std::uint32_t next) {
    samples::Put16(tiff, static_cast<std::uint32_t>(entries.size()));
    for (const auto& [tag, type, count, value] : entries) {
      samples::Put16(tiff, tag);
      samples::Put16(tiff, type);
      samples::Put32(tiff, count);
      samples::Put32(tiff, value);
    }
    samples::Put32(tiff, next);
  };
  ifd({{0x0112, 3, 1, 1}}, 26);  // orientation; IFD1 (compression 6, the thumbnail's offset and length) follows
  ifd({{0x0103, 3, 1, 6}, {0x0201, 4, 1, 68}, {0x0202, 4, 1, static_cast<std::uint32_t>(thumb.size())}}, 0);
  const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff + thumb;
  QByteArray app1("\xFF\xE1", 2);
  samples::Put16_Be(app1, static_cast<std::uint32_t>(payload.size() + 2));
  return main.isEmpty() || thumb.isEmpty() ? QByteArray() : main.left(2) + app1 + payload + main.mid(2);
}

// Numbered lines of words from a short list, which compress as notes do; with no `what`, the words' letters are
// random, which compresses about as badly as text ever does.
QByteArray Text_Lines(qsizetype bytes, std::uint32_t seed, const char* what = "") {
  static const char* const kWords[] = {"battery", "charger", "harbour", "ferry", "lunch",  "museum", "rain",
                                       "train",   "tickets", "hotel",   "beach", "camera", "north",  "market"};
  std::mt19937 rng(seed);
  QByteArray out;
  for (int line = 1; out.size() < bytes; ++line) {
    out += QByteArray(what) + ' ' + QByteArray::number(line) + ':';
    for (int w = 0; w < 8; ++w) {
      QByteArray word = kWords[rng() % std::size(kWords)];
      for (char& c : word) c = *what ? c : static_cast<char>('a' + rng() % 26);
      out += ' ' + word;
    }
    out += '\n';
  }
  return out.left(bytes);
}

// A multi-page PDF with a picture on each page, as a scanner or a report tool writes it.
QByteArray Photo_Pdf(int pages, int seed) {
  QByteArray out;
  QBuffer buf(&out);
  buf.open(QIODevice::WriteOnly);
  QPdfWriter w(&buf);
  w.setTitle("Trip report");
  QPainter p(&w);
  for (int i = 0; i < pages; ++i) {
    if (i > 0) w.newPage();
    p.drawImage(QRect(0, 0, 4000, 3000), Photo(640, 480, seed + i));
  }
  p.end();
  return out;
}

// A PDF saved again by an editor: an incremental update (new Info object, xref section, trailer with /Prev)
// after the first %%EOF.
QByteArray Updated_Pdf(const QByteArray& pdf) {
  const QString text = QString::fromLatin1(pdf);
  const auto size = QRegularExpression(R"(/Size\s+(\d+))").match(text, text.lastIndexOf("trailer"));
  const auto root = QRegularExpression(R"(/Root\s+(\d+)\s+0\s+R)").match(text, text.lastIndexOf("trailer"));
  const auto start = QRegularExpression(R"(startxref\s+(\d+)\s+%%EOF\s*$)").match(text);
  if (!size.hasMatch() || !root.hasMatch() || !start.hasMatch()) return {};
  const QByteArray n = size.captured(1).toLatin1(), out = pdf.endsWith('\n') ? pdf : pdf + '\n';
  const QByteArray info = n + " 0 obj\n<< /Title (Holiday notes, revised) /Author (Mara) >>\nendobj\n";
  return out + info + "xref\n0 1\n0000000000 65535 f \n" + n + " 1\n" +
         QByteArray::number(out.size()).rightJustified(10, '0') + " 00000 n \ntrailer\n<< /Size " +
         QByteArray::number(n.toInt() + 1) + " /Root " + root.captured(1).toLatin1() + " 0 R /Info " + n +
         " 0 R /Prev " + start.captured(1).toLatin1() + " >>\nstartxref\n" +
         QByteArray::number(out.size() + info.size()) + "\n%%EOF\n";
}

// Lines of text, each wrapped in `open` and `close`, between `head` and `tail`: the body of a markup file.
QByteArray Marked(const QByteArray& head, const QByteArray& open, const QByteArray& close, const QByteArray& tail,
                  qsizetype bytes, std::uint32_t seed) {
  return head + open + Text_Lines(bytes, seed, "Line").replace("\n", close + '\n' + open) + close + tail;
}

// What a card in use for years holds where no file is: pieces of gzip and xz output, of JPEG scans (the
// entropy-coded data after the headers, some cut short), audio frame remains and random bytes. No piece starts
// with its format's header, as the old files' first clusters went to later files: a careful tool finds no file.
class OldData {
 public:
  bool Make(const QString& scratch, QString* why) {
    const QByteArray text = Text_Lines(3 << 19, 60);
    for (const char* tool : {"gzip", "xz"}) {
      const auto packed = Made(scratch, tool, {"-1", "-c"}, {{"text", text}}, why);
      if (!packed) return false;
      pools_.push_back(packed->mid(4096));
    }
    QByteArray scans, frames;
    for (int i = 0; i < 4; ++i) {
      const QByteArray jpeg = Jpeg(Photo(1280, 960, 100 + i), 80 + 3 * i);
      const qsizetype sos = jpeg.indexOf("\xFF\xDA");
      const QByteArray scan =
          jpeg.mid(sos + 2 + (static_cast<uchar>(jpeg[sos + 2]) << 8 | static_cast<uchar>(jpeg[sos + 3])));
      scans += i % 2 ? scan.left(scan.size() * (5 + i) / 12) : scan;
    }
    // One to three MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz: 417 bytes) with random bodies between random
    // bytes: frame syncs, too few in a row to be a song.
    while (frames.size() < 1 << 20) {
      for (auto k = 1 + rng_() % 3; k > 0; --k) frames += QByteArray("\xFF\xFB\x90\x64", 4) + Random_Bytes(413, Seed());
      frames += Random_Bytes(static_cast<qsizetype>(200 + rng_() % 3000), Seed());
    }
    pools_.insert(pools_.end(), {scans, frames, Random_Bytes(1 << 20, 62)});
    return scans.size() > 1 << 19;
  }
  // `n` bytes from a random place in the next pool, wrapping round at its end.
  QByteArray Piece(qsizetype n) {
    const QByteArray& pool = pools_[next_++ % pools_.size()];
    QByteArray out;
    for (auto at = static_cast<qsizetype>(rng_() % static_cast<std::uint32_t>(pool.size())); out.size() < n; at = 0)
      out += pool.mid(at, n - out.size());
    return out;
  }
  qint64 Piece_Size() { return 4096 * static_cast<qint64>(16 + rng_() % 496); }  // 64 KiB to 2 MiB, as files are

 private:
  std::uint32_t Seed() { return static_cast<std::uint32_t>(rng_()); }
  std::vector<QByteArray> pools_;
  std::size_t next_ = 0;
  std::mt19937 rng_{63};
};

// ------------------------------------------------------------ the stick

enum class State { Intact, Overwritten, Fragmented };
const char* const kStateText[] = {"intact", "overwritten", "fragmented"};

// A planted file: type is the catalogue key, empty for fillers no catalogue knows; chain: its clusters on the stick.
struct Original {
  QString name, type;
  QByteArray bytes, sha;
  std::vector<std::uint32_t> chain = {};
  bool copied = false, deleted = false;
  State state = State::Intact;
  quint64 first_sector = 0;
};

// The stick image and the files planted on it, with the FAT operations of its history.
struct Stick {
  QString path, error;
  Case geometry;
  std::vector<Original> files;
  e2e::FatLayout layout;

  void Add(const QString& name, const char* type, const std::optional<QByteArray>& bytes, const QString& why = {}) {
    if (bytes && !bytes->isEmpty())
      files.push_back({name, type, *bytes, Sha_Hex(*bytes)});
    else
      Say("  not made: " + name + ": " + (why.isEmpty() ? QStringLiteral("its maker gave no bytes") : why));
  }

  // Formats the stick; a used one keeps old data everywhere after the root folder, as a quick format leaves it.
  bool Format(OldData* old) {
    if (!e2e::Format_Fat_Image(path, geometry.mib * 1024, geometry.sectors_per_cluster, &error)) return false;
    const auto boot = e2e::Read_Fat_Layout(Read_File(path, kSectorBytes), &error);
    QFile f(path);
    if (!boot || !f.open(QIODevice::ReadWrite)) return false;
    for (auto at = static_cast<qint64>(boot->Cluster_Sector(3) * kSectorBytes); old && at < f.size();) {
      const QByteArray piece = old->Piece(std::min(f.size() - at, old->Piece_Size()));
      if (!f.seek(at) || f.write(piece) != piece.size()) return false;
      at += piece.size();
    }
    return true;
  }

  bool Copy(const QStringList& names) {
    for (const QString& n : names)
      if (Original* f = Find(n); f != nullptr && !(f->copied = e2e::Copy_Into_Fat_Image(path, n, f->bytes, &error)))
        return false;
    return true;
  }

  bool Delete(const QStringList& names) {
    QStringList present;
    for (const QString& n : names)
      if (const Original* f = Find(n); f != nullptr && f->copied && !f->deleted) present << n;
    if (!Record_Chains()) return false;  // while the FAT still has them
    for (const QString& n : present) Find(n)->deleted = true;
    return e2e::Delete_From_Fat_Image(path, present, &error);
  }

  // The next copy starts at this fraction of a deleted file's clusters.
  bool Cursor_In(const QString& name, double fraction) {
    const Original* f = Find(name);
    if (f == nullptr || f->chain.empty()) return true;
    return e2e::Allocate_From_Cluster(
        path, f->chain[static_cast<std::size_t>(fraction * static_cast<double>(f->chain.size() - 1))], &error);
  }

  // Each file's state, read from the final image.
  bool Finish() {
    std::erase_if(files, [](const Original& f) { return !f.copied; });
    QFile image(path);
    if (!Record_Chains() || !image.open(QIODevice::ReadOnly)) return false;
    const auto cluster = static_cast<qsizetype>(layout.sectors_per_cluster * kSectorBytes);
    for (Original& f : files) {
      if (f.chain.empty()) return (error = f.name + ": no cluster chain"), false;
      f.first_sector = layout.Cluster_Sector(f.chain.front());
      QByteArray now;
      for (const std::uint32_t c : f.chain)
        now += image.seek(static_cast<qint64>(layout.Cluster_Sector(c) * kSectorBytes)) ? image.read(cluster) : "";
      const bool contiguous = std::adjacent_find(f.chain.begin(), f.chain.end(),
                                                 [](auto a, auto b) { return b != a + 1; }) == f.chain.end();
      f.state = now.left(f.bytes.size()) != f.bytes ? State::Overwritten
                : contiguous                        ? State::Intact
                                                    : State::Fragmented;
    }
    return true;
  }

  Original* Find(const QString& name) {
    const auto it = std::find_if(files.begin(), files.end(), [&](const Original& f) { return f.name == name; });
    return it == files.end() ? nullptr : &*it;
  }

  // The cluster chains of the files in the root folder now.
  bool Record_Chains() {
    const auto boot = e2e::Read_Fat_Layout(Read_File(path, kSectorBytes), &error);
    QStringList names;
    for (const Original& f : files)
      if (f.copied && !f.deleted) names << f.name;
    const auto chains = boot ? e2e::Cluster_Chains(path, names, &error) : std::nullopt;
    if (!chains) return false;
    layout = *boot;
    for (const auto& [name, chain] : *chains)
      if (Original* f = Find(name)) f->chain = chain;
    return true;
  }
};

// The files, in the order they are first copied. On a used stick the binary fillers hold old data too, so the
// clusters their deletion frees do.
void Make_Files(Stick& s, const QString& scratch, OldData* old) {
  QString why;
  auto tool = [&](const char* name, const char* type, const char* program, const QStringList& args,
                  const Members& members = {}) { s.Add(name, type, Made(scratch, program, args, members, &why), why); };
  auto gst = [&](const char* name, const char* type, const QString& pipeline) {
    tool(name, type, "gst-launch-1.0",
         QStringList{"-q"} + pipeline.split(' ') + QStringList{"!", "filesink", "location=OUT"});
  };
  auto image = [&](const char* name, const char* type, const QImage& img, const char* format, int quality = -1) {
    s.Add(name, type, samples::Encode(img, format, quality, &why), why);
  };
  const QStringList zip = {"-q", "-X", "-9", "-nw", "OUT"};  // -nw: "[Content_Types].xml" is a name, not a pattern
  const QString tone = "audiotestsrc num-buffers=400 wave=sine freq=523 ! audioconvert ! ";
  const QString clip = "videotestsrc num-buffers=%1 pattern=%2 ! video/x-raw,width=%3,height=%4 ! ";
  const QString body = QString::fromLatin1(Text_Lines(700, 3, "Holiday notes, line"));
  const QByteArray notes = samples::Make_Pdf("Holiday notes", body),
                   xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  const QByteArray gpx = xml + "<gpx version=\"1.1\" creator=\"phone\"><trk><trkseg>\n";

  s.Add("IMG_0001.JPG", "JPG", Jpeg_With_Thumbnail(Photo(2048, 1536, 1), 90));
  s.Add("IMG_0002.JPG", "JPG", Jpeg(Photo(1600, 1200, 2), 85, true));
  s.Add("IMG_0003.JPG", "JPG", Jpeg(Photo(1280, 960, 3), 88));
  image("SCREEN01.PNG", "PNG", Photo(1280, 720, 11, 1), "png");
  s.Add("IMG_0004.JPG", "JPG", Jpeg(Photo(640, 480, 4), 75));
  s.Add("IMG_0005.JPG", "JPG", Jpeg_With_Thumbnail(Photo(2048, 1536, 5), 90));
  image("LOGO.PNG", "PNG", samples::Test_Picture(96, 96, 21).convertToFormat(QImage::Format_ARGB32), "png");
  s.Add("NOTES.PDF", "PDF", notes);
  s.Add("MINUTES.DOCX", "DOCX", samples::Make_Docx(60));
  tool("LETTER.DOCX", "DOCX", "zip", zip,
       {{"[Content_Types].xml",
         xml + R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
               R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
               R"(<Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" )"
               R"(ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/>)"
               R"(</Types>)"},
        {"_rels/.rels",
         xml + R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
               R"(<Relationship Id="rId1" Target="word/document.xml" )"
               R"(Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument"/>)"
               R"(</Relationships>)"},
        {"word/document.xml",
         Marked(xml + R"(<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body>)",
                "<w:p><w:r><w:t>", "</w:t></w:r></w:p>", "</w:body></w:document>", 48000, 100)}});
  s.Add("IMG_0006.JPG", "JPG", Jpeg(Photo(1024, 768, 6), 85));
  s.Add("WAVE.GIF", "GIF", samples::Make_Gif(320, 240));
  image("MAP.PNG", "PNG", Photo(640, 480, 13, 3), "png");
  image("SCAN01.BMP", "BMP", Photo(640, 480, 15), "bmp");
  image("ICONS.BMP", "BMP", Photo(320, 240, 16, 0).convertToFormat(QImage::Format_Indexed8), "bmp");
  image("SCAN02.TIF", "TIF", Photo(800, 600, 17, 2), "tiff");
  image("PHOTO01.PNG", "PNG", Photo(800, 600, 12), "png");
  image("PHOTO02.WEBP", "WEBP", Photo(800, 600, 18), "webp", 80);
  image("FAVICON.ICO", "ICO", Photo(32, 32, 19, 0), "ico");
  gst("CLIP0001.MOV", "MOV", clip.arg(60).arg(0).arg(320).arg(240) + "jpegenc ! qtmux");
  gst("CLIP0002.MP4", "MP4", clip.arg(90).arg(18).arg(320).arg(240) + "avenc_mpeg4 ! mp4mux");
  s.Add("REPORT.PDF", "PDF", Photo_Pdf(3, 20));
  s.Add("REVISED.PDF", "PDF", Updated_Pdf(samples::Make_Pdf("Holiday notes", body + body)));
  tool("LISTS.ZIP", "ZIP", "zip", zip,
       {{"packing.txt", Text_Lines(60000, 30, "Item")}, {"log.txt", Text_Lines(99000, 31, "At")}});
  tool("DOCS.ZIP", "ZIP", "zip", zip,
       {{"notes.pdf", notes},
        {"diary.txt", Text_Lines(90000, 36, "Day")},
        {"track.gpx", Marked(gpx, "<trkpt><desc>", "</desc></trkpt>", "</trkseg></trk></gpx>\n", 30000, 37)}});
  s.Add("BIRDS.WAV", "WAV", samples::Make_Wav(20000, 44100));
  tool("SENSORS.GZ", "GZ", "gzip", {"-9", "-n", "-c"}, {{"in", Text_Lines(1900000, 40, "Sensor")}});
  tool("SENSORS.BZ2", "BZ2", "bzip2", {"-9", "-c"}, {{"in", Text_Lines(1600000, 41, "Sensor")}});
  tool("SENSORS.XZ", "XZ", "xz", {"-9", "-c"}, {{"in", Text_Lines(2200000, 42, "Sensor")}});
  tool("BACKUP.TAR", "TAR", "tar", {"--format=ustar", "-cf", "OUT"},
       {{"diary.txt", Text_Lines(30000, 43, "Day")}, {"map.png", samples::Encode(Photo(200, 150, 44), "png")}});
  gst("SONG.MP3", "MP3", tone + "lamemp3enc ! id3v2mux");
  gst("SONG.FLAC", "FLAC", tone + "flacenc");
  gst("SONG.OGG", "OGG", tone + "vorbisenc ! oggmux");
  s.Add("LETTER.RTF", "RTF",
        Marked(R"({\rtf1\ansi\deff0{\fonttbl{\f0 Times New Roman;}}\f0\fs24)", "", R"(\par)", "}\n", 12000, 0));
  s.Add("ALBUM.HTM", "HTML",
        Marked(R"(<!DOCTYPE html><html><head><meta charset="utf-8"><title>Album</title></head><body>)", "<p>", "</p>",
               "</body></html>\n", 15000, 1));
  s.Add("TRACK.GPX", "XML", Marked(gpx, "<trkpt><desc>", "</desc></trkpt>", "</trkseg></trk></gpx>\n", 180000, 38));
  gst("CLIP0003.AVI", "AVI", clip.arg(60).arg(1).arg(320).arg(240) + "jpegenc ! avimux");
  gst("CLIP0004.WEBM", "WEBM", clip.arg(60).arg(18).arg(320).arg(240) + "vp8enc ! webmmux");
  s.Add("IMG_0007.JPG", "JPG", Jpeg(Photo(800, 600, 7), 90));
  // Copied later, into holes.
  s.Add("IMG_0008.JPG", "JPG", Jpeg_With_Thumbnail(Photo(1600, 1200, 8), 88));
  s.Add("IMG_0009.JPG", "JPG", Jpeg(Photo(640, 480, 9), 80, true));
  s.Add("IMG_0010.JPG", "JPG", Jpeg(Photo(320, 240, 10), 80));
  image("SCAN03.PNG", "PNG", Photo(600, 800, 14, 2), "png");
  s.Add("SMALL.GIF", "GIF", samples::Make_Gif(48, 48));
  s.Add("SUMMARY.PDF", "PDF", Photo_Pdf(2, 24));
  tool("ALBUM.ZIP", "ZIP", "zip", zip,
       {{"readme.txt", Text_Lines(2000, 32, "Album")},
        {"a.jpg", Jpeg(Photo(800, 600, 33), 85)},
        {"b.jpg", Jpeg(Photo(800, 600, 34), 85)},
        {"c.png", samples::Encode(Photo(300, 200, 35), "png")}});
  s.Add("BELL.WAV", "WAV", samples::Make_Wav(1500, 8000));
  gst("CLIP0005.MOV", "MOV", clip.arg(120).arg(0).arg(640).arg(480) + "jpegenc ! qtmux");
  // Files no catalogue knows: what fills the holes.
  auto junk = [&](qsizetype n, std::uint32_t seed) { return old ? old->Piece(n) : Random_Bytes(n, seed); };
  s.Add("TEMP1.TXT", "", Text_Lines(40 * 1024, 50, "Draft"));
  s.Add("CACHE.DAT", "", junk(100 * 1024, 51));
  s.Add("THUMBS.DB", "", junk(64 * 1024, 52));
  s.Add("WRL0001.TMP", "", junk(20 * 1024, 53));
  s.Add("NEWS.TXT", "", Text_Lines(30 * 1024, 54, "News"));
  s.Add("TODO.TXT", "", Text_Lines(6 * 1024, 55, "Todo"));
  s.Add("CHAT.TXT", "", Text_Lines(12 * 1024, 56, "Chat"));
  s.Add("MEMO.TXT", "", Text_Lines(3 * 1024, 57, "Memo"));
}

// The stick's history. What each file ends up as (intact, overwritten, fragmented) is read from the final image.
bool Build_Stick(Stick& s, OldData* old) {
  // Fragmented: B and C copied, B deleted, D fills B's hole and goes on after C.
  const std::array<std::array<const char*, 3>, 4> fragmented = {{{"TEMP1.TXT", "SCAN03.PNG", "IMG_0008.JPG"},
                                                                 {"CACHE.DAT", "BELL.WAV", "SUMMARY.PDF"},
                                                                 {"THUMBS.DB", "SMALL.GIF", "CLIP0005.MOV"},
                                                                 {"WRL0001.TMP", "CHAT.TXT", "ALBUM.ZIP"}}};
  // Overwritten: X deleted, Y copied into X's clusters from this fraction on.
  const std::array<std::tuple<const char*, double, const char*>, 5> overwritten = {
      {{"IMG_0005.JPG", 0.5, "NEWS.TXT"},
       {"MAP.PNG", 0.6, "TODO.TXT"},
       {"BIRDS.WAV", 0.4, "IMG_0009.JPG"},
       {"IMG_0006.JPG", 0.0, "IMG_0010.JPG"},
       {"LISTS.ZIP", 0.7, "MEMO.TXT"}}};
  QStringList later, first, gone;
  for (const auto& [b, c, d] : fragmented) later << b << c << d;
  for (const auto& [x, at, y] : overwritten) later << y;
  for (const Original& f : s.files)
    if (!later.contains(f.name)) first << f.name;
  if (!s.Format(old) || !s.Copy(first)) return false;
  for (const auto& [b, c, d] : fragmented)
    if (!s.Copy({b, c}) || !s.Delete({b}) || !s.Cursor_In(b, 0.0) || !s.Copy({d})) return false;
  for (const auto& [x, at, y] : overwritten)
    if (!s.Delete({x}) || !s.Cursor_In(x, at) || !s.Copy({y})) return false;
  // The owner then deletes nearly everything; a few files stay.
  for (const Original& f : s.files)
    if (!QStringList{"NEWS.TXT", "TODO.TXT", "MEMO.TXT", "CHAT.TXT", "LETTER.DOCX", "NOTES.PDF", "IMG_0010.JPG"}
             .contains(f.name))
      gone << f.name;
  return s.Delete(gone) && s.Finish();
}

// ------------------------------------------------------------ what the tools wrote

struct Recovered {
  QString path;
  qint64 size = 0;
  QByteArray head, sha;  // head: the first kHead bytes
};

// One run of one tool: Tamberlin's three modes count as one tool.
struct ToolRun {
  QString label, tool;
  testing::ToolRun ran;
  bool started = false;
  double seconds = 0;
  std::vector<Recovered> files;
};

// Runs a tool into `dir` and reads what it wrote; for Tamberlin, also counts the files whose report row (bytes and
// SHA-256, the columns before the free-text note) is missing or differs.
ToolRun Run_Tool(const QString& label, const QString& program, const QStringList& args, const QString& dir) {
  ToolRun t{label, label.startsWith("tamberlin") ? "Tamberlin" : "PhotoRec", {}, false, 0, {}};
  Clear(dir);
  Say(QStringLiteral("  $ %1 %2").arg(QFileInfo(program).fileName(), args.join(' ')));
  QElapsedTimer clock;
  clock.start();
  t.ran = testing::Run_Tool(program, args, {}, QFileInfo(dir).absolutePath());
  t.seconds = static_cast<double>(clock.elapsed()) / 1000.0;
  t.started = !t.ran.problem.endsWith("could not be started") && !t.ran.problem.endsWith("is not installed");
  Write_File(dir + ".out", t.ran.out);
  Write_File(dir + ".err", t.ran.err);
  std::map<QString, QByteArray> rows;
  for (const QByteArray& line : Read_File(dir + "/recovery-report.csv").split('\n'))
    if (const QList<QByteArray> f = line.split(','); f.size() >= 7) rows[QString::fromUtf8(f[0])] = f[4] + ',' + f[6];
  int problems = 0;
  for (QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
    const QString path = it.next();
    if (it.fileName() == "report.xml" || it.fileName().startsWith("recovery-report")) continue;
    const Recovered& r = t.files.emplace_back(
        Recovered{path, it.fileInfo().size(), Read_File(path, kHead), File_Sha_Hex(path)});
    const QByteArray want = QByteArray::number(r.size) + ',' + r.sha;
    problems += rows[QDir(dir).relativeFilePath(path)] != want && rows[it.fileName()] != want;
  }
  const QString ran = QStringLiteral("    %1 s, exit %2, %3 files").arg(t.seconds, 0, 'f', 2).arg(t.ran.exit_code);
  Say(ran.arg(t.files.size()) +
      (t.tool == "Tamberlin" ? QStringLiteral(", %1 not as the report says").arg(problems) : QString()));
  return t;
}

// ------------------------------------------------------------ matching and the report

enum class Got { Exact, Longer, Partial, Missed };
enum class Kind { Exact, Longer, Partial, Inside, Noise };

// How `r` relates to `o`: Exact, Longer (all of it, then more), Partial (the same start) or Missed; `extra` is
// what Longer adds, `right` how many leading bytes are right.
struct Match {
  Got got = Got::Missed;
  qint64 extra = 0, right = 0;
  bool Better_Than(const Match& m) const {
    return got != m.got ? got < m.got : got == Got::Longer ? extra < m.extra : right > m.right;
  }
};
Match Compare(const Original& o, const Recovered& r) {
  if (r.sha == o.sha) return {Got::Exact, 0, o.bytes.size()};
  const qsizetype n = std::min({kHead, o.bytes.size(), static_cast<qsizetype>(r.size)});
  if (n == 0 || n < std::min<qsizetype>(512, o.bytes.size()) || r.head.left(n) != o.bytes.left(n)) return {};
  const QByteArray got = Read_File(r.path, o.bytes.size());
  const auto right = std::mismatch(got.begin(), got.end(), o.bytes.begin()).first - got.begin();
  return right == o.bytes.size() ? Match{Got::Longer, r.size - right, right} : Match{Got::Partial, 0, right};
}

// What a recovered file is, seen from the originals: noise equals none, is no prefix or extension of one and does
// not lie inside one (a picture in a document, a thumbnail in a photo, a frame in a clip).
Kind Classify(const Recovered& r, const std::vector<Original>& originals) {
  auto best = Got::Missed;
  for (const Original& o : originals) best = std::min(best, Compare(o, r).got);
  if (best != Got::Missed) return static_cast<Kind>(best);
  const std::boyer_moore_horspool_searcher search(r.head.begin(), r.head.end());
  for (const Original& o : originals)
    if (r.head.size() >= 16 && o.bytes.size() > r.head.size() &&
        std::search(o.bytes.begin() + 1, o.bytes.end(), search) != o.bytes.end())
      return Kind::Inside;
  return Kind::Noise;
}

// Per type, how many originals each tool got back exactly, longer, partly or not at all.
void Print_Table(const QString& title, const std::vector<Original>& originals, bool intact, const QStringList& tools,
                 const std::vector<std::vector<Got>>& got) {
  QString header = "\n" + title + "\ntype     n", under = QString(10, ' ');
  for (const QString& t : tools)
    header += QStringLiteral(" | %1").arg(t, -27), under += " | exact longer partial missed";
  Say(header + '\n' + under);
  const auto counted = [&](const Original& o, const QString& type) {
    return !o.type.isEmpty() && (o.state == State::Intact) == intact && (type == "total" || o.type == type);
  };
  QStringList types;
  for (const Original& o : originals)
    if (counted(o, "total") && !types.contains(o.type)) types << o.type;
  for (const QString& type : types << "total") {
    std::vector<std::array<int, 4>> n(got.size(), {0, 0, 0, 0});
    int count = 0;
    for (std::size_t i = 0; i < originals.size(); ++i)
      if (counted(originals[i], type)) {
        ++count;
        for (std::size_t k = 0; k < got.size(); ++k) ++n[k][static_cast<std::size_t>(got[k][i])];
      }
    QString line = QStringLiteral("%1 %2").arg(type, -6).arg(count, 3);
    for (const auto& g : n)
      line += QStringLiteral(" | %1 %2 %3 %4").arg(g[0], 5).arg(g[1], 6).arg(g[2], 7).arg(g[3], 6);
    Say(line);
  }
}

struct Totals {
  int files = 0;
  std::array<int, 5> kinds{};  // by Kind
  qint64 bytes = 0;
  double seconds = 0;
  void Say_Row(const QString& label) const {
    QString line = QStringLiteral("%1 %2").arg(label, -16).arg(files, 6);
    for (const int n : kinds) line += QStringLiteral(" %1").arg(n, 7);
    Say(line + QStringLiteral(" %1 %2").arg(static_cast<double>(bytes) / 1e6, 11, 'f', 1).arg(seconds, 8, 'f', 2));
  }
};

// Prints what each tool got back and the precision targets; true when every target is met.
bool Report(const Case& c, const std::vector<Original>& originals, const std::vector<ToolRun>& runs) {
  QStringList tools;
  for (const ToolRun& t : runs)
    if (t.started && !tools.contains(t.tool)) tools << t.tool;
  std::vector<std::vector<Got>> got(static_cast<std::size_t>(tools.size()));
  int tam_exact = 0;
  for (std::size_t k = 0; k < got.size(); ++k)
    for (const Original& o : originals) {
      Match best;
      for (const ToolRun& t : runs)
        for (std::size_t f = 0; t.tool == tools[static_cast<qsizetype>(k)] && f < t.files.size(); ++f)
          if (const Match m = Compare(o, t.files[f]); m.Better_Than(best)) best = m;
      got[k].push_back(best.got);
      tam_exact += tools[static_cast<qsizetype>(k)] == "Tamberlin" && !o.type.isEmpty() && best.got == Got::Exact;
    }
  Print_Table("Intact, contiguous files (the target: every one exact)", originals, true, tools, got);
  Print_Table("Overwritten or fragmented files", originals, false, tools, got);

  Say("\nRecovered files by what they match (noise: equals no planted file, is no prefix or extension of one and "
      "does not lie inside one)");
  Say("run               files   exact  longer partial  inside   noise  MB written  seconds");
  std::map<QString, Totals> totals;
  for (const ToolRun& t : runs) {
    Totals one{static_cast<int>(t.files.size()), {}, 0, t.seconds}, &all = totals[t.tool];
    for (const Recovered& r : t.files)
      ++one.kinds[static_cast<std::size_t>(Classify(r, originals))], one.bytes += r.size;
    if (t.started) one.Say_Row(t.label);
    for (std::size_t i = 0; i < one.kinds.size(); ++i) all.kinds[i] += one.kinds[i];
    all.files += one.files, all.bytes += one.bytes, all.seconds += one.seconds;
    if (t.label == "tamberlin video") all.Say_Row("tamberlin (all)");
  }
  const Totals &tam = totals["Tamberlin"], &pr = totals["PhotoRec"];

  qint64 planted = 0;
  for (const Original& o : originals) planted += o.type.isEmpty() ? 0 : o.bytes.size();
  Say(QStringLiteral("\nTargets (Tamberlin photo + raw + video together; planted files of a known type: %1 MB)")
          .arg(static_cast<double>(planted) / 1e6, 0, 'f', 1));
  bool all = true;
  const bool photorec = tools.contains("PhotoRec");
  auto target = [&](const QString& what, const QString& value, bool met, bool needs_photorec = false) {
    const char* verdict = needs_photorec && !photorec ? "(no PhotoRec run)" : met ? "met" : "NOT met";
    Say(QStringLiteral("  %1 %2 %3").arg(what, -46).arg(value, -18).arg(verdict));
    all = all && met && (photorec || !needs_photorec);
  };
  target(QStringLiteral("exact recoveries >= %1 before").arg(c.exact_before), QString::number(tam_exact),
         tam_exact >= c.exact_before);
  target("files matching nothing <= half of PhotoRec's", QStringLiteral("%1 vs %2").arg(tam.kinds[4]).arg(pr.kinds[4]),
         2 * tam.kinds[4] <= pr.kinds[4], true);
  target("bytes written <= 1.2 x planted",
         QStringLiteral("%1 x").arg(static_cast<double>(tam.bytes) / static_cast<double>(planted), 0, 'f', 2),
         tam.bytes * 10 <= planted * 12);
  target("time <= PhotoRec's", QStringLiteral("%1 s vs %2 s").arg(tam.seconds, 0, 'f', 2).arg(pr.seconds, 0, 'f', 2),
         tam.seconds <= pr.seconds, true);
  return all;
}

// Builds the case's stick in `work`, runs the tools on it and prints the report.
bool Run_Case(const Case& c, const QString& work, bool photorec) {
  Say(QStringLiteral("\n==== %1: %2 (%3 MiB FAT32, %4-byte clusters)")
          .arg(c.name, c.what)
          .arg(c.mib)
          .arg(c.sectors_per_cluster * kSectorBytes));
  QElapsedTimer clock;
  clock.start();
  Clear(work);
  const QString scratch = work + "/scratch";
  Stick stick{work + "/stick.img", {}, c, {}, {}};
  OldData old;
  QString why;
  if (c.used && !old.Make(scratch, &why)) return Say("cannot make the old data: " + why), false;
  Make_Files(stick, scratch, c.used ? &old : nullptr);
  QDir(scratch).removeRecursively();
  if (!Build_Stick(stick, c.used ? &old : nullptr)) return Say("cannot build the stick: " + stick.error), false;
  const std::vector<Original>& originals = stick.files;
  QString manifest = "name,type,bytes,state,deleted,first_sector,sha256\n";
  std::array<int, 3> states{};
  for (const Original& o : originals) {
    Write_File(work + "/originals/" + o.name, o.bytes);
    manifest += QStringList{o.name, o.type, QString::number(o.bytes.size()), kStateText[static_cast<int>(o.state)],
                            o.deleted ? "1" : "0", QString::number(o.first_sector), QString::fromLatin1(o.sha)}
                    .join(',') + '\n';
    states[static_cast<std::size_t>(o.state)] += !o.type.isEmpty();
  }
  Write_File(work + "/originals.csv", manifest.toUtf8());
  Say(QStringLiteral(
          "%1 files, built in %2 s; of a known type: %3 intact and contiguous, %4 overwritten, %5 fragmented")
          .arg(originals.size())
          .arg(static_cast<double>(clock.elapsed()) / 1000.0, 0, 'f', 1)
          .arg(states[0])
          .arg(states[1])
          .arg(states[2]));

  const QByteArray image_sha = File_Sha_Hex(stick.path);
  std::vector<ToolRun> runs;
  for (const QString mode : {"photo", "raw", "video"})
    runs.push_back(Run_Tool("tamberlin " + mode, QCoreApplication::applicationDirPath() + "/tamberlin-cli",
                            {"scan", "--mode", mode, "--quiet", "--recover", work + "/tamberlin-" + mode, stick.path},
                            work + "/tamberlin-" + mode));
  const QString program = QStandardPaths::findExecutable("photorec");
  if (!photorec || program.isEmpty())
    Say(photorec ? "  photorec: not installed (Debian package testdisk)" : "  photorec: skipped (--no-photorec)");
  else  // the whole space, as Tamberlin ignores the file system too
    runs.push_back(Run_Tool("photorec", program,
                            {"/log", "/d", work + "/photorec/recup", "/cmd", stick.path, "wholespace,search"},
                            work + "/photorec"));
  if (File_Sha_Hex(stick.path) != image_sha) Say("  THE IMAGE CHANGED DURING THE RUNS");
  return Report(c, originals, runs);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QString keep;
  QStringList cases;
  bool photorec = true, large = false;
  for (QStringList args = app.arguments().mid(1); !args.isEmpty();) {
    const QString a = args.takeFirst();
    if (a == "--keep" && !args.isEmpty())
      keep = args.takeFirst();
    else if (a == "--case" && !args.isEmpty())
      cases << args.takeFirst();
    else if (a == "--no-photorec" || a == "--large")
      (a == "--large" ? large : photorec) = a == "--large";  // --large on, --no-photorec off
    else
      return std::fprintf(stderr,
                          "usage: recovery_quality [--keep DIR] [--case clean|used]... [--large] [--no-photorec]\n"
                          "  --large: the used stick is 2 GiB instead of 512 MiB\n"),
             2;
  }
  QTemporaryDir temp;
  const QString work = keep.isEmpty() ? temp.path() : QDir(keep).absolutePath();
  bool all = true;
  for (Case c : kCases) {
    if (!cases.isEmpty() && !cases.contains(c.name)) continue;
    c.mib = c.used && large ? 2048 : c.mib;
    all = Run_Case(c, work + '/' + c.name, photorec) && all;
  }
  Say(QStringLiteral("\nStick images, originals (originals.csv) and the tools' output are in %1%2")
          .arg(work, keep.isEmpty() ? " (removed on exit; --keep DIR keeps them)" : ""));
  return all ? 0 : 1;
}
