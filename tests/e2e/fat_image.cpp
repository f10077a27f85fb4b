#include "fat_image.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

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
  if (boot && l.bytes_per_sector == kSectorBytes && image.mid(82, 5) == "FAT32" && l.fat_sectors != 0 &&
      l.sectors_per_cluster != 0 && l.fat_count != 0 && l.root_cluster >= 2)
    return l;
  Fail(why, QStringLiteral("not a FAT32 file system of 512-byte sectors"));
  return std::nullopt;
}

std::optional<Chains> Cluster_Chains(const QString& path, const QStringList& names, QString* error) {
  if (names.isEmpty()) return Chains();
  QStringList args = {QStringLiteral("-i"), path};
  for (const QString& n : names) args << QStringLiteral("::/") + n;
  const testing::ToolRun run = Run_Tool(QStringLiteral("mshowfat"), args, {QStringLiteral("MTOOLS_SKIP_CHECK=1")});
  if (!run.Ok()) return Fail(error, run.problem), std::nullopt;
  // One line per file: "::/NAME <first-last> <single> ..."
  static const QRegularExpression kRun(QStringLiteral(R"(<(\d+)(?:-(\d+))?>)"));
  Chains out;
  for (const QString& line : QString::fromLocal8Bit(run.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    std::vector<std::uint32_t>& chain = out[line.left(line.indexOf(QStringLiteral(" <"))).mid(3)];
    for (auto it = kRun.globalMatch(line); it.hasNext();) {
      const QRegularExpressionMatch m = it.next();
      const std::uint32_t first = m.captured(1).toUInt(), last = m.hasCaptured(2) ? m.captured(2).toUInt() : first;
      for (std::uint32_t c = first; c <= last; ++c) chain.push_back(c);
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
  for (const PlantedFile& f : files)
    if (types.contains(f.type)) out.insert({f.type, f.first_sector});
  return out;
}

// ------------------------------------------------------------ building

std::optional<QString> Missing_Fat_Tools() {
  QStringList missing;
  for (const char* tool : {"mkfs.vfat", "mcopy", "mdel", "mshowfat"})
    if (testing::Find_Tool(QString::fromLatin1(tool)).isEmpty()) missing << QString::fromLatin1(tool);
  if (missing.isEmpty()) return std::nullopt;
  return QStringLiteral("cannot make a FAT32 stick image without ") + missing.join(QStringLiteral(", ")) +
         QStringLiteral(" (packages dosfstools, mtools)");
}

std::optional<FatImage> Build_Fat_Image(const QString& path, std::uint32_t size_kib, std::vector<PlantedFile> files,
                                        QString* error) {
  if (!Format_Fat_Image(path, size_kib, 0, error)) return std::nullopt;
  QStringList names;
  for (const PlantedFile& f : files) {
    if (!Copy_Into_Fat_Image(path, f.name, f.bytes, error)) return std::nullopt;
    names << f.name;
  }
  FatImage result;
  result.path = path;
  const auto layout = Read_Fat_Layout(result.Read_All().left(kSectorBytes), error);
  auto chains = layout ? Cluster_Chains(path, names, error) : std::nullopt;
  if (!chains) return std::nullopt;
  result.layout = *layout;
  for (PlantedFile& f : files) {
    const std::vector<std::uint32_t>& chain = (*chains)[f.name];
    if (chain.empty() || chain.size() * layout->sectors_per_cluster * kSectorBytes < static_cast<std::uint64_t>(f.bytes.size()))
      return Fail(error, f.name + QStringLiteral(" is missing from the root folder after mcopy, or too short")),
             std::nullopt;
    f.first_sector = layout->Cluster_Sector(chain.front());
    f.contiguous = chain.back() - chain.front() + 1 == chain.size();
  }
  if (!Delete_From_Fat_Image(path, names, error)) return std::nullopt;
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
