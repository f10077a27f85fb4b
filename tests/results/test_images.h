// Pictures made at test time for the results tests.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPainter>

namespace tamberlin::results::testing {

// A JPEG `width` x `height`, left half red and right half blue.
inline QByteArray Two_Colour_Jpeg(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::blue);
  QPainter(&image).fillRect(0, 0, width / 2, height, Qt::red);
  QByteArray bytes;
  QBuffer out(&bytes);
  out.open(QIODevice::WriteOnly);
  image.save(&out, "JPEG", 95);
  return bytes;
}

// `jpeg` with an EXIF block saying the picture is stored turned: orientation
// 6 means "rotate 90 degrees clockwise to show".
inline QByteArray With_Exif_Orientation(const QByteArray& jpeg, quint16 orientation) {
  QByteArray tiff = QByteArray::fromHex("4D4D002A00000008");  // big-endian, IFD at 8
  tiff += QByteArray::fromHex("0001");                         // one entry
  tiff += QByteArray::fromHex("0112000300000001");             // Orientation, SHORT, 1
  tiff += char(orientation >> 8);
  tiff += char(orientation & 0xFF);
  tiff += QByteArray::fromHex("0000");
  tiff += QByteArray::fromHex("00000000");  // no next IFD
  const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
  const int length = static_cast<int>(payload.size()) + 2;
  QByteArray app1 = QByteArray::fromHex("FFE1");
  app1 += char(length >> 8);
  app1 += char(length & 0xFF);
  app1 += payload;
  return jpeg.left(2) + app1 + jpeg.mid(2);
}

// A PNG with a transparent background and an opaque black square in the middle.
inline QByteArray Transparent_Png(int side) {
  QImage image(side, side, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter(&image).fillRect(side / 4, side / 4, side / 2, side / 2, Qt::black);
  QByteArray bytes;
  QBuffer out(&bytes);
  out.open(QIODevice::WriteOnly);
  image.save(&out, "PNG");
  return bytes;
}

inline bool Near(QColor a, QColor b, int tolerance = 60) {
  return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
             std::abs(a.blue() - b.blue()) <=
         tolerance;
}

}  // namespace tamberlin::results::testing
