#include "ui/progress_rate.h"

#include <QCoreApplication>
#include <QStringList>

namespace tamberlin::ui {

QString Format_Duration(double seconds) { return QString::fromStdString(Duration_Text(seconds)); }

QString Rate_Text(const ProgressRate& rate, std::uint64_t total_bytes) {
  QStringList parts;
  if (const auto speed = rate.Bytes_Per_Second())
    parts << QCoreApplication::translate("ProgressRate", "Speed %1 MB/s").arg(*speed / 1e6, 0, 'f', 1);
  parts << QCoreApplication::translate("ProgressRate", "Elapsed %1").arg(Format_Duration(rate.Elapsed()));
  if (const auto left = rate.Seconds_Left(total_bytes))
    parts << QCoreApplication::translate("ProgressRate", "About %1 left").arg(Format_Duration(*left));
  return parts.join(QStringLiteral("   "));
}

}  // namespace tamberlin::ui
