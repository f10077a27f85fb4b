#include "fat_image.h"

#include "sample_files.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <map>

namespace tamberlin::e2e {
namespace {

using samples::Put16_Be;
using samples::Put32_Be;

std::uint32_t Get16(const QByteArray& b, qsizetype at) {
  return static_cast<std::uint8_t>(b[at]) | static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[at + 1])) << 8;
}
std::uint32_t Get32(const QByteArray& b, qsizetype at) { return Get16(b, at) | Get16(b, at + 2) << 16; }

struct RunResult {
  bool ok = false;
  QString output;
};

RunResult Run(const QString& program, const QStringList& args, int timeout_ms = 60000) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("MTOOLS_SKIP_CHECK"), QStringLiteral("1"));  // images have no disk geometry
  p.setProcessEnvironment(env);
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(program, args);
  if (!p.waitForStarted(10000)) return {false, program + QStringLiteral(" could not be started")};
  if (!p.waitForFinished(timeout_ms)) {
    p.kill();
    p.waitForFinished(2000);
    return {false, program + QStringLiteral(" did not finish in time")};
  }
  const QString out = QString::fromLocal8Bit(p.readAll());
  const bool ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
  return {ok, ok ? out : program + QLatin1Char(' ') + args.join(QLatin1Char(' ')) + QStringLiteral(": ") + out};
}

QString Tool(const char* name) {
  // mkfs.vfat lives in /usr/sbin, which a plain user's PATH may lack.
  QString found = QStandardPaths::findExecutable(QString::fromLatin1(name));
  if (found.isEmpty())
    found = QStandardPaths::findExecutable(QString::fromLatin1(name), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
  return found;
}

// ------------------------------------------------------------ file contents

QByteArray Make_Jpeg_With_Exif(int width, int height, int orientation) {
  const QByteArray jpeg = samples::Encode(samples::Test_Picture(width, height, 1), "jpeg", 90);
  // APP1 "Exif": a big-endian TIFF header and IFD0 with one entry,
  // Orientation (0x0112, SHORT), as cameras write it.
  QByteArray tiff("MM", 2);
  Put16_Be(tiff, 42);
  Put32_Be(tiff, 8);    // IFD0 right after the header
  Put16_Be(tiff, 1);    // one entry
  Put16_Be(tiff, 0x0112);
  Put16_Be(tiff, 3);    // SHORT
  Put32_Be(tiff, 1);    // one value
  Put16_Be(tiff, static_cast<std::uint32_t>(orientation));
  Put16_Be(tiff, 0);    // value padding
  Put32_Be(tiff, 0);    // no next IFD
  QByteArray app1("\xFF\xE1", 2);
  const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
  Put16_Be(app1, static_cast<std::uint32_t>(payload.size() + 2));
  app1 += payload;
  return jpeg.left(2) + app1 + jpeg.mid(2);  // right after SOI
}

QByteArray Make_Pdf() {
  QString body;
  for (int i = 0; i < 12; ++i) body += QStringLiteral("Line %1 of the holiday notes that were deleted.\n").arg(i + 1);
  return samples::Make_Pdf(QStringLiteral("Holiday notes"), body);
}

QByteArray Make_Zip() {
  QByteArray list;
  for (int i = 0; i < 200; ++i) list += "Item " + QByteArray::number(i) + ": camera battery, charger, cable\n";
  return samples::Make_Stored_Zip({{"readme.txt", "Packing lists for the trip.\n"}, {"packing.txt", list}});
}

// Plain text no catalogue knows.
QByteArray Make_Text() {
  QByteArray text;
  for (int i = 0; i < 30; ++i) text += "Shopping list, week " + QByteArray::number(i + 1) + ": bread, milk, apples.\n";
  return text;
}

// A short WebM from GStreamer (videotestsrc, vp8enc, webmmux), or nothing
// when gst-launch-1.0 or the plugins are missing; `why` then says which.
std::optional<QByteArray> Make_Webm(QString* why) {
  const QString gst = QStandardPaths::findExecutable(QStringLiteral("gst-launch-1.0"));
  if (gst.isEmpty()) {
    if (why) *why = QStringLiteral("gst-launch-1.0 is not installed (gstreamer1.0-tools)");
    return std::nullopt;
  }
  QTemporaryDir dir;
  const QString out = dir.filePath(QStringLiteral("clip.webm"));
  const RunResult r = Run(gst, {QStringLiteral("-q"), QStringLiteral("videotestsrc"), QStringLiteral("num-buffers=30"),
                                QStringLiteral("!"), QStringLiteral("video/x-raw,width=160,height=120"),
                                QStringLiteral("!"), QStringLiteral("vp8enc"), QStringLiteral("!"),
                                QStringLiteral("webmmux"), QStringLiteral("!"), QStringLiteral("filesink"),
                                QStringLiteral("location=") + out});
  QFile f(out);
  if (!r.ok || !f.open(QIODevice::ReadOnly) || f.size() < 512) {
    if (why) *why = QStringLiteral("GStreamer could not make a WebM (vp8enc and webmmux are in gstreamer1.0-plugins-good): ") + r.output;
    return std::nullopt;
  }
  return f.readAll();
}

}  // namespace

// ------------------------------------------------------------ reading FAT32

std::optional<FatLayout> Read_Fat_Layout(const QByteArray& image, QString* why) {
  auto fail = [why](const QString& reason) -> std::optional<FatLayout> {
    if (why) *why = reason;
    return std::nullopt;
  };
  if (image.size() < 512) return fail(QStringLiteral("the image is shorter than one sector"));
  if (static_cast<std::uint8_t>(image[510]) != 0x55 || static_cast<std::uint8_t>(image[511]) != 0xAA)
    return fail(QStringLiteral("no boot sector signature 55 AA"));
  FatLayout l;
  l.bytes_per_sector = Get16(image, 11);
  l.sectors_per_cluster = static_cast<std::uint8_t>(image[13]);
  l.reserved_sectors = Get16(image, 14);
  l.fat_count = static_cast<std::uint8_t>(image[16]);
  const std::uint32_t fat16_size = Get16(image, 22);
  l.fat_sectors = Get32(image, 36);
  l.root_cluster = Get32(image, 44);
  const std::uint32_t small_total = Get16(image, 19);
  l.total_sectors = small_total != 0 ? small_total : Get32(image, 32);
  if (l.bytes_per_sector != kSectorBytes) return fail(QStringLiteral("sectors are not 512 bytes"));
  if (fat16_size != 0 || l.fat_sectors == 0 || image.mid(82, 5) != "FAT32")
    return fail(QStringLiteral("not a FAT32 file system"));
  if (l.sectors_per_cluster == 0 || l.fat_count == 0 || l.root_cluster < 2)
    return fail(QStringLiteral("a broken FAT32 boot sector"));
  return l;
}

std::vector<std::uint32_t> Cluster_Chain(const QByteArray& image, const FatLayout& layout, std::uint32_t first) {
  std::vector<std::uint32_t> chain;
  const qsizetype fat_at = static_cast<qsizetype>(layout.reserved_sectors) * kSectorBytes;
  const std::uint64_t entries = static_cast<std::uint64_t>(layout.fat_sectors) * kSectorBytes / 4;
  std::uint32_t c = first;
  while (c >= 2 && c < 0x0FFFFFF8u) {
    if (c >= entries || chain.size() > entries) return {};  // out of the FAT, or a loop
    chain.push_back(c);
    c = Get32(image, fat_at + static_cast<qsizetype>(c) * 4) & 0x0FFFFFFFu;
  }
  return chain;
}

std::vector<DirEntry> Read_Root_Folder(const QByteArray& image, const FatLayout& layout) {
  std::vector<DirEntry> out;
  const qsizetype cluster_bytes = static_cast<qsizetype>(layout.sectors_per_cluster) * kSectorBytes;
  QString long_name;  // long-name pieces come last piece first, before the short entry
  for (const std::uint32_t cluster : Cluster_Chain(image, layout, layout.root_cluster)) {
    const qsizetype at = static_cast<qsizetype>(layout.Cluster_Sector(cluster) * kSectorBytes);
    if (at + cluster_bytes > image.size()) break;
    for (qsizetype e = at; e < at + cluster_bytes; e += 32) {
      const auto first = static_cast<std::uint8_t>(image[e]);
      if (first == 0x00) return out;  // no entries after this one
      const auto attr = static_cast<std::uint8_t>(image[e + 11]);
      if (attr == 0x0F) {
        QString piece;
        for (const auto& [from, count] : {std::pair{1, 5}, std::pair{14, 6}, std::pair{28, 2}}) {
          for (int k = 0; k < count; ++k) {
            const auto ch = static_cast<char16_t>(Get16(image, e + from + 2 * k));
            if (ch == 0x0000 || ch == 0xFFFF) break;
            piece += QChar(ch);
          }
        }
        long_name.prepend(piece);
        continue;
      }
      if ((attr & 0x08) != 0) {  // volume label
        long_name.clear();
        continue;
      }
      DirEntry d;
      d.deleted = first == 0xE5;
      QString base = QString::fromLatin1(image.mid(e, 8)).trimmed();
      const QString ext = QString::fromLatin1(image.mid(e + 8, 3)).trimmed();
      if (d.deleted) base[0] = QLatin1Char('?');
      d.name = !long_name.isEmpty() && !d.deleted ? long_name : ext.isEmpty() ? base : base + QLatin1Char('.') + ext;
      long_name.clear();
      d.start_cluster = Get16(image, e + 20) << 16 | Get16(image, e + 26);
      d.size = Get32(image, e + 28);
      out.push_back(d);
    }
  }
  return out;
}

QByteArray FatImage::Read_All() const {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray FatImage::Sha256() const {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  QCryptographicHash h(QCryptographicHash::Sha256);
  h.addData(&f);
  return h.result().toHex();
}

const PlantedFile* FatImage::File(const QString& name) const {
  const auto it = std::find_if(files.begin(), files.end(), [&](const PlantedFile& f) { return f.name == name; });
  return it == files.end() ? nullptr : &*it;
}

Found FatImage::Planted(const QStringList& types, quint64 from, quint64 to) const {
  static const std::map<QString, QStringList> kReportedAs = {
      {QStringLiteral("WEBM"), {QStringLiteral("MKV")}}};
  Found out;
  for (const PlantedFile& f : files) {
    if (!types.contains(f.type) || f.first_sector < from || f.first_sector >= to) continue;
    const auto shared = kReportedAs.find(f.type);
    for (const QString& t : shared == kReportedAs.end() ? QStringList{f.type} : shared->second)
      out.insert({t, f.first_sector});
  }
  return out;
}

// ------------------------------------------------------------ building

std::optional<QString> Missing_Fat_Tools() {
  QStringList missing;
  if (Tool("mkfs.vfat").isEmpty()) missing << QStringLiteral("mkfs.vfat (package dosfstools)");
  if (Tool("mcopy").isEmpty()) missing << QStringLiteral("mcopy (package mtools)");
  if (Tool("mdel").isEmpty()) missing << QStringLiteral("mdel (package mtools)");
  if (missing.isEmpty()) return std::nullopt;
  return QStringLiteral("cannot make a FAT32 stick image without ") + missing.join(QStringLiteral(", "));
}

std::optional<FatImage> Build_Fat_Image(const QString& path, std::uint32_t size_kib, std::vector<PlantedFile> files,
                                        QString* error) {
  auto fail = [error](const QString& reason) -> std::optional<FatImage> {
    if (error) *error = reason;
    return std::nullopt;
  };
  if (const auto missing = Missing_Fat_Tools()) return fail(*missing);
  QFile::remove(path);
  const QString image_arg = path;
  if (const RunResult r = Run(Tool("mkfs.vfat"), {QStringLiteral("-C"), QStringLiteral("-F"), QStringLiteral("32"),
                                                  QStringLiteral("-n"), QStringLiteral("HOLIDAY"), image_arg,
                                                  QString::number(size_kib)});
      !r.ok)
    return fail(r.output);

  QTemporaryDir staging;
  if (!staging.isValid()) return fail(QStringLiteral("no temporary folder for the files to copy"));
  for (const PlantedFile& f : files) {
    const QString local = staging.filePath(f.name);
    QFile out(local);
    if (!out.open(QIODevice::WriteOnly) || out.write(f.bytes) != f.bytes.size())
      return fail(QStringLiteral("cannot write ") + local);
    out.close();
    if (const RunResult r = Run(Tool("mcopy"), {QStringLiteral("-i"), image_arg, local, QStringLiteral("::/") + f.name});
        !r.ok)
      return fail(r.output);
  }

  FatImage result;
  result.path = path;
  QByteArray image = result.Read_All();
  QString why;
  const auto layout = Read_Fat_Layout(image, &why);
  if (!layout) return fail(path + QStringLiteral(": ") + why);
  result.layout = *layout;
  const std::vector<DirEntry> folder = Read_Root_Folder(image, *layout);
  for (PlantedFile& f : files) {
    const auto entry = std::find_if(folder.begin(), folder.end(),
                                    [&](const DirEntry& d) { return !d.deleted && d.name == f.name; });
    if (entry == folder.end()) return fail(f.name + QStringLiteral(" is not in the root folder after mcopy"));
    if (entry->size != static_cast<std::uint32_t>(f.bytes.size()))
      return fail(f.name + QStringLiteral(" has the wrong size in its folder entry"));
    f.start_cluster = entry->start_cluster;
    f.first_sector = layout->Cluster_Sector(entry->start_cluster);
    const std::vector<std::uint32_t> chain = Cluster_Chain(image, *layout, entry->start_cluster);
    f.contiguous = !chain.empty();
    for (std::size_t i = 1; i < chain.size(); ++i) f.contiguous = f.contiguous && chain[i] == chain[i - 1] + 1;
    // The first cluster holds the file's first bytes, wherever the rest went.
    const qsizetype check = f.contiguous ? f.bytes.size()
                                         : std::min<qsizetype>(f.bytes.size(), layout->sectors_per_cluster * kSectorBytes);
    if (image.mid(static_cast<qsizetype>(f.first_sector * kSectorBytes), check) != f.bytes.left(check))
      return fail(f.name + QStringLiteral(" does not start where its folder entry says"));
  }

  for (const PlantedFile& f : files) {
    if (const RunResult r = Run(Tool("mdel"), {QStringLiteral("-i"), image_arg, QStringLiteral("::/") + f.name}); !r.ok)
      return fail(r.output);
  }
  // Deleted, yet still there: the entries are marked, the data untouched.
  image = result.Read_All();
  for (const DirEntry& d : Read_Root_Folder(image, *layout)) {
    if (!d.deleted) return fail(d.name + QStringLiteral(" is still listed after mdel"));
  }
  for (const PlantedFile& f : files) {
    if (f.contiguous && image.mid(static_cast<qsizetype>(f.first_sector * kSectorBytes), f.bytes.size()) != f.bytes)
      return fail(f.name + QStringLiteral("'s data changed when it was deleted"));
  }
  result.files = std::move(files);
  return result;
}

std::vector<PlantedFile> Standard_Files(QString* webm_why) {
  std::vector<PlantedFile> files = {
      {QStringLiteral("BEACH.JPG"), QStringLiteral("JPG"), Make_Jpeg_With_Exif(640, 480, 6)},
      {QStringLiteral("MAP.PNG"), QStringLiteral("PNG"), samples::Encode(samples::Test_Picture(320, 240, 2), "png")},
      {QStringLiteral("WAVE.GIF"), QStringLiteral("GIF"), samples::Make_Gif(96, 64)},
      {QStringLiteral("NOTES.PDF"), QStringLiteral("PDF"), Make_Pdf()},
      {QStringLiteral("MINUTES.DOCX"), QStringLiteral("DOCX"), samples::Make_Docx(40)},
      {QStringLiteral("LISTS.ZIP"), QStringLiteral("ZIP"), Make_Zip()},
      {QStringLiteral("BIRDS.WAV"), QStringLiteral("WAV"), samples::Make_Wav(1500, 8000)},
      {QStringLiteral("SHOPPING.TXT"), QString(), Make_Text()},
  };
  if (auto webm = Make_Webm(webm_why)) files.push_back({QStringLiteral("CLIP.WEBM"), QStringLiteral("WEBM"), *webm});
  return files;
}

// ------------------------------------------------------------ step by step

bool Format_Fat_Image(const QString& path, std::uint32_t size_kib, std::uint32_t sectors_per_cluster,
                      QString* error) {
  if (const auto missing = Missing_Fat_Tools()) {
    if (error) *error = *missing;
    return false;
  }
  QFile::remove(path);
  QStringList args = {QStringLiteral("-C"), QStringLiteral("-F"), QStringLiteral("32"), QStringLiteral("-n"),
                      QStringLiteral("HOLIDAY")};
  if (sectors_per_cluster != 0) args << QStringLiteral("-s") << QString::number(sectors_per_cluster);
  args << path << QString::number(size_kib);
  const RunResult r = Run(Tool("mkfs.vfat"), args);
  if (!r.ok && error) *error = r.output;
  return r.ok;
}

bool Copy_Into_Fat_Image(const QString& path, const QString& name, const QByteArray& bytes, QString* error) {
  QTemporaryDir staging;
  const QString local = staging.filePath(name);
  QFile out(local);
  if (!staging.isValid() || !out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size()) {
    if (error) *error = QStringLiteral("cannot write ") + local;
    return false;
  }
  out.close();
  const RunResult r = Run(Tool("mcopy"), {QStringLiteral("-i"), path, local, QStringLiteral("::/") + name});
  if (!r.ok && error) *error = r.output;
  return r.ok;
}

bool Delete_From_Fat_Image(const QString& path, const QStringList& names, QString* error) {
  if (names.isEmpty()) return true;
  QStringList args = {QStringLiteral("-i"), path};
  for (const QString& n : names) args << QStringLiteral("::/") + n;
  const RunResult r = Run(Tool("mdel"), args);
  if (!r.ok && error) *error = r.output;
  return r.ok;
}

bool Allocate_From_Cluster(const QString& path, std::uint32_t cluster, QString* error) {
  auto fail = [error](const QString& reason) {
    if (error) *error = reason;
    return false;
  };
  QFile f(path);
  if (!f.open(QIODevice::ReadWrite)) return fail(path + QStringLiteral(": cannot open for writing"));
  const QByteArray boot = f.read(kSectorBytes);
  QString why;
  if (!Read_Fat_Layout(boot, &why)) return fail(path + QStringLiteral(": ") + why);
  const qint64 at = static_cast<qint64>(Get16(boot, 48)) * static_cast<qint64>(kSectorBytes);
  QByteArray info;
  if (at == 0 || !f.seek(at) || (info = f.read(kSectorBytes)).size() != static_cast<qsizetype>(kSectorBytes) ||
      Get32(info, 0) != 0x41615252u || Get32(info, 484) != 0x61417272u)
    return fail(path + QStringLiteral(": no FSInfo sector"));
  QByteArray hint;
  samples::Put32(hint, cluster > 2 ? cluster - 1 : 0xFFFFFFFFu);
  if (!f.seek(at + 492) || f.write(hint) != hint.size()) return fail(path + QStringLiteral(": cannot write FSInfo"));
  return true;
}

}  // namespace tamberlin::e2e
