// The scan range widgets of both sets: the Entire Disk / Sector Range
// choice, the two sliders and their text fields kept in step, and the checks
// of a typed range when Next is pressed.
//
// Sector numbers are unsigned 64-bit throughout; the texts hold them exactly
// and the sliders show them on their int scale (range_slider.h).
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <optional>

#include "ui/MyTableController.h"
#include "ui/help_texts.h"
#include "ui/range_slider.h"
#include "engine/decimal.h"
#include "engine/sector_range.h"
#include "ui_MyTableController.h"

namespace tamberlin::ui {
namespace {

QString Suffix(bool sig) { return sig ? QStringLiteral("_Sig") : QString(); }

// What a text field holds as a number: its leading numeric part read as a
// floating-point number (0 when there is none), and, when that part is plain
// digits, its exact value.
struct Typed_Number {
  double value = 0;
  std::optional<std::uint64_t> whole;
};

Typed_Number Read_Leading_Number(const QString& text) {
  const QByteArray b = text.toLatin1();
  qsizetype i = 0;
  while (i < b.size() && (b[i] == ' ' || b[i] == '\t' || b[i] == '\n')) ++i;
  const qsizetype begin = i;
  if (i < b.size() && (b[i] == '+' || b[i] == '-')) ++i;
  const qsizetype digits_begin = i;
  while (i < b.size() && b[i] >= '0' && b[i] <= '9') ++i;
  const qsizetype int_digits = i - digits_begin;
  const bool signed_text = digits_begin != begin;
  bool plain = !signed_text && int_digits > 0;
  qsizetype frac_digits = 0;
  if (i < b.size() && b[i] == '.') {
    qsizetype j = i + 1;
    while (j < b.size() && b[j] >= '0' && b[j] <= '9') ++j;
    frac_digits = j - i - 1;
    if (int_digits + frac_digits > 0) {
      i = j;
      plain = false;
    }
  }
  Typed_Number n;
  if (int_digits + frac_digits == 0) return n;
  if (i < b.size() && (b[i] == 'e' || b[i] == 'E')) {
    qsizetype j = i + 1;
    if (j < b.size() && (b[j] == '+' || b[j] == '-')) ++j;
    const qsizetype exp_begin = j;
    while (j < b.size() && b[j] >= '0' && b[j] <= '9') ++j;
    if (j > exp_begin) {
      i = j;
      plain = false;
    }
  }
  const QByteArray number = b.mid(begin, i - begin);
  n.value = number.toDouble();
  if (plain) n.whole = Leading_Decimal(std::string_view(number.constData(), static_cast<std::size_t>(number.size())));
  return n;
}

// a > b for two typed numbers, exactly when both are whole.
bool Greater(const Typed_Number& a, const Typed_Number& b) {
  if (a.whole && b.whole) return *a.whole > *b.whole;
  return a.value > b.value;
}

// The sector a typed number puts the slider on (already known to be in range).
std::uint64_t Sector_Of(const Typed_Number& n) {
  if (n.whole) return *n.whole;
  if (!(n.value > 0)) return 0;
  if (n.value >= 18446744073709551615.0) return UINT64_MAX;
  return static_cast<std::uint64_t>(n.value);
}

}  // namespace

void MyTableController::Reset_Range_Group(bool sig, const QString& sectors) {
  const QString s = Suffix(sig);
  auto label = [&](const char* name) { return findChild<QLabel*>(QLatin1String(name) + s); };
  auto* start_slider = findChild<QSlider*>(QStringLiteral("_Start_Slider") + s);
  auto* end_slider = findChild<QSlider*>(QStringLiteral("_End_Slider") + s);
  const std::uint64_t count = Read_Leading_Number(sectors).whole.value_or(0);
  slider_sectors_[sig ? 1 : 0] = count;
  const int top = Slider_Top(count);
  {
    const QSignalBlocker quiet_start(start_slider);
    const QSignalBlocker quiet_end(end_slider);
    start_slider->setRange(0, top);
    start_slider->setValue(0);
    end_slider->setRange(0, top);
    end_slider->setValue(top);
  }
  label("_Start_Sec_Min_val")->setText(QStringLiteral("0"));
  label("_Start_Sec_Max_val")->setText(sectors);
  label("_End_Sec_Min_val")->setText(QStringLiteral("0"));
  label("_End_Sec_Max_val")->setText(sectors);
  findChild<QLineEdit*>(QStringLiteral("_Start_slider_val") + s)->setText(QStringLiteral("0"));
  findChild<QLineEdit*>(QStringLiteral("_End_slider_val") + s)->setText(sectors);
}

void MyTableController::Choose_Entire_Disk(bool sig) {
  ui->_help_info->setText(QString::fromUtf8(kEntireDiskHelp));
  (sig ? ui->_entire_disk_rd_Sig : ui->_entire_disk_rd)->setChecked(true);
  (sig ? ui->_sector_range_rd_Sig : ui->_sector_range_rd)->setChecked(false);
  (sig ? ui->_disk_info_group_Sig : ui->_disk_info_group)->show();
  (sig ? ui->_range_group_Sig : ui->_range_group)->hide();
}

void MyTableController::Choose_Sector_Range(bool sig) {
  ui->_help_info->setText(QString::fromUtf8(kSectorRangeHelp));
  (sig ? ui->_entire_disk_rd_Sig : ui->_entire_disk_rd)->setChecked(false);
  (sig ? ui->_sector_range_rd_Sig : ui->_sector_range_rd)->setChecked(true);
  (sig ? ui->_disk_info_group_Sig : ui->_disk_info_group)->hide();
  // The range starts over from the medium's size as shown.
  Reset_Range_Group(sig, (sig ? ui->_end_sector_entire_val_Sig : ui->_end_sector_entire_val)->text());
  (sig ? ui->_range_group_Sig : ui->_range_group)->show();
}

void MyTableController::Entire_Disk_Radio() { Choose_Entire_Disk(false); }
void MyTableController::Entire_Disk_Radio_Sig() { Choose_Entire_Disk(true); }
void MyTableController::Sector_Range_Radio() { Choose_Sector_Range(false); }
void MyTableController::Sector_Range_Radio_Sig() { Choose_Sector_Range(true); }

void MyTableController::Slider_Moved(bool sig, bool end) {
  const QString s = Suffix(sig);
  auto* slider = findChild<QSlider*>((end ? QStringLiteral("_End_Slider") : QStringLiteral("_Start_Slider")) + s);
  auto* field =
      findChild<QLineEdit*>((end ? QStringLiteral("_End_slider_val") : QStringLiteral("_Start_slider_val")) + s);
  const std::uint64_t sector = Slider_Sector(slider->value(), slider_sectors_[sig ? 1 : 0]);
  field->setText(QString::number(sector));
}

void MyTableController::DO_Start_slider() { Slider_Moved(false, false); }
void MyTableController::DO_Start_slider_Sig() { Slider_Moved(true, false); }
void MyTableController::DO_End_slider() { Slider_Moved(false, true); }
void MyTableController::DO_End_slider_Sig() { Slider_Moved(true, true); }

void MyTableController::controlTextDidChange(QObject* field) {
  QSlider* slider = nullptr;
  bool sig = false;
  if (field == ui->_Start_slider_val) {
    slider = ui->_Start_Slider;
  } else if (field == ui->_End_slider_val) {
    slider = ui->_End_Slider;
  } else if (field == ui->_Start_slider_val_Sig) {
    slider = ui->_Start_Slider_Sig;
    sig = true;
  } else if (field == ui->_End_slider_val_Sig) {
    slider = ui->_End_Slider_Sig;
    sig = true;
  } else {
    return;
  }
  const Typed_Number typed = Read_Leading_Number(static_cast<QLineEdit*>(field)->text());
  const Typed_Number maximum = Read_Leading_Number(ui->_sectors_val->text());
  // A number past the medium leaves the slider where it is; Next rejects it.
  if (Greater(typed, maximum)) return;
  const QSignalBlocker quiet(slider);  // the text stays as typed
  slider->setValue(Slider_Position(Sector_Of(typed), slider_sectors_[sig ? 1 : 0]));
}

bool MyTableController::Check_For_Valid_Sec(const QString& text) {
  return tamberlin::Check_For_Valid_Sec(text.toStdString());
}

bool MyTableController::Check_Range_Fields() {
  const bool sig = Recovery_MODE != 0;
  QLineEdit* start = sig ? ui->_Start_slider_val_Sig : ui->_Start_slider_val;
  QLineEdit* end = sig ? ui->_End_slider_val_Sig : ui->_End_slider_val;
  const auto problem = Validate_Sector_Range(start->text().toStdString(), end->text().toStdString(),
                                             ui->_sectors_val->text().toStdString());
  if (!problem) return true;
  Show_Alert(this, QString::fromStdString(problem->message), QString::fromStdString(problem->informative));
  QLineEdit* focus = problem->focus == RangeProblem::Field::Start ? start : end;
  focus->setFocus(Qt::OtherFocusReason);
  return false;
}

}  // namespace tamberlin::ui
