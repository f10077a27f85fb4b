#include "results/qt/preview_extract.h"

#include <QFile>
#include <QFileInfo>
#include <array>
#include <cstring>

namespace tamberlin::results {

QString Preview_File_Name(const QString& folder, const QString& item_name) {
  const QString file = QFileInfo(item_name).fileName();
  const qsizetype dot = file.lastIndexOf(QLatin1Char('.'));
  QString ext;
  if (dot >= 0) {
    for (const QChar c : file.mid(dot + 1)) {
      if (c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('-')) ext += c;
    }
  }
  return folder + (ext.isEmpty() ? QStringLiteral("/dprv") : QStringLiteral("/dprv.") + ext);
}

ExtractResult Extract_Sectors(SectorSource& source, std::uint64_t start, std::uint64_t end,
                              const QString& out_path, const std::function<bool()>& stop_requested,
                              const std::function<void()>& pump) {
  constexpr std::uint64_t kPumpEvery = 4096;  // 2 MiB
  ExtractResult result;
  QFile out(out_path);
  if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    result.file_error = out.errorString();
    return result;
  }
  result.file_opened = true;
  std::array<char, kSectorSize> zeros{};
  for (std::uint64_t s = start; s < end; ++s) {
    if (stop_requested && stop_requested()) {
      result.stopped = true;
      break;
    }
    const std::uint8_t* sector = source.Read_Sector(s);
    const char* bytes = zeros.data();
    if (sector) {
      bytes = reinterpret_cast<const char*>(sector);
    } else {
      ++result.unreadable_sectors;
    }
    if (out.write(bytes, kSectorSize) != static_cast<qint64>(kSectorSize)) {
      result.write_failed = true;
      result.file_error = out.errorString();
      break;
    }
    ++result.sectors_written;
    if (pump && (s - start + 1) % kPumpEvery == 0) pump();
  }
  if (!out.flush() && !result.write_failed) {
    result.write_failed = true;
    result.file_error = out.errorString();
  }
  out.close();
  return result;
}

}  // namespace tamberlin::results
