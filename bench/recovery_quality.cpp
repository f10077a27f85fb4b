// recovery_quality [--keep DIR] [--no-photorec]: builds a stick image as a user's looks (real files, most deleted,
// some partly overwritten, some fragmented), recovers it with tamberlin-cli in each mode and with PhotoRec, and
// prints per type how many originals each tool wrote back exactly, longer, partly or not at all.
#include <QBuffer>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <random>
#include <vector>

#include "fat_image.h"
#include "sample_files.h"

namespace {

using namespace tamberlin;
using e2e::kSectorBytes;

constexpr std::uint32_t kStickKib = 128 * 1024;
constexpr std::uint32_t kSectorsPerCluster = 2;  // 1 KiB clusters: FAT32 needs 65525 of them
constexpr qsizetype kHead = 4096;                // bytes compared to tell which original a file starts like
constexpr int kToolTimeoutMs = 30 * 60 * 1000;

void Say(const QString& s) { std::printf("%s\n", qPrintable(s)); }

QByteArray Sha256_Hex(const QByteArray& b) { return QCryptographicHash::hash(b, QCryptographicHash::Sha256).toHex(); }

QByteArray File_Sha256_Hex(const QString& path) {
  QFile f(path);
  QCryptographicHash h(QCryptographicHash::Sha256);
  if (!f.open(QIODevice::ReadOnly) || !h.addData(&f)) return {};
  return h.result().toHex();
}

// ------------------------------------------------------------ running programs

struct Ran {
  bool started = false;
  int exit_code = -1;
  double seconds = 0;
  QString output;  // merged stdout and stderr, unless they went to files
};

Ran Run(const QString& program, const QStringList& args, const QString& workdir = {}, const QString& stdin_file = {},
        const QString& stdout_file = {}, const QString& stderr_file = {}, int timeout_ms = 120000) {
  Ran r;
  QProcess p;
  if (!workdir.isEmpty()) p.setWorkingDirectory(workdir);
  if (!stdin_file.isEmpty()) p.setStandardInputFile(stdin_file);
  else p.setStandardInputFile(QProcess::nullDevice());
  if (!stdout_file.isEmpty()) p.setStandardOutputFile(stdout_file);
  if (!stderr_file.isEmpty()) p.setStandardErrorFile(stderr_file);
  else if (stdout_file.isEmpty()) p.setProcessChannelMode(QProcess::MergedChannels);
  QElapsedTimer clock;
  clock.start();
  p.start(program, args);
  if (!p.waitForStarted(10000)) return r;
  r.started = true;
  if (!p.waitForFinished(timeout_ms)) {
    p.kill();
    p.waitForFinished(5000);
  }
  r.seconds = static_cast<double>(clock.elapsed()) / 1000.0;
  r.exit_code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  if (stdout_file.isEmpty()) r.output = QString::fromLocal8Bit(p.readAll());
  return r;
}

QByteArray Read_File(const QString& path, qint64 max = -1) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return max < 0 ? f.readAll() : f.read(max);
}

bool Write_File(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// ------------------------------------------------------------ file contents

// A test picture with grain, so that it compresses like a photograph.
QImage Photo(int width, int height, int seed, int grain = 6) {
  QImage img = samples::Test_Picture(width, height, seed).convertToFormat(QImage::Format_RGB32);
  std::mt19937 rng(static_cast<std::uint32_t>(seed) * 7919u + 1u);
  for (int y = 0; y < height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
    for (int x = 0; x < width; ++x) {
      const int n = static_cast<int>(rng() % static_cast<std::uint32_t>(2 * grain + 1)) - grain;
      line[x] = qRgb(std::clamp(qRed(line[x]) + n, 0, 255), std::clamp(qGreen(line[x]) + n, 0, 255),
                     std::clamp(qBlue(line[x]) + n, 0, 255));
    }
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

// A camera-style JPEG: an Exif APP1 whose IFD1 carries a 160x120 JPEG
// thumbnail, so the first FF D9 in the file is the thumbnail's.
QByteArray Jpeg_With_Thumbnail(const QImage& img, int quality) {
  const QByteArray main = Jpeg(img, quality);
  const QByteArray thumb = Jpeg(img.scaled(160, 120), 75);
  if (main.isEmpty() || thumb.isEmpty()) return {};
  QByteArray tiff("II*\0", 4);
  samples::Put32(tiff, 8);
  samples::Put16(tiff, 1);  // IFD0: Orientation = 1
  samples::Put16(tiff, 0x0112);
  samples::Put16(tiff, 3);
  samples::Put32(tiff, 1);
  samples::Put32(tiff, 1);
  samples::Put32(tiff, 26);  // IFD1 follows
  samples::Put16(tiff, 3);   // IFD1: Compression = 6 (JPEG), the thumbnail's offset and length
  samples::Put16(tiff, 0x0103);
  samples::Put16(tiff, 3);
  samples::Put32(tiff, 1);
  samples::Put32(tiff, 6);
  samples::Put16(tiff, 0x0201);
  samples::Put16(tiff, 4);
  samples::Put32(tiff, 1);
  samples::Put32(tiff, 68);
  samples::Put16(tiff, 0x0202);
  samples::Put16(tiff, 4);
  samples::Put32(tiff, 1);
  samples::Put32(tiff, static_cast<std::uint32_t>(thumb.size()));
  samples::Put32(tiff, 0);
  tiff += thumb;
  const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
  QByteArray app1("\xFF\xE1", 2);
  samples::Put16_Be(app1, static_cast<std::uint32_t>(payload.size() + 2));
  return main.left(2) + app1 + payload + main.mid(2);
}

QByteArray Text_Lines(qsizetype bytes, int seed, const char* what) {
  static const char* const kWords[] = {"battery", "charger", "harbour", "ferry", "lunch", "museum", "rain",
                                       "train",   "tickets", "hotel",   "beach", "camera", "north", "market"};
  std::mt19937 rng(static_cast<std::uint32_t>(seed));
  QByteArray out;
  for (int line = 1; out.size() < bytes; ++line) {
    out += QByteArray(what) + ' ' + QByteArray::number(line) + ':';
    for (int w = 0; w < 8; ++w) out += QByteArray(" ") + kWords[rng() % std::size(kWords)];
    out += '\n';
  }
  out.truncate(bytes);
  return out;
}

QByteArray Sensor_Csv(int rows, int seed) {
  std::mt19937 rng(static_cast<std::uint32_t>(seed));
  QByteArray out = "time,sensor,temperature,humidity\n";
  for (int i = 0; i < rows; ++i)
    out += "2026-05-" + QByteArray::number(1 + i / 86400).rightJustified(2, '0') + " " +
           QByteArray::number(i % 86400) + ",s" + QByteArray::number(rng() % 12) + "," +
           QByteArray::number(15 + static_cast<int>(rng() % 150) / 10.0, 'f', 1) + "," +
           QByteArray::number(30 + rng() % 60) + "\n";
  return out;
}

QByteArray Random_Bytes(qsizetype n, int seed) {
  std::mt19937 rng(static_cast<std::uint32_t>(seed));
  QByteArray out(n, Qt::Uninitialized);
  for (char& c : out) c = static_cast<char>(rng() & 0xFF);
  return out;
}

// A multi-page PDF with a picture on each page, as a scanner or a report tool writes it.
QByteArray Photo_Pdf(int pages, int seed) {
  QByteArray out;
  QBuffer buf(&out);
  buf.open(QIODevice::WriteOnly);
  {
    QPdfWriter w(&buf);
    w.setPageSize(QPageSize(QPageSize::A4));
    w.setResolution(150);
    w.setTitle(QStringLiteral("Trip report"));
    QPainter p(&w);
    for (int i = 0; i < pages; ++i) {
      if (i > 0) w.newPage();
      p.drawText(QRect(60, 60, 1000, 80), Qt::AlignLeft, QStringLiteral("Trip report, page %1").arg(i + 1));
      p.drawImage(QRect(60, 160, 1000, 750), Photo(640, 480, seed + i));
      p.drawText(QRect(60, 940, 1000, 600), Qt::TextWordWrap, QString::fromLatin1(Text_Lines(1200, seed + i, "Day")));
    }
  }
  return out;
}

// A PDF saved again by an editor: an incremental update (new Info object,
// xref section, trailer with /Prev) after the first %%EOF.
QByteArray Updated_Pdf(const QByteArray& pdf) {
  const QRegularExpression size_re(QStringLiteral(R"(/Size\s+(\d+))"));
  const QRegularExpression root_re(QStringLiteral(R"(/Root\s+(\d+)\s+0\s+R)"));
  const QRegularExpression start_re(QStringLiteral(R"(startxref\s+(\d+)\s+%%EOF\s*$)"));
  const QString text = QString::fromLatin1(pdf);
  const auto size = size_re.match(text, text.lastIndexOf(QStringLiteral("trailer")));
  const auto root = root_re.match(text, text.lastIndexOf(QStringLiteral("trailer")));
  const auto start = start_re.match(text);
  if (!size.hasMatch() || !root.hasMatch() || !start.hasMatch()) return {};
  const int n = size.captured(1).toInt();
  QByteArray out = pdf;
  if (!out.endsWith('\n')) out += '\n';
  const qsizetype obj_at = out.size();
  out += QByteArray::number(n) + " 0 obj\n<< /Title (Holiday notes, revised) /Author (Mara) >>\nendobj\n";
  const qsizetype xref_at = out.size();
  out += "xref\n0 1\n0000000000 65535 f \n" + QByteArray::number(n) + " 1\n" +
         QByteArray::number(obj_at).rightJustified(10, '0') + " 00000 n \n";
  out += "trailer\n<< /Size " + QByteArray::number(n + 1) + " /Root " + root.captured(1).toLatin1() + " 0 R /Info " +
         QByteArray::number(n) + " 0 R /Prev " + start.captured(1).toLatin1() + " >>\nstartxref\n" +
         QByteArray::number(xref_at) + "\n%%EOF\n";
  return out;
}

QByteArray Rtf(int paragraphs) {
  QByteArray out = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times New Roman;}}\n\\f0\\fs24\n";
  for (int i = 0; i < paragraphs; ++i) out += Text_Lines(300, i, "Paragraph").replace('\n', ' ') + "\\par\n";
  return out + "}\n";
}

QByteArray Html(int rows) {
  QByteArray out = "<!DOCTYPE html>\n<html lang=\"en\">\n"
                   "<head><meta charset=\"utf-8\"><title>Photo album</title></head>\n"
                   "<body>\n<h1>Summer 2026</h1>\n<table>\n";
  for (int i = 0; i < rows; ++i)
    out += "<tr><td><img src=\"IMG_" + QByteArray::number(1000 + i) + ".JPG\" width=\"160\"></td><td>" +
           Text_Lines(80, i, "Photo") + "</td></tr>\n";
  return out + "</table>\n</body>\n</html>\n";
}

QByteArray Gpx(int points) {
  QByteArray out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<gpx version=\"1.1\" creator=\"phone\">\n<trk><trkseg>\n";
  for (int i = 0; i < points; ++i)
    out += "<trkpt lat=\"" + QByteArray::number(59.9 + i * 1e-5, 'f', 6) + "\" lon=\"" +
           QByteArray::number(10.7 + i * 2e-5, 'f', 6) + "\"><ele>" + QByteArray::number(12 + i % 40) +
           "</ele></trkpt>\n";
  return out + "</trkseg></trk>\n</gpx>\n";
}

// Files made by command-line tools in a scratch folder. Each maker returns
// the file's bytes, or nothing and a reason.
class Toolbox {
 public:
  explicit Toolbox(const QString& dir) : dir_(dir) { QDir().mkpath(dir); }

  std::optional<QByteArray> Filter(const char* tool, const QStringList& args, const QByteArray& input,
                                   QString* why) {
    const QString program = QStandardPaths::findExecutable(QString::fromLatin1(tool));
    if (program.isEmpty()) return Fail(why, QString::fromLatin1(tool) + QStringLiteral(" is not installed"));
    const QString in = Scratch(QStringLiteral("in")), out = Scratch(QStringLiteral("out"));
    if (!Write_File(in, input)) return Fail(why, QStringLiteral("cannot write ") + in);
    const Ran r = Run(program, args, dir_, in, out, QProcess::nullDevice());
    const QByteArray bytes = Read_File(out);
    if (r.exit_code != 0 || bytes.isEmpty()) return Fail(why, QString::fromLatin1(tool) + QStringLiteral(" failed"));
    return bytes;
  }

  // `zip` (deflated) or `tar` over named members, in this order.
  std::optional<QByteArray> Archive(const char* tool, const QStringList& flags,
                                    const std::vector<std::pair<QString, QByteArray>>& members, QString* why) {
    const QString program = QStandardPaths::findExecutable(QString::fromLatin1(tool));
    if (program.isEmpty()) return Fail(why, QString::fromLatin1(tool) + QStringLiteral(" is not installed"));
    const QString folder = Scratch(QStringLiteral("members"));
    QStringList names;
    for (const auto& [name, bytes] : members) {
      if (!Write_File(folder + QLatin1Char('/') + name, bytes))
        return Fail(why, QStringLiteral("cannot write ") + name);
      names << name;
    }
    const QString out = Scratch(QStringLiteral("archive")) + QStringLiteral(".out");  // zip adds .zip to a bare name
    const Ran r = Run(program, QStringList(flags) << out << names, folder);
    const QByteArray bytes = Read_File(out);
    if (r.exit_code != 0 || bytes.isEmpty())
      return Fail(why, QString::fromLatin1(tool) + QStringLiteral(" failed: ") + r.output.trimmed());
    return bytes;
  }

  // gst-launch-1.0 with `pipeline` (elements separated by spaces) into a file.
  std::optional<QByteArray> Gst(const QString& pipeline, QString* why) {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("gst-launch-1.0"));
    if (program.isEmpty()) return Fail(why, QStringLiteral("gst-launch-1.0 is not installed"));
    const QString out = Scratch(QStringLiteral("media"));
    QStringList args = {QStringLiteral("-q")};
    args << pipeline.split(QLatin1Char(' '), Qt::SkipEmptyParts) << QStringLiteral("!") << QStringLiteral("filesink")
         << QStringLiteral("location=") + out;
    const Ran r = Run(program, args, dir_);
    const QByteArray bytes = Read_File(out);
    if (r.exit_code != 0 || bytes.size() < 1024) return Fail(why, QStringLiteral("GStreamer: ") + r.output.trimmed());
    return bytes;
  }

 private:
  static std::optional<QByteArray> Fail(QString* why, const QString& reason) {
    if (why) *why = reason;
    return std::nullopt;
  }
  QString Scratch(const QString& stem) { return dir_ + QStringLiteral("/%1-%2").arg(stem).arg(++n_); }
  QString dir_;
  int n_ = 0;
};

// ------------------------------------------------------------ the stick

enum class State { Intact, Overwritten, Fragmented };
const char* State_Text(State s) {
  return s == State::Intact ? "intact" : s == State::Overwritten ? "overwritten" : "fragmented";
}

struct Original {
  QString name;
  QString type;  // catalogue key; empty for files no catalogue knows (fillers)
  QString mode;  // photo, raw or video: the scan that should find it
  QByteArray bytes;
  QByteArray sha;
  std::vector<std::uint32_t> chain;  // its clusters while it was on the stick
  bool copied = false;
  bool deleted = false;
  State state = State::Intact;
  quint64 first_sector = 0;
};

class Stick {
 public:
  explicit Stick(QString path) : path_(std::move(path)) {}

  void Add(const QString& name, const QString& type, const QString& mode, const QByteArray& bytes) {
    if (bytes.isEmpty()) {
      Skip(name, QStringLiteral("its maker gave no bytes"));
      return;
    }
    files_.push_back({name, type, mode, bytes, Sha256_Hex(bytes), {}, false, false, State::Intact, 0});
  }
  void Skip(const QString& name, const QString& why) { skipped_ << name + QStringLiteral(": ") + why; }

  bool Format() { return e2e::Format_Fat_Image(path_, kStickKib, kSectorsPerCluster, &error_); }

  bool Copy(const QString& name) {
    Original* f = Find(name);
    if (f == nullptr) return true;  // not made on this machine
    f->copied = true;
    return e2e::Copy_Into_Fat_Image(path_, f->name, f->bytes, &error_);
  }

  // Records the files' clusters from the FAT first: deleting frees them.
  bool Delete(const QStringList& names) {
    QStringList present;
    for (const QString& n : names) {
      const Original* f = Find(n);
      if (f != nullptr && f->copied && !f->deleted) present << n;
    }
    if (!Record_Chains(present)) return false;
    for (const QString& n : present) Find(n)->deleted = true;
    return e2e::Delete_From_Fat_Image(path_, present, &error_);
  }

  // The next copy starts at this fraction of a deleted file's clusters.
  bool Cursor_In(const QString& name, double fraction) {
    const Original* f = Find(name);
    if (f == nullptr || f->chain.empty()) return true;
    const auto at = static_cast<std::size_t>(fraction * static_cast<double>(f->chain.size() - 1));
    return e2e::Allocate_From_Cluster(path_, f->chain[at], &error_);
  }

  // Clusters of the files still there, then each file's state from the final image.
  bool Finish() {
    QStringList live;
    for (const Original& f : files_)
      if (f.copied && !f.deleted) live << f.name;
    if (!Record_Chains(live)) return false;
    const QByteArray image = Read_File(path_);
    const qsizetype cluster = static_cast<qsizetype>(layout_.sectors_per_cluster * kSectorBytes);
    std::vector<Original> kept;
    for (Original& f : files_) {
      if (!f.copied) continue;
      if (f.chain.empty()) {
        error_ = f.name + QStringLiteral(": no cluster chain");
        return false;
      }
      f.first_sector = layout_.Cluster_Sector(f.chain.front());
      QByteArray now;
      for (const std::uint32_t c : f.chain)
        now += image.mid(static_cast<qsizetype>(layout_.Cluster_Sector(c) * kSectorBytes), cluster);
      now.truncate(f.bytes.size());
      bool contiguous = true;
      for (std::size_t i = 1; i < f.chain.size(); ++i) contiguous = contiguous && f.chain[i] == f.chain[i - 1] + 1;
      f.state = now != f.bytes ? State::Overwritten : contiguous ? State::Intact : State::Fragmented;
      kept.push_back(std::move(f));
    }
    files_ = std::move(kept);
    return true;
  }

  const QString& Error() const { return error_; }
  const QString& Path() const { return path_; }
  const QStringList& Skipped() const { return skipped_; }
  const std::vector<Original>& Files() const { return files_; }
  const e2e::FatLayout& Layout() const { return layout_; }

 private:
  Original* Find(const QString& name) {
    const auto it = std::find_if(files_.begin(), files_.end(), [&](const Original& f) { return f.name == name; });
    return it == files_.end() ? nullptr : &*it;
  }

  bool Record_Chains(const QStringList& names) {
    const QByteArray image = Read_File(path_);
    const auto layout = e2e::Read_Fat_Layout(image, &error_);
    if (!layout) return false;
    layout_ = *layout;
    const std::vector<e2e::DirEntry> folder = e2e::Read_Root_Folder(image, layout_);
    for (const QString& n : names) {
      const auto entry = std::find_if(folder.begin(), folder.end(),
                                      [&](const e2e::DirEntry& d) { return !d.deleted && d.name == n; });
      if (entry == folder.end()) {
        error_ = n + QStringLiteral(" is not in the root folder");
        return false;
      }
      Find(n)->chain = e2e::Cluster_Chain(image, layout_, entry->start_cluster);
    }
    return true;
  }

  QString path_;
  QString error_;
  QStringList skipped_;
  std::vector<Original> files_;
  e2e::FatLayout layout_;
};

void Make_Files(Stick& stick, Toolbox& tools) {
  const QString photo = QStringLiteral("photo"), raw = QStringLiteral("raw"), video = QStringLiteral("video");
  auto add = [&](const char* name, const char* type, const QString& mode, const QByteArray& bytes) {
    stick.Add(QString::fromLatin1(name), QString::fromLatin1(type), mode, bytes);
  };
  auto add_made = [&](const char* name, const char* type, const QString& mode, const std::optional<QByteArray>& bytes,
                      const QString& why) {
    if (bytes) add(name, type, mode, *bytes);
    else stick.Skip(QString::fromLatin1(name), why);
  };
  QString why;

  // Camera pictures and pictures from elsewhere.
  add("IMG_0001.JPG", "JPG", photo, Jpeg_With_Thumbnail(Photo(2048, 1536, 1), 90));
  add("IMG_0002.JPG", "JPG", photo, Jpeg(Photo(1600, 1200, 2), 85, true));
  add("IMG_0003.JPG", "JPG", photo, Jpeg(Photo(1280, 960, 3), 88));
  add("IMG_0004.JPG", "JPG", photo, Jpeg(Photo(640, 480, 4), 75));
  add("IMG_0005.JPG", "JPG", photo, Jpeg_With_Thumbnail(Photo(2048, 1536, 5), 90));
  add("IMG_0006.JPG", "JPG", photo, Jpeg(Photo(1024, 768, 6), 85));
  add("IMG_0007.JPG", "JPG", photo, Jpeg(Photo(800, 600, 7), 90));
  add("IMG_0008.JPG", "JPG", photo, Jpeg_With_Thumbnail(Photo(1600, 1200, 8), 88));
  add("IMG_0009.JPG", "JPG", photo, Jpeg(Photo(640, 480, 9), 80, true));
  add("IMG_0010.JPG", "JPG", photo, Jpeg(Photo(320, 240, 10), 80));
  add("SCREEN01.PNG", "PNG", photo, samples::Encode(Photo(1280, 720, 11, 1), "png"));
  add("PHOTO01.PNG", "PNG", photo, samples::Encode(Photo(800, 600, 12), "png"));
  add("MAP.PNG", "PNG", photo, samples::Encode(Photo(640, 480, 13, 3), "png"));
  QImage logo(96, 96, QImage::Format_ARGB32);
  logo.fill(Qt::transparent);
  {
    QPainter p(&logo);
    p.setBrush(QColor(30, 120, 200));
    p.drawEllipse(8, 8, 80, 80);
  }
  add("LOGO.PNG", "PNG", photo, samples::Encode(logo, "png"));
  add("SCAN03.PNG", "PNG", photo, samples::Encode(Photo(600, 800, 14, 2), "png"));
  add("WAVE.GIF", "GIF", photo, samples::Make_Gif(320, 240));
  add("SMALL.GIF", "GIF", photo, samples::Make_Gif(48, 48));
  add("SCAN01.BMP", "BMP", photo, samples::Encode(Photo(640, 480, 15), "bmp"));
  add("ICONS.BMP", "BMP", photo,
      samples::Encode(Photo(320, 240, 16, 0).convertToFormat(QImage::Format_Indexed8), "bmp"));
  const QByteArray tif = samples::Encode(Photo(800, 600, 17, 2), "tiff", -1, &why);
  if (tif.isEmpty()) stick.Skip(QStringLiteral("SCAN02.TIF"), QStringLiteral("Qt cannot write TIFF: ") + why);
  else add("SCAN02.TIF", "TIF", photo, tif);
  const QByteArray webp = samples::Encode(Photo(800, 600, 18), "webp", 80, &why);
  if (webp.isEmpty()) stick.Skip(QStringLiteral("PHOTO02.WEBP"), QStringLiteral("Qt cannot write WebP: ") + why);
  else add("PHOTO02.WEBP", "WEBP", photo, webp);
  add("FAVICON.ICO", "ICO", photo, samples::Encode(Photo(32, 32, 19, 0), "ico"));

  // Documents, archives and sound.
  QString body;
  for (int i = 0; i < 12; ++i) body += QStringLiteral("Line %1 of the holiday notes.\n").arg(i + 1);
  const QByteArray notes = samples::Make_Pdf(QStringLiteral("Holiday notes"), body);
  add("NOTES.PDF", "PDF", raw, notes);
  add("REPORT.PDF", "PDF", raw, Photo_Pdf(3, 20));
  add("SUMMARY.PDF", "PDF", raw, Photo_Pdf(2, 24));
  const QByteArray revised = Updated_Pdf(samples::Make_Pdf(QStringLiteral("Holiday notes"), body + body));
  if (revised.isEmpty()) stick.Skip(QStringLiteral("REVISED.PDF"), QStringLiteral("no trailer to update"));
  else add("REVISED.PDF", "PDF", raw, revised);
  add("MINUTES.DOCX", "DOCX", raw, samples::Make_Docx(60));
  const QByteArray content_types =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<Types xmlns=\"http://schemas.openxmlformats.org/"
      "package/2006/content-types\"><Default Extension=\"rels\" ContentType=\"application/"
      "vnd.openxmlformats-package.relationships+xml\"/><Default Extension=\"xml\" ContentType=\"application/xml\"/>"
      "<Override PartName=\"/word/document.xml\" ContentType=\"application/"
      "vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/></Types>";
  const QByteArray rels =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<Relationships xmlns=\"http://"
      "schemas.openxmlformats.org/package/2006/relationships\"><Relationship Id=\"rId1\" Type=\"http://"
      "schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" Target=\"word/document.xml\"/>"
      "</Relationships>";
  QByteArray document = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<w:document xmlns:w=\"http://"
                        "schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:body>";
  for (int i = 0; i < 400; ++i) document += "<w:p><w:r><w:t>" + Text_Lines(120, 100 + i, "Dear") + "</w:t></w:r></w:p>";
  document += "</w:body></w:document>";
  const QStringList zip_flags = {QStringLiteral("-q"), QStringLiteral("-X"), QStringLiteral("-9"),
                                 QStringLiteral("-nw")};  // -nw: "[Content_Types].xml" is a name, not a pattern
  add_made("LETTER.DOCX", "DOCX", raw,
           tools.Archive("zip", zip_flags,
                         {{QStringLiteral("[Content_Types].xml"), content_types},
                          {QStringLiteral("_rels/.rels"), rels},
                          {QStringLiteral("word/document.xml"), document}},
                         &why),
           why);
  add_made("LISTS.ZIP", "ZIP", raw,
           tools.Archive("zip", zip_flags,
                         {{QStringLiteral("packing.txt"), Text_Lines(60000, 30, "Item")},
                          {QStringLiteral("sensors.csv"), Sensor_Csv(8000, 31)}},
                         &why),
           why);
  add_made("DOCS.ZIP", "ZIP", raw,
           tools.Archive("zip", zip_flags,
                         {{QStringLiteral("notes.pdf"), notes},
                          {QStringLiteral("diary.txt"), Text_Lines(90000, 36, "Day")},
                          {QStringLiteral("track.gpx"), Gpx(500)}},
                         &why),
           why);
  add_made("ALBUM.ZIP", "ZIP", raw,
           tools.Archive("zip", zip_flags,
                         {{QStringLiteral("readme.txt"), Text_Lines(2000, 32, "Album")},
                          {QStringLiteral("a.jpg"), Jpeg(Photo(800, 600, 33), 85)},
                          {QStringLiteral("b.jpg"), Jpeg(Photo(800, 600, 34), 85)},
                          {QStringLiteral("c.png"), samples::Encode(Photo(300, 200, 35), "png")}},
                         &why),
           why);
  add("BIRDS.WAV", "WAV", raw, samples::Make_Wav(20000, 44100));
  add("BELL.WAV", "WAV", raw, samples::Make_Wav(1500, 8000));
  const QStringList to_stdout = {QStringLiteral("-9"), QStringLiteral("-c")};
  add_made("SENSORS.GZ", "GZ", raw,
           tools.Filter("gzip", {QStringLiteral("-9"), QStringLiteral("-n"), QStringLiteral("-c")},
                        Sensor_Csv(60000, 40), &why),
           why);
  add_made("SENSORS.BZ2", "BZ2", raw, tools.Filter("bzip2", to_stdout, Sensor_Csv(50000, 41), &why), why);
  add_made("SENSORS.XZ", "XZ", raw, tools.Filter("xz", to_stdout, Sensor_Csv(70000, 42), &why), why);
  add_made("BACKUP.TAR", "TAR", raw,
           tools.Archive("tar", {QStringLiteral("--format=ustar"), QStringLiteral("-cf")},
                         {{QStringLiteral("diary.txt"), Text_Lines(30000, 43, "Day")},
                          {QStringLiteral("map.png"), samples::Encode(Photo(200, 150, 44), "png")}},
                         &why),
           why);
  const QString tone = QStringLiteral("audiotestsrc num-buffers=400 wave=sine freq=523 ! audioconvert ! ");
  add_made("SONG.MP3", "MP3", raw, tools.Gst(tone + QStringLiteral("lamemp3enc ! id3v2mux"), &why), why);
  add_made("SONG.FLAC", "FLAC", raw, tools.Gst(tone + QStringLiteral("flacenc"), &why), why);
  add_made("SONG.OGG", "OGG", raw, tools.Gst(tone + QStringLiteral("vorbisenc ! oggmux"), &why), why);
  add("LETTER.RTF", "RTF", raw, Rtf(40));
  add("ALBUM.HTM", "HTML", raw, Html(120));
  add("TRACK.GPX", "XML", raw, Gpx(3000));

  // Clips from a camera or a phone.
  const QString test_video =
      QStringLiteral("videotestsrc num-buffers=%1 pattern=%2 ! video/x-raw,width=%3,height=%4 ! ");
  add_made("CLIP0001.MOV", "MOV", video,
           tools.Gst(test_video.arg(60).arg(0).arg(320).arg(240) + QStringLiteral("jpegenc ! qtmux"), &why), why);
  add_made("CLIP0002.MP4", "MP4", video,
           tools.Gst(test_video.arg(90).arg(18).arg(320).arg(240) + QStringLiteral("avenc_mpeg4 ! mp4mux"), &why), why);
  add_made("CLIP0003.AVI", "AVI", video,
           tools.Gst(test_video.arg(60).arg(1).arg(320).arg(240) + QStringLiteral("jpegenc ! avimux"), &why), why);
  add_made("CLIP0004.WEBM", "WEBM", video,
           tools.Gst(test_video.arg(60).arg(18).arg(320).arg(240) + QStringLiteral("vp8enc ! webmmux"), &why), why);
  add_made("CLIP0005.MOV", "MOV", video,
           tools.Gst(test_video.arg(120).arg(0).arg(640).arg(480) + QStringLiteral("jpegenc ! qtmux"), &why), why);

  // Files no catalogue knows: what fills the holes.
  add("TEMP1.TXT", "", raw, Text_Lines(40 * 1024, 50, "Draft"));
  add("CACHE.DAT", "", raw, Random_Bytes(100 * 1024, 51));
  add("THUMBS.DB", "", raw, Random_Bytes(64 * 1024, 52));
  add("WRL0001.TMP", "", raw, Random_Bytes(20 * 1024, 53));
  add("NEWS.TXT", "", raw, Text_Lines(30 * 1024, 54, "News"));
  add("TODO.TXT", "", raw, Text_Lines(6 * 1024, 55, "Todo"));
  add("CHAT.TXT", "", raw, Text_Lines(12 * 1024, 56, "Chat"));
  add("MEMO.TXT", "", raw, Text_Lines(3 * 1024, 57, "Memo"));
}

// The stick's history. What each file ends up as (intact, overwritten,
// fragmented) is read from the final image, not assumed from this script.
bool Build_Stick(Stick& s) {
  auto copy = [&](const QStringList& names) {
    for (const QString& n : names)
      if (!s.Copy(n)) return false;
    return true;
  };
  // Fragmented: A, B, C in a row; B deleted; D fills B's hole and goes on after C.
  auto fragment = [&](const QString& b, const QString& c, const QString& d) {
    return copy({b, c}) && s.Delete({b}) && s.Cursor_In(b, 0.0) && copy({d});
  };
  // Overwritten: X deleted; Y copied into X's clusters from `fraction` on.
  auto overwrite = [&](const QString& x, double fraction, const QString& y) {
    return s.Delete({x}) && s.Cursor_In(x, fraction) && copy({y});
  };
  const QStringList first = {
      "IMG_0001.JPG", "IMG_0002.JPG", "IMG_0003.JPG", "SCREEN01.PNG", "IMG_0004.JPG", "IMG_0005.JPG", "LOGO.PNG",
      "NOTES.PDF", "MINUTES.DOCX", "LETTER.DOCX", "IMG_0006.JPG", "WAVE.GIF", "MAP.PNG", "SCAN01.BMP", "ICONS.BMP",
      "SCAN02.TIF", "PHOTO01.PNG", "PHOTO02.WEBP", "FAVICON.ICO", "CLIP0001.MOV", "CLIP0002.MP4", "REPORT.PDF",
      "REVISED.PDF", "LISTS.ZIP", "DOCS.ZIP", "BIRDS.WAV", "SENSORS.GZ", "SENSORS.BZ2", "SENSORS.XZ", "BACKUP.TAR",
      "SONG.MP3", "SONG.FLAC", "SONG.OGG", "LETTER.RTF", "ALBUM.HTM", "TRACK.GPX", "CLIP0003.AVI", "CLIP0004.WEBM",
      "IMG_0007.JPG"};
  if (!s.Format() || !copy(first)) return false;
  if (!fragment("TEMP1.TXT", "SCAN03.PNG", "IMG_0008.JPG") || !fragment("CACHE.DAT", "BELL.WAV", "SUMMARY.PDF") ||
      !fragment("THUMBS.DB", "SMALL.GIF", "CLIP0005.MOV") || !fragment("WRL0001.TMP", "CHAT.TXT", "ALBUM.ZIP"))
    return false;
  if (!overwrite("IMG_0005.JPG", 0.5, "NEWS.TXT") || !overwrite("MAP.PNG", 0.6, "TODO.TXT") ||
      !overwrite("BIRDS.WAV", 0.4, "IMG_0009.JPG") || !overwrite("IMG_0006.JPG", 0.0, "IMG_0010.JPG") ||
      !overwrite("LISTS.ZIP", 0.7, "MEMO.TXT"))
    return false;
  // The owner then deletes nearly everything; a few files stay.
  const QStringList stay = {"NEWS.TXT", "TODO.TXT", "MEMO.TXT", "CHAT.TXT", "LETTER.DOCX", "NOTES.PDF", "IMG_0010.JPG"};
  QStringList gone;
  for (const Original& f : s.Files())
    if (f.copied && !f.deleted && !stay.contains(f.name)) gone << f.name;
  return s.Delete(gone) && s.Finish();
}

// ------------------------------------------------------------ what the tools wrote

struct ReportRow {
  QString name, type, end, sha256, note;
  quint64 start_sector = 0, end_sector = 0, bytes_written = 0;
};

struct Recovered {
  QString path;
  QString shown;  // as printed: run and file name
  qint64 size = 0;
  QByteArray head;  // first kHead bytes
  QByteArray sha;
};

struct ToolRun {
  QString label;  // "tamberlin photo"
  QString tool;   // "Tamberlin" or "PhotoRec"
  QString command;
  QString note;   // why it did not run, or how it ended
  double seconds = 0;
  bool ran = false;
  std::vector<Recovered> files;
  std::vector<ReportRow> rows;
  int report_problems = 0;  // rows whose file is missing or differs from the row
  int shared_start = 0;     // rows starting at the same sector as another row
};

QStringList Csv_Fields(const QString& line) {
  QStringList out;
  QString field;
  bool quoted = false;
  for (qsizetype i = 0; i < line.size(); ++i) {
    const QChar c = line[i];
    if (quoted) {
      if (c == QLatin1Char('"') && i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) field += line[++i];
      else if (c == QLatin1Char('"')) quoted = false;
      else field += c;
    } else if (c == QLatin1Char('"')) {
      quoted = true;
    } else if (c == QLatin1Char(',')) {
      out << field;
      field.clear();
    } else {
      field += c;
    }
  }
  out << field;
  return out;
}

std::vector<Recovered> Files_Under(const QString& dir, const QString& label, const QStringList& skip) {
  std::vector<Recovered> out;
  QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    if (skip.contains(it.fileName())) continue;
    Recovered r;
    r.path = path;
    r.shown = label + QLatin1Char(' ') + QDir(dir).relativeFilePath(path);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) continue;
    r.size = f.size();
    r.head = f.read(kHead);
    r.sha = File_Sha256_Hex(path);
    out.push_back(std::move(r));
  }
  std::sort(out.begin(), out.end(), [](const Recovered& a, const Recovered& b) { return a.path < b.path; });
  return out;
}

void Clear(const QString& dir) {
  QDir(dir).removeRecursively();
  QDir().mkpath(dir);
}

ToolRun Run_Tamberlin(const QString& cli, const QString& mode, const QString& work, const QString& image) {
  ToolRun t;
  t.label = QStringLiteral("tamberlin ") + mode;
  t.tool = QStringLiteral("Tamberlin");
  const QString dir = work + QStringLiteral("/tamberlin-") + mode;
  Clear(dir);
  const QStringList args = {QStringLiteral("scan"), QStringLiteral("--mode"), mode, QStringLiteral("--quiet"),
                            QStringLiteral("--recover"), dir, image};
  t.command = QStringLiteral("tamberlin-cli ") + args.join(QLatin1Char(' '));
  const Ran r = Run(cli, args, work, {}, dir + QStringLiteral(".csv"), dir + QStringLiteral(".log"), kToolTimeoutMs);
  t.seconds = r.seconds;
  if (!r.started) {
    t.note = QStringLiteral("could not be started");
    return t;
  }
  t.ran = true;
  t.note = QStringLiteral("exit %1").arg(r.exit_code);
  if (r.exit_code != 0)
    t.note +=
        QStringLiteral(": ") + QString::fromLocal8Bit(Read_File(dir + QStringLiteral(".log"))).trimmed().right(300);
  const QString report = dir + QStringLiteral("/recovery-report.csv");
  const QStringList lines = QString::fromUtf8(Read_File(report)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  if (lines.isEmpty()) t.note += QStringLiteral(", no recovery-report.csv");
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const QStringList f = Csv_Fields(lines[i]);
    if (f.size() < 8) {
      ++t.report_problems;
      continue;
    }
    ReportRow row{f[0], f[1], f[5], f[6], f.mid(7).join(QLatin1Char(',')), f[2].toULongLong(), f[3].toULongLong(),
                  f[4].toULongLong()};
    t.rows.push_back(row);
  }
  std::map<quint64, int> starts;
  for (const ReportRow& row : t.rows) ++starts[row.start_sector];
  for (const auto& [sector, n] : starts) t.shared_start += n > 1 ? n : 0;
  t.files = Files_Under(dir, t.label, {QStringLiteral("recovery-report.csv")});
  // The report must describe what is in the folder.
  std::map<QString, const Recovered*> by_name;
  for (const Recovered& r2 : t.files) by_name[QFileInfo(r2.path).fileName()] = &r2;
  for (const ReportRow& row : t.rows) {
    if (row.name.isEmpty() || row.end == QLatin1String("not written")) continue;
    if (row.end == QLatin1String("duplicate")) {  // not written again: another file holds its bytes
      const bool held = std::any_of(t.files.begin(), t.files.end(),
                                    [&](const Recovered& r2) { return r2.sha == row.sha256.toLatin1(); });
      if (!held) ++t.report_problems;
      continue;
    }
    const auto it = by_name.find(row.name);
    if (it == by_name.end() || static_cast<quint64>(it->second->size) != row.bytes_written ||
        it->second->sha != row.sha256.toLatin1())
      ++t.report_problems;
  }
  return t;
}

ToolRun Run_Photorec(const QString& work, const QString& image) {
  ToolRun t;
  t.label = QStringLiteral("photorec");
  t.tool = QStringLiteral("PhotoRec");
  const QString program = QStandardPaths::findExecutable(QStringLiteral("photorec"));
  if (program.isEmpty()) {
    t.note = QStringLiteral("skipped: photorec is not installed (Debian package testdisk)");
    return t;
  }
  const QString dir = work + QStringLiteral("/photorec"), logs = work + QStringLiteral("/photorec-log");
  Clear(dir);
  Clear(logs);
  // Whole space: Tamberlin ignores the file system too.
  const QStringList args = {QStringLiteral("/log"), QStringLiteral("/d"), dir + QStringLiteral("/recup"),
                            QStringLiteral("/cmd"), image, QStringLiteral("wholespace,search")};
  t.command = QStringLiteral("photorec ") + args.join(QLatin1Char(' '));
  const Ran r = Run(program, args, logs, {}, logs + QStringLiteral("/stdout"), logs + QStringLiteral("/stderr"),
                    kToolTimeoutMs);
  t.seconds = r.seconds;
  t.ran = r.started;
  t.note = r.started ? QStringLiteral("exit %1").arg(r.exit_code) : QStringLiteral("could not be started");
  t.files = Files_Under(dir, t.label, {QStringLiteral("report.xml")});
  return t;
}

// ------------------------------------------------------------ matching

enum class Got { Exact, Longer, Partial, Missed };

struct Match {
  Got got = Got::Missed;
  qint64 extra = 0;   // bytes after the original's end (Longer)
  qint64 right = 0;   // leading bytes equal to the original's (Partial)
  const Recovered* file = nullptr;
};

bool Same_Start(const Original& o, const Recovered& r) {
  const qsizetype n = std::min({kHead, o.bytes.size(), static_cast<qsizetype>(r.size)});
  return n > 0 && n >= std::min<qsizetype>(512, o.bytes.size()) && r.head.left(n) == o.bytes.left(n);
}

qint64 Common_Prefix(const QByteArray& a, const QByteArray& b) {
  const qsizetype n = std::min(a.size(), b.size());
  qsizetype i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

Match Best_Match(const Original& o, const std::vector<const ToolRun*>& runs) {
  Match best;
  for (const ToolRun* t : runs) {
    for (const Recovered& r : t->files) {
      if (r.sha == o.sha) return {Got::Exact, 0, o.bytes.size(), &r};
      if (!Same_Start(o, r)) continue;
      const qint64 right = Common_Prefix(Read_File(r.path, o.bytes.size()), o.bytes);
      Match m;
      m.file = &r;
      if (right == o.bytes.size()) {
        m.got = Got::Longer;
        m.extra = r.size - o.bytes.size();
      } else {
        m.got = Got::Partial;
        m.right = right;
      }
      const bool better = m.got < best.got || (m.got == best.got && m.got == Got::Longer && m.extra < best.extra) ||
                          (m.got == best.got && m.got == Got::Partial && m.right > best.right);
      if (better) best = m;
    }
  }
  return best;
}

enum class Kind { Exact, Longer, Partial, Embedded, Unmatched };

// What a recovered file is, seen from the originals.
Kind Classify(const Recovered& r, const std::vector<Original>& originals) {
  for (const Original& o : originals)
    if (r.sha == o.sha) return Kind::Exact;
  Kind best = Kind::Unmatched;
  for (const Original& o : originals) {
    if (!Same_Start(o, r)) continue;
    if (r.size > o.bytes.size() && Read_File(r.path, o.bytes.size()) == o.bytes) return Kind::Longer;
    best = Kind::Partial;
  }
  if (best != Kind::Unmatched || r.head.size() < 16) return best;
  // A picture inside a document, a frame inside a clip, a thumbnail inside a photo.
  const std::boyer_moore_horspool_searcher search(r.head.begin(), r.head.end());
  for (const Original& o : originals) {
    if (o.bytes.size() <= r.head.size()) continue;
    if (std::search(o.bytes.begin() + 1, o.bytes.end(), search) != o.bytes.end()) return Kind::Embedded;
  }
  return Kind::Unmatched;
}

// ------------------------------------------------------------ printing

struct Tally {
  int n = 0;
  int got[4] = {0, 0, 0, 0};
};

QString Cells(const Tally& t) {
  return QStringLiteral("%1 %2 %3 %4")
      .arg(t.got[0], 5)
      .arg(t.got[1], 6)
      .arg(t.got[2], 7)
      .arg(t.got[3], 6);
}

void Print_Table(const QString& title, const std::vector<Original>& originals, const std::vector<bool>& in_table,
                 const std::vector<QString>& tools, const std::vector<std::vector<Match>>& matches) {
  Say(QString());
  Say(title);
  QString header = QStringLiteral("%1 %2").arg(QStringLiteral("type"), -6).arg(QStringLiteral("n"), 3);
  QString under = QStringLiteral("%1").arg(QString(), 10);
  for (const QString& t : tools) {
    header += QStringLiteral(" | %1").arg(t, -27);
    under += QStringLiteral(" | exact longer partial missed");
  }
  Say(header);
  Say(under);
  std::vector<QString> order;
  for (std::size_t i = 0; i < originals.size(); ++i)
    if (in_table[i] && std::find(order.begin(), order.end(), originals[i].type) == order.end())
      order.push_back(originals[i].type);
  std::vector<Tally> total(tools.size());
  for (const QString& type : order) {
    std::vector<Tally> row(tools.size());
    for (std::size_t i = 0; i < originals.size(); ++i) {
      if (!in_table[i] || originals[i].type != type) continue;
      for (std::size_t k = 0; k < tools.size(); ++k) {
        const int g = static_cast<int>(matches[k][i].got);
        ++row[k].n;
        ++row[k].got[g];
        ++total[k].n;
        ++total[k].got[g];
      }
    }
    QString line = QStringLiteral("%1 %2").arg(type, -6).arg(row.empty() ? 0 : row[0].n, 3);
    for (const Tally& t : row) line += QStringLiteral(" | ") + Cells(t);
    Say(line);
  }
  QString line = QStringLiteral("%1 %2").arg(QStringLiteral("total"), -6).arg(total.empty() ? 0 : total[0].n, 3);
  for (const Tally& t : total) line += QStringLiteral(" | ") + Cells(t);
  Say(line);
}

QString Describe(const Match& m, qint64 size) {
  switch (m.got) {
    case Got::Exact: return QStringLiteral("exact");
    case Got::Longer: return QStringLiteral("longer by %1 B").arg(m.extra);
    case Got::Partial: return QStringLiteral("partial, first %1 of %2 B right").arg(m.right).arg(size);
    case Got::Missed: return QStringLiteral("missed");
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QString keep;
  bool photorec = true;
  for (int i = 1; i < argc; ++i) {
    const QString a = QString::fromLocal8Bit(argv[i]);
    if (a == QLatin1String("--keep") && i + 1 < argc) {
      keep = QString::fromLocal8Bit(argv[++i]);
    } else if (a == QLatin1String("--no-photorec")) {
      photorec = false;
    } else {
      std::fprintf(stderr, "usage: recovery_quality [--keep DIR] [--no-photorec]\n");
      return 2;
    }
  }
  QTemporaryDir temp;
  const QString work = keep.isEmpty() ? temp.path() : QDir(keep).absolutePath();
  if (!keep.isEmpty() && !QDir().mkpath(work)) {
    std::fprintf(stderr, "cannot make %s\n", qPrintable(work));
    return 2;
  }

  // ---- the stick
  QElapsedTimer clock;
  clock.start();
  Stick stick(work + QStringLiteral("/stick.img"));
  Toolbox tools(work + QStringLiteral("/scratch"));
  Make_Files(stick, tools);
  QDir(work + QStringLiteral("/scratch")).removeRecursively();
  if (!Build_Stick(stick)) {
    std::fprintf(stderr, "cannot build the stick: %s\n", qPrintable(stick.Error()));
    return 1;
  }
  const std::vector<Original>& originals = stick.Files();
  Clear(work + QStringLiteral("/originals"));
  QString manifest = QStringLiteral("name,type,bytes,state,deleted,first_sector,sha256\n");
  int counts[3] = {0, 0, 0}, deleted = 0;
  for (const Original& o : originals) {
    Write_File(work + QStringLiteral("/originals/") + o.name, o.bytes);
    manifest += QStringLiteral("%1,%2,%3,%4,%5,%6,%7\n")
                    .arg(o.name, o.type)
                    .arg(o.bytes.size())
                    .arg(QString::fromLatin1(State_Text(o.state)))
                    .arg(o.deleted ? 1 : 0)
                    .arg(o.first_sector)
                    .arg(QString::fromLatin1(o.sha));
    if (!o.type.isEmpty()) ++counts[static_cast<int>(o.state)];
    deleted += o.deleted ? 1 : 0;
  }
  Write_File(work + QStringLiteral("/originals.csv"), manifest.toUtf8());
  const QByteArray image_sha = File_Sha256_Hex(stick.Path());
  Say(QStringLiteral("Stick: %1 (%2 MiB FAT32, %3-byte clusters), built in %4 s")
          .arg(stick.Path())
          .arg(kStickKib / 1024)
          .arg(stick.Layout().sectors_per_cluster * kSectorBytes)
          .arg(static_cast<double>(clock.elapsed()) / 1000.0, 0, 'f', 1));
  Say(QStringLiteral("  %1 files (%2 deleted); of a known type: %3 intact and contiguous, %4 overwritten, "
                     "%5 fragmented")
          .arg(originals.size())
          .arg(deleted)
          .arg(counts[0])
          .arg(counts[1])
          .arg(counts[2]));
  for (const QString& s : stick.Skipped()) Say(QStringLiteral("  not made: ") + s);

  // ---- the tools
  std::vector<ToolRun> runs;
  const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/tamberlin-cli");
  const Ran help = Run(cli, {QStringLiteral("scan"), QStringLiteral("--help")});
  const bool cli_ready = help.started && help.output.contains(QLatin1String("--recover"));
  if (cli_ready) {
    for (const char* mode : {"photo", "raw", "video"})
      runs.push_back(Run_Tamberlin(cli, QString::fromLatin1(mode), work, stick.Path()));
  }
  ToolRun pr;
  if (photorec) pr = Run_Photorec(work, stick.Path());
  else pr.note = QStringLiteral("skipped: --no-photorec");
  pr.label = QStringLiteral("photorec");
  runs.push_back(pr);

  Say(QString());
  Say(QStringLiteral("Commands (in %1)").arg(work));
  if (!cli_ready) Say(QStringLiteral("  tamberlin-cli: skipped, %1 has no scan --recover").arg(cli));
  for (const ToolRun& t : runs) {
    if (t.command.isEmpty()) {
      Say(QStringLiteral("  %1: %2").arg(t.label, t.note));
      continue;
    }
    Say(QStringLiteral("  $ %1").arg(t.command));
    Say(QStringLiteral("    %1 s, %2, %3 files%4")
            .arg(t.seconds, 0, 'f', 2)
            .arg(t.note)
            .arg(t.files.size())
            .arg(t.tool == QLatin1String("Tamberlin")
                     ? QStringLiteral(", %1 report rows (%2 sharing a start sector), %3 not matching the files")
                           .arg(t.rows.size())
                           .arg(t.shared_start)
                           .arg(t.report_problems)
                     : QString()));
  }
  if (File_Sha256_Hex(stick.Path()) != image_sha) Say(QStringLiteral("  THE IMAGE CHANGED DURING THE RUNS"));

  // ---- per original, per tool
  std::vector<QString> tool_names;
  std::vector<std::vector<const ToolRun*>> tool_runs;
  for (const ToolRun& t : runs) {
    if (!t.ran) continue;
    const auto it = std::find(tool_names.begin(), tool_names.end(), t.tool);
    if (it == tool_names.end()) {
      tool_names.push_back(t.tool);
      tool_runs.push_back({&t});
    } else {
      tool_runs[static_cast<std::size_t>(it - tool_names.begin())].push_back(&t);
    }
  }
  std::vector<std::vector<Match>> matches(tool_names.size());
  for (std::size_t k = 0; k < tool_names.size(); ++k)
    for (const Original& o : originals) matches[k].push_back(Best_Match(o, tool_runs[k]));

  std::vector<bool> intact(originals.size()), damaged(originals.size());
  for (std::size_t i = 0; i < originals.size(); ++i) {
    intact[i] = !originals[i].type.isEmpty() && originals[i].state == State::Intact;
    damaged[i] = !originals[i].type.isEmpty() && originals[i].state != State::Intact;
  }
  if (tool_names.empty()) Say(QStringLiteral("\nNo tool ran: nothing to measure."));
  Print_Table(QStringLiteral("Intact, contiguous files (the target: every one exact)"), originals, intact, tool_names,
              matches);
  Print_Table(QStringLiteral("Overwritten or fragmented files"), originals, damaged, tool_names, matches);

  Say(QString());
  Say(QStringLiteral("Recovered files by what they match"));
  Say(QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
          .arg(QStringLiteral("run"), -16)
          .arg(QStringLiteral("files"), 6)
          .arg(QStringLiteral("exact"), 6)
          .arg(QStringLiteral("longer"), 7)
          .arg(QStringLiteral("partial"), 8)
          .arg(QStringLiteral("inside"), 7)
          .arg(QStringLiteral("noise"), 6));
  for (const ToolRun& t : runs) {
    if (!t.ran) continue;
    int kinds[5] = {0, 0, 0, 0, 0};
    for (const Recovered& r : t.files) ++kinds[static_cast<int>(Classify(r, originals))];
    Say(QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
            .arg(t.label, -16)
            .arg(t.files.size(), 6)
            .arg(kinds[0], 6)
            .arg(kinds[1], 7)
            .arg(kinds[2], 8)
            .arg(kinds[3], 7)
            .arg(kinds[4], 6));
  }
  Say(QStringLiteral("(inside: starts like bytes inside an original, e.g. a thumbnail or a clip's frame; "
                     "noise: matches nothing)"));

  // ---- the files not got back exactly, with what Tamberlin's report says
  Say(QString());
  Say(QStringLiteral("Files not recovered exactly"));
  for (std::size_t i = 0; i < originals.size(); ++i) {
    const Original& o = originals[i];
    if (o.type.isEmpty()) continue;
    bool all_exact = true;
    for (const auto& m : matches) all_exact = all_exact && m[i].got == Got::Exact;
    if (all_exact) continue;
    Say(QStringLiteral("  %1 %2 %3 B, %4%5, sector %6")
            .arg(o.name, -13)
            .arg(o.type, -4)
            .arg(o.bytes.size(), 8)
            .arg(QString::fromLatin1(State_Text(o.state)))
            .arg(o.deleted ? QString() : QStringLiteral(", not deleted"))
            .arg(o.first_sector));
    for (std::size_t k = 0; k < tool_names.size(); ++k) {
      QString line = QStringLiteral("      %1: %2").arg(tool_names[k], -9).arg(Describe(matches[k][i], o.bytes.size()));
      if (matches[k][i].file != nullptr && matches[k][i].got != Got::Exact)
        line += QStringLiteral(" (") + matches[k][i].file->shown + QLatin1Char(')');
      Say(line);
      if (tool_names[k] != QLatin1String("Tamberlin") || o.state != State::Intact) continue;
      for (const ToolRun* t : tool_runs[k])
        for (const ReportRow& row : t->rows)
          if (row.start_sector == o.first_sector)
            Say(QStringLiteral("        %1 report: %2 %3 end=%4 %5 B note=\"%6\"")
                    .arg(t->label.section(QLatin1Char(' '), 1), row.name, row.type, row.end)
                    .arg(row.bytes_written)
                    .arg(row.note));
    }
  }
  Say(QStringLiteral("\nOriginals, their states and the tools' output are in %1%2")
          .arg(work)
          .arg(keep.isEmpty() ? QStringLiteral(" (removed on exit; --keep DIR keeps them)") : QString()));
  return 0;
}
