// Pictures made at test time for the results and window tests.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPainter>

#include "tools/sample_files/sample_files.h"

namespace tamberlin::results::testing {

// A JPEG `width` x `height`, left half red and right half blue.
inline QByteArray Two_Colour_Jpeg(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::blue);
  QPainter(&image).fillRect(0, 0, width / 2, height, Qt::red);
  return samples::Encode(image, "jpeg", 95);
}

// `jpeg` with an Exif block saying the picture is stored turned: orientation
// 6 means "rotate 90 degrees clockwise to show".
inline QByteArray With_Exif_Orientation(const QByteArray& jpeg, quint8 orientation) {
  // Big-endian TIFF, IFD0 at 8 with one entry: Orientation, SHORT, one value.
  const QByteArray tiff = QByteArray::fromHex("4D4D002A000000080001011200030000000100") + char(orientation) +
                          QByteArray::fromHex("000000000000");
  const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
  const QByteArray app1 = QByteArray::fromHex("FFE100") + char(payload.size() + 2) + payload;
  return jpeg.left(2) + app1 + jpeg.mid(2);
}

// A PNG with a transparent background and an opaque black square in the middle.
inline QByteArray Transparent_Png(int side) {
  QImage image(side, side, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter(&image).fillRect(side / 4, side / 4, side / 2, side / 2, Qt::black);
  return samples::Encode(image, "png");
}

inline bool Near(QColor a, QColor b) {
  return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) <= 60;
}

}  // namespace tamberlin::results::testing
