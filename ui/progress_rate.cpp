#include "ui/progress_rate.h"

#include <QCoreApplication>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace tamberlin::ui {

void ProgressRate::Reset() {
  samples_.clear();
  first_seconds_.reset();
}

void ProgressRate::Restart_Pass() { samples_.clear(); }

void ProgressRate::Add(double seconds, std::uint64_t bytes) {
  if (!first_seconds_) first_seconds_ = seconds;
  last_seconds_ = seconds;
  if (!samples_.empty() && (bytes < samples_.back().bytes || seconds < samples_.back().seconds))
    samples_.clear();
  samples_.push_back({seconds, bytes});
  // Keep one sample at or before the window's start, so the window is full
  // as soon as the scan has run that long.
  while (samples_.size() > 2 && samples_[1].seconds <= seconds - window_) samples_.pop_front();
}

std::optional<double> ProgressRate::Bytes_Per_Second() const {
  if (samples_.size() < 2) return std::nullopt;
  const Sample& first = samples_.front();
  const Sample& last = samples_.back();
  const double span = last.seconds - first.seconds;
  if (!(span > 0)) return std::nullopt;
  return static_cast<double>(last.bytes - first.bytes) / span;
}

std::optional<double> ProgressRate::Seconds_Left(std::uint64_t total_bytes) const {
  const auto speed = Bytes_Per_Second();
  if (!speed || !(*speed > 0)) return std::nullopt;
  const std::uint64_t done = samples_.back().bytes;
  return done >= total_bytes ? 0.0 : static_cast<double>(total_bytes - done) / *speed;
}

double ProgressRate::Elapsed() const {
  return first_seconds_ ? last_seconds_ - *first_seconds_ : 0;
}

QString Format_Duration(double seconds) {
  const auto whole = static_cast<std::int64_t>(std::llround(std::max(0.0, seconds)));
  const std::int64_t h = whole / 3600, m = whole / 60 % 60, s = whole % 60;
  const QChar zero = QLatin1Char('0');
  if (h > 0) return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, zero).arg(s, 2, 10, zero);
  return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, zero);
}

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
