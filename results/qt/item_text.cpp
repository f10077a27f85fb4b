#include "results/qt/item_text.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocale>
#include <QMimeDatabase>
#include <QStringList>

namespace tamberlin::results {

namespace {

QString Tr(const char* text) { return QCoreApplication::translate("FoundItems", text); }

QString Items(int n) { return n == 1 ? Tr("1 item") : Tr("%1 items").arg(n); }

}  // namespace

QString Item_Tooltip(const MyImageObject& item) {
  const QLocale locale;
  const QString suffix = QFileInfo(item.image_Name).suffix().toUpper();
  static const QMimeDatabase mime;
  const QMimeType type = mime.mimeTypeForFile(item.image_Name, QMimeDatabase::MatchExtension);
  QString kind = type.isDefault() ? suffix : type.comment();
  if (kind.isEmpty()) kind = Tr("unknown");
  else if (!suffix.isEmpty() && kind != suffix) kind += QStringLiteral(" (%1)").arg(suffix);

  // A photo knows its sector count, a video or raw item its range.
  const std::uint64_t sectors = item.Sector_Count > 0 ? item.Sector_Count
                                : item.File_End_Sector > item.File_Start_Sector
                                    ? item.File_End_Sector - item.File_Start_Sector
                                    : 0;
  QStringList lines{item.image_Name, Tr("Type: %1").arg(kind)};
  if (sectors > 0) {
    lines << Tr("Size: %1 (%2 sectors)")
                 .arg(locale.formattedDataSize(static_cast<qint64>(sectors * 512)), locale.toString(sectors));
  }
  if (const auto start = item.Medium_Start()) lines << Tr("First sector: %1").arg(locale.toString(*start));
  if (item.picture_size.isValid())
    lines << Tr("Picture: %1 \u00d7 %2 pixels").arg(item.picture_size.width()).arg(item.picture_size.height());
  return lines.join(QLatin1Char('\n'));
}

QString Count_Text(int shown, int found, int selected) {
  QString text = shown == found ? Tr("%1 found").arg(Items(found))
                                : Tr("%1 shown of %2 found").arg(shown).arg(found);
  if (selected > 0) text += Tr(", %1 selected").arg(selected);
  return text;
}

QString Found_Summary(int shown, int found) {
  if (found == 0) return Tr("Nothing was found.");
  QString text = found == 1 ? Tr("1 item was found.") : Tr("%1 items were found.").arg(found);
  if (shown != found) text += QLatin1Char(' ') + Tr("%1 are shown: the others start at the same sector as an item found before them.").arg(shown);
  return text;
}

}  // namespace tamberlin::results
