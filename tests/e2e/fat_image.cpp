#include "fat_image.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>

#include "run_tool.h"
#include "tools/sample_files/sample_files.h"

namespace tamberlin::e2e {
namespace {

using testing::Run_Tool;

std::uint32_t Get16(const QByteArray& b, qsizetype at) {
  return static_cast<std::uint8_t>(b[at]) | static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[at + 1])) << 8;
}
std::uint32_t Get32(const QByteArray& b, qsizetype at) { return Get16(b, at) | Get16(b, at + 2) << 16; }

// mtools refuses images without a disk geometry unless told not to check.
bool Mtools(const char* tool, const QStringList& args, QString* error) {
  const testing::ToolRun run =
      Run_Tool(QString::fromLatin1(tool), args, {QStringLiteral("MTOOLS_SKIP_CHECK=1")});
  if (!run.Ok() && error) *error = run.problem;
  return run.Ok();
}

bool Fail(QString* error, const QString& reason) {
  if (error) *error = reason;
  return false;
}

}  // namespace

// ------------------------------------------------------------ reading FAT32

std::optional<FatLayout> Read_Fat_Layout(const QByteArray& image, QString* why) {
  FatLayout l;
  const bool boot = image.size() >= 512 && Get16(image, 510) == 0xAA55;
  if (boot) {
    l.bytes_per_sector = Get16(image, 11);
    l.sectors_per_cluster = static_cast<std::uint8_t>(image[13]);
    l.reserved_sectors = Get16(image, 14);
    l.fat_count = static_cast<std::uint8_t>(image[16]);
    l.fat_sectors = Get32(image, 36);
    l.root_cluster = Get32(image, 44);
    l.total_sectors = Get16(image, 19) != 0 ? Get16(image, 19) : Get32(image, 32);
  }
  const char* problem = !boot                                 ? "no boot sector signature 55 AA"
                        : l.bytes_per_sector != kSectorBytes ? "sectors are not 512 bytes"
                        : Get16(image, 22) != 0 || l.fat_sectors == 0 || image.mid(82, 5) != "FAT32"
                            ? "not a FAT32 file system"
                        : l.sectors_per_cluster == 0 || l.fat_count == 0 || l.root_cluster < 2
                            ? "a broken FAT32 boot sector"
                            : nullptr;
  if (problem == nullptr) return l;
  Fail(why, QString::fromLatin1(problem));
  return std::nullopt;
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
  return QCryptographicHash::hash(Read_All(), QCryptographicHash::Sha256).toHex();
}

Found FatImage::Planted(const QStringList& types) const {
  Found out;
  for (const PlantedFile& f : files) {
    if (!types.contains(f.type)) continue;
    // A header several types share is one record named for the family.
    out.insert({f.type == QLatin1String("WEBM") ? QStringLiteral("MKV") : f.type, f.first_sector});
  }
  return out;
}

// ------------------------------------------------------------ building

std::optional<QString> Missing_Fat_Tools() {
  QStringList missing;
  for (const char* tool : {"mkfs.vfat", "mcopy", "mdel"})
    if (testing::Find_Tool(QString::fromLatin1(tool)).isEmpty()) missing << QString::fromLatin1(tool);
  if (missing.isEmpty()) return std::nullopt;
  return QStringLiteral("cannot make a FAT32 stick image without ") + missing.join(QStringLiteral(", ")) +
         QStringLiteral(" (packages dosfstools, mtools)");
}

std::optional<FatImage> Build_Fat_Image(const QString& path, std::uint32_t size_kib, std::vector<PlantedFile> files,
                                        QString* error) {
  auto fail = [error](const QString& reason) -> std::optional<FatImage> {
    Fail(error, reason);
    return std::nullopt;
  };
  if (!Format_Fat_Image(path, size_kib, 0, error)) return std::nullopt;
  QStringList names;
  for (const PlantedFile& f : files) {
    if (!Copy_Into_Fat_Image(path, f.name, f.bytes, error)) return std::nullopt;
    names << f.name;
  }
  FatImage result;
  result.path = path;
  QByteArray image = result.Read_All();
  const auto layout = Read_Fat_Layout(image, error);
  if (!layout) return std::nullopt;
  result.layout = *layout;
  const std::vector<DirEntry> folder = Read_Root_Folder(image, *layout);
  for (PlantedFile& f : files) {
    const auto entry = std::find_if(folder.begin(), folder.end(),
                                    [&](const DirEntry& d) { return !d.deleted && d.name == f.name; });
    if (entry == folder.end() || entry->size != static_cast<std::uint32_t>(f.bytes.size()))
      return fail(f.name + QStringLiteral(" is missing from the root folder after mcopy, or has the wrong size"));
    f.first_sector = layout->Cluster_Sector(entry->start_cluster);
    const std::vector<std::uint32_t> chain = Cluster_Chain(image, *layout, entry->start_cluster);
    f.contiguous = !chain.empty() && chain.back() - chain.front() + 1 == chain.size();
  }
  if (!Delete_From_Fat_Image(path, names, error)) return std::nullopt;
  // Deleted, yet still there: the entries are marked, the data untouched.
  image = result.Read_All();
  for (const PlantedFile& f : files) {
    if (f.contiguous && image.mid(static_cast<qsizetype>(f.first_sector * kSectorBytes), f.bytes.size()) != f.bytes)
      return fail(f.name + QStringLiteral(" is not where its folder entry said, or changed when it was deleted"));
  }
  result.files = std::move(files);
  return result;
}

std::vector<PlantedFile> Standard_Files() {
  const QByteArray list = QByteArray("Item: camera battery, charger, cable\n").repeated(200);
  const QByteArray text = QByteArray("Shopping list: bread, milk, apples.\n").repeated(30);
  const QString notes = QStringLiteral("A line of the holiday notes that were deleted.\n").repeated(12);
  return {
      {QStringLiteral("BEACH.JPG"), QStringLiteral("JPG"),
       samples::Encode(samples::Test_Picture(640, 480, 1), "jpeg", 90)},
      {QStringLiteral("MAP.PNG"), QStringLiteral("PNG"), samples::Encode(samples::Test_Picture(320, 240, 2), "png")},
      {QStringLiteral("WAVE.GIF"), QStringLiteral("GIF"), samples::Make_Gif(96, 64)},
      {QStringLiteral("NOTES.PDF"), QStringLiteral("PDF"), samples::Make_Pdf(QStringLiteral("Holiday notes"), notes)},
      {QStringLiteral("MINUTES.DOCX"), QStringLiteral("DOCX"), samples::Make_Docx(40)},
      {QStringLiteral("LISTS.ZIP"), QStringLiteral("ZIP"),
       samples::Make_Stored_Zip({{"readme.txt", "Packing lists for the trip.\n"}, {"packing.txt", list}})},
      {QStringLiteral("BIRDS.WAV"), QStringLiteral("WAV"), samples::Make_Wav(1500, 8000)},
      {QStringLiteral("SHOPPING.TXT"), QString(), text},  // known to no catalogue
  };
}

// ------------------------------------------------------------ step by step

bool Format_Fat_Image(const QString& path, std::uint32_t size_kib, std::uint32_t sectors_per_cluster,
                      QString* error) {
  if (const auto missing = Missing_Fat_Tools()) return Fail(error, *missing);
  QFile::remove(path);
  QStringList args = {QStringLiteral("-C"), QStringLiteral("-F"), QStringLiteral("32"), QStringLiteral("-n"),
                      QStringLiteral("HOLIDAY")};
  if (sectors_per_cluster != 0) args << QStringLiteral("-s") << QString::number(sectors_per_cluster);
  args << path << QString::number(size_kib);
  const testing::ToolRun run = Run_Tool(QStringLiteral("mkfs.vfat"), args);
  return run.Ok() || Fail(error, run.problem);
}

bool Copy_Into_Fat_Image(const QString& path, const QString& name, const QByteArray& bytes, QString* error) {
  QTemporaryDir staging;
  const QString local = staging.filePath(name);
  QFile out(local);
  if (!staging.isValid() || !out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
    return Fail(error, QStringLiteral("cannot write ") + local);
  out.close();
  return Mtools("mcopy", {QStringLiteral("-i"), path, local, QStringLiteral("::/") + name}, error);
}

bool Delete_From_Fat_Image(const QString& path, const QStringList& names, QString* error) {
  if (names.isEmpty()) return true;
  QStringList args = {QStringLiteral("-i"), path};
  for (const QString& n : names) args << QStringLiteral("::/") + n;
  return Mtools("mdel", args, error);
}

bool Allocate_From_Cluster(const QString& path, std::uint32_t cluster, QString* error) {
  auto fail = [error](const QString& reason) { return Fail(error, reason); };
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
