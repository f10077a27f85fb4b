#include "ui/caption_label.h"

#include <QPainter>
#include <QStyle>

namespace {

std::pair<QString, QString> Split(const QString& text) {
  const qsizetype first = text.indexOf(QLatin1Char('\t'));
  if (first < 0) return {text, QString()};
  const qsizetype last = text.lastIndexOf(QLatin1Char('\t'));
  return {text.left(first), text.mid(last + 1)};
}

}  // namespace

QSize CaptionLabel::sizeHint() const {
  const auto [words, tail] = Split(text());
  const QFontMetrics fm = fontMetrics();
  const int width = fm.horizontalAdvance(words) + fm.horizontalAdvance(QStringLiteral("  ")) +
                    fm.horizontalAdvance(tail);
  const QMargins m = contentsMargins();
  return {width + m.left() + m.right(), fm.height() + m.top() + m.bottom()};
}

void CaptionLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const auto [words, tail] = Split(text());
  const QRect area = contentsRect();
  const QPalette::ColorRole role = foregroundRole();
  style()->drawItemText(&painter, area, Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(),
                        words, role);
  style()->drawItemText(&painter, area, Qt::AlignRight | Qt::AlignVCenter, palette(),
                        isEnabled(), tail, role);
}
