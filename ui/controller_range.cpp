// The scan range widgets of both sets.
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <limits>

#include "MyTableController.h"
#include "ui_MyTableController.h"

namespace tamberlin::ui {

void MyTableController::Reset_Range_Group(bool sig, const QString& sectors) {
  const QString s = sig ? QStringLiteral("_Sig") : QString();
  auto label = [&](const char* name) { return findChild<QLabel*>(QLatin1String(name) + s); };
  auto* start_slider = findChild<QSlider*>(QStringLiteral("_Start_Slider") + s);
  auto* end_slider = findChild<QSlider*>(QStringLiteral("_End_Slider") + s);
  // QSlider counts in int; media past 2^31 sectors (1 TiB) stop at its limit
  // until the range work gives the sliders a wider scale.
  const qulonglong count = sectors.toULongLong();
  const int top = static_cast<int>(
      std::min<qulonglong>(count, static_cast<qulonglong>(std::numeric_limits<int>::max())));
  start_slider->setRange(0, top);
  start_slider->setValue(0);
  end_slider->setRange(0, top);
  end_slider->setValue(top);
  label("_Start_Sec_Min_val")->setText(QStringLiteral("0"));
  label("_Start_Sec_Max_val")->setText(sectors);
  label("_End_Sec_Min_val")->setText(QStringLiteral("0"));
  label("_End_Sec_Max_val")->setText(sectors);
  findChild<QLineEdit*>(QStringLiteral("_Start_slider_val") + s)->setText(QStringLiteral("0"));
  findChild<QLineEdit*>(QStringLiteral("_End_slider_val") + s)->setText(sectors);
}

}  // namespace tamberlin::ui
