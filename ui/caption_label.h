// A caption such as "File System\t\t:". The text keeps its tabs; it is drawn
// with the words at the left and what follows the tabs (the colon) at the
// right edge, so the colons of a column of captions line up in any font.
#pragma once

#include <QLabel>

class CaptionLabel : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
};
