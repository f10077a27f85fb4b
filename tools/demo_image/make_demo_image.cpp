// Writes the demo disk image: 16 MiB of mostly empty sectors with some random
// stretches and a set of real files, each starting on a sector boundary, as
// if they had been left behind on a wiped memory card. A manifest beside the
// image (IMAGE.txt) lists where each file starts.
//
//   make_demo_image OUTPUT.img
//
// The output is the same on every run: all content is drawn or computed here
// and the random stretches come from a fixed seed.

#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/sample_files/sample_files.h"

namespace tamberlin {
namespace {

using samples::Crc32;
using samples::Put16;
using samples::Put32;

constexpr std::int64_t kSectorSize = 512;
constexpr std::int64_t kImageSectors = 32768;  // 16 MiB
constexpr std::int64_t kAlignSectors = 64;     // files start on 32 KiB boundaries

// ---------------------------------------------------------------- helpers

class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {  // xorshift64*
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1DULL;
  }
  QByteArray Bytes(qsizetype n) {
    QByteArray out(n, '\0');
    for (qsizetype i = 0; i < n; i += 8) {
      std::uint64_t v = Next();
      for (qsizetype k = 0; k < 8 && i + k < n; ++k, v >>= 8)
        out[i + k] = static_cast<char>(v & 0xFF);
    }
    return out;
  }

 private:
  std::uint64_t state_;
};

std::uint32_t U32(qsizetype v) { return static_cast<std::uint32_t>(v); }

// ---------------------------------------------------------------- pictures

QImage Draw_Picture(int width, int height, int variant, const QString& caption) {
  QImage img(width, height, QImage::Format_RGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  static const std::array<std::array<QColor, 2>, 4> skies = {{
      {QColor(30, 90, 200), QColor(250, 200, 120)},
      {QColor(10, 20, 60), QColor(200, 60, 90)},
      {QColor(120, 200, 240), QColor(240, 250, 255)},
      {QColor(40, 120, 60), QColor(230, 230, 120)},
  }};
  const auto& sky = skies[static_cast<std::size_t>(variant) % skies.size()];
  QLinearGradient bg(0, 0, 0, height);
  bg.setColorAt(0, sky[0]);
  bg.setColorAt(1, sky[1]);
  p.fillRect(img.rect(), bg);

  // A sun, some hills and a few stones: enough detail to compress like a photo.
  QRadialGradient sun(width * 0.75, height * 0.25, height * 0.15);
  sun.setColorAt(0, QColor(255, 255, 220));
  sun.setColorAt(1, QColor(255, 180, 60, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(sun);
  p.drawEllipse(QPointF(width * 0.75, height * 0.25), height * 0.15, height * 0.15);
  for (int i = 0; i < 3; ++i) {
    p.setBrush(QColor(30 + 40 * i, 110 - 20 * i + 10 * variant, 50 + 15 * i));
    p.drawEllipse(QPointF(width * (0.2 + 0.35 * i), height * (1.05 - 0.05 * i)), width * 0.45,
                  height * 0.35);
  }
  Random rnd(static_cast<std::uint64_t>(variant) * 7919 + 17);
  for (int i = 0; i < 24; ++i) {
    const auto x = static_cast<double>(rnd.Next() % static_cast<std::uint64_t>(width));
    const auto y = static_cast<double>(height) * 0.7 +
                   static_cast<double>(rnd.Next() % static_cast<std::uint64_t>(height / 4));
    const auto r = 3.0 + static_cast<double>(rnd.Next() % 12);
    p.setBrush(QColor::fromHsv(static_cast<int>(rnd.Next() % 360), 80, 160));
    p.drawEllipse(QPointF(x, y), r * 1.4, r);
  }
  QFont font("DejaVu Sans");
  font.setPixelSize(std::max(12, height / 12));
  font.setBold(true);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(img.rect().adjusted(10, 10, -10, -10), Qt::AlignLeft | Qt::AlignTop, caption);
  p.end();
  return img;
}

QByteArray Encode(const QImage& img, const char* format, int quality = -1) {
  QString error;
  QByteArray out = samples::Encode(img, format, quality, &error);
  if (out.isEmpty()) std::fprintf(stderr, "make_demo_image: cannot write %s: %s\n", format, qPrintable(error));
  return out;
}

QByteArray Make_Pdf() {
  return samples::Make_Pdf(
      QStringLiteral("Packing list"),
      QStringLiteral("Camera, two spare batteries and the charger.\n"
                     "Memory cards: the 8 GB one with the holiday pictures, the 16 GB spare.\n"
                     "Card reader and the USB stick with the backups.\n\n"
                     "Before leaving: copy the pictures to the laptop and check that "
                     "every folder opens. A card that was formatted by mistake still holds "
                     "its pictures until new ones are written over them."));
}

QByteArray Make_Zip() {
  return samples::Make_Stored_Zip({
      {"readme.txt", "These notes were zipped before the card was formatted.\n"},
      {"trip/itinerary.txt", "Day 1: harbour and old town\nDay 2: coast path, lighthouse\nDay 3: train home\n"},
      {"trip/contacts.csv", "name,phone\nGuesthouse,+00 000 0000\nTaxi,+00 000 0001\n"},
  });
}

QByteArray Make_Rtf() {
  return "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times New Roman;}}\n"
         "{\\pard\\b Letter to the photo club\\b0\\par}\n"
         "{\\pard Dear members, the pictures from the spring outing are on the club card. "
         "Please copy yours before the next meeting.\\par}\n"
         "{\\pard\\i Thank you!\\i0\\par}\n"
         "}\n";
}

// A gzip member holding one stored deflate block.
QByteArray Make_Gzip() {
  QByteArray text;
  for (int i = 1; i <= 60; ++i)
    text.append(QStringLiteral("2010-06-15 12:%1 camera: wrote IMG_%2.JPG\n")
                    .arg(i % 60, 2, 10, QChar('0'))
                    .arg(1000 + i)
                    .toLatin1());
  QByteArray out;
  out.append(static_cast<char>(0x1F));
  out.append(static_cast<char>(0x8B));
  out.append(static_cast<char>(0x08));  // deflate
  out.append('\0');                     // flags
  Put32(out, 0);                        // mtime
  out.append('\0');                     // extra flags
  out.append(static_cast<char>(3));     // Unix
  out.append(static_cast<char>(0x01));  // final block, stored
  Put16(out, U32(text.size()));
  Put16(out, ~U32(text.size()) & 0xFFFF);
  out.append(text);
  Put32(out, Crc32(text));
  Put32(out, U32(text.size()));
  return out;
}

// ---------------------------------------------------------------- the image

class Image_Builder {
 public:
  Image_Builder() : image_(kImageSectors * kSectorSize, '\0'), random_(0x7A3B'E5C1'0D15'C0DEULL) {}

  // Puts data at the next free aligned sector; returns false when it does not fit.
  bool Plant(const QByteArray& data, const char* type, const QString& note,
             std::int64_t skip_sectors = 0) {
    if (data.isEmpty()) {
      std::fprintf(stderr, "make_demo_image: no data for %s (%s)\n", type, qPrintable(note));
      return false;
    }
    const std::int64_t sector = Align(next_sector_ + skip_sectors);
    if (!Copy(sector, data)) return false;
    manifest_ += QStringLiteral("%1 %2 %3 %4\n").arg(sector).arg(type).arg(data.size()).arg(note);
    next_sector_ = sector + (data.size() + kSectorSize - 1) / kSectorSize;
    return true;
  }

  // Random bytes right after the last file, as left by an unrelated write.
  bool Noise(std::int64_t sectors) {
    if (!Copy(next_sector_, random_.Bytes(sectors * kSectorSize))) return false;
    next_sector_ += sectors;
    return true;
  }

  void Skip(std::int64_t sectors) { next_sector_ += sectors; }

  bool Save(const QString& path) const {
    QSaveFile img(path);
    if (!img.open(QIODevice::WriteOnly) || img.write(image_) != image_.size() || !img.commit()) {
      std::fprintf(stderr, "make_demo_image: cannot write %s\n", qPrintable(path));
      return false;
    }
    QSaveFile txt(path + ".txt");
    const QByteArray text =
        "# Files planted in " + path.section('/', -1).toUtf8() +
        " (sector size 512)\n"
        "# sector type bytes description\n" +
        manifest_.toUtf8();
    if (!txt.open(QIODevice::WriteOnly) || txt.write(text) != text.size() || !txt.commit()) {
      std::fprintf(stderr, "make_demo_image: cannot write %s.txt\n", qPrintable(path));
      return false;
    }
    return true;
  }

 private:
  static std::int64_t Align(std::int64_t s) {
    return (s + kAlignSectors - 1) / kAlignSectors * kAlignSectors;
  }
  bool Copy(std::int64_t sector, const QByteArray& data) {
    const std::int64_t offset = sector * kSectorSize;
    if (offset + data.size() > image_.size()) {
      std::fprintf(stderr, "make_demo_image: image full at sector %lld\n",
                   static_cast<long long>(sector));
      return false;
    }
    std::copy(data.begin(), data.end(), image_.begin() + offset);
    return true;
  }

  QByteArray image_;
  QString manifest_;
  Random random_;
  std::int64_t next_sector_ = 128;
};

void Quiet_Handler(QtMsgType type, const QMessageLogContext&, const QString& msg) {
  if (msg.contains("XDG_RUNTIME_DIR")) return;
  if (type != QtDebugMsg) std::fprintf(stderr, "%s\n", qPrintable(msg));
}

}  // namespace
}  // namespace tamberlin

int main(int argc, char** argv) {
  using namespace tamberlin;
  qInstallMessageHandler(Quiet_Handler);
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_demo_image OUTPUT.img\n");
    return 2;
  }

  Image_Builder b;
  bool ok = true;
  ok = ok && b.Noise(256);  // 128 KiB of leftovers near the start
  ok = ok && b.Plant(Encode(Draw_Picture(640, 480, 0, "Harbour 1"), "jpeg", 85), "jpg",
                     "640x480 JPEG photo", 256);
  ok = ok && b.Plant(Encode(Draw_Picture(1024, 768, 1, "Old town at night"), "jpeg", 90),
                     "jpg", "1024x768 JPEG photo");
  ok = ok && b.Noise(64);
  ok = ok && b.Plant(Encode(Draw_Picture(320, 240, 2, "Lighthouse"), "jpeg", 75), "jpg",
                     "320x240 JPEG photo", 128);
  {
    QImage icon = Draw_Picture(400, 300, 3, "Map").convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < icon.height(); ++y)  // transparent corner band
      for (int x = 0; x < icon.width(); ++x)
        if (x + y < 80) icon.setPixelColor(x, y, QColor(0, 0, 0, 0));
    ok = ok && b.Plant(Encode(icon, "png"), "png", "400x300 PNG with transparency");
  }
  ok = ok && b.Plant(samples::Make_Gif(160, 120), "gif", "160x120 GIF, 128 colours");
  ok = ok && b.Plant(Encode(Draw_Picture(200, 150, 1, "Ticket"), "bmp"), "bmp",
                     "200x150 BMP", 64);
  ok = ok && b.Plant(Encode(Draw_Picture(320, 240, 0, "Scan"), "tiff"), "tif",
                     "320x240 TIFF");
  ok = ok && b.Noise(512);  // 256 KiB
  {
    // A deleted photo whose tail was overwritten: only its first part is left.
    const QByteArray full = Encode(Draw_Picture(800, 600, 3, "Coast path"), "jpeg", 85);
    const QByteArray head = full.left(full.size() * 2 / 5);
    ok = ok && b.Plant(head, "jpg",
                       QStringLiteral("800x600 JPEG cut short: first %1 of %2 bytes, then "
                                      "random data")
                           .arg(head.size())
                           .arg(full.size()),
                       64);
    ok = ok && b.Noise(128);
  }
  ok = ok && b.Plant(Make_Pdf(), "pdf", "one-page PDF", 256);
  ok = ok && b.Plant(Make_Zip(), "zip", "ZIP archive, 3 stored entries");
  ok = ok && b.Plant(samples::Make_Wav(1000, 22050), "wav", "WAV, 1 s 440 Hz tone fading out, 16-bit mono 22050 Hz");
  ok = ok && b.Plant(Make_Rtf(), "rtf", "RTF letter");
  ok = ok && b.Plant(Make_Gzip(), "gz", "gzip, one stored block");
  ok = ok && b.Noise(1024);  // 512 KiB
  ok = ok && b.Plant(Encode(Draw_Picture(1600, 1200, 2, "Beach panorama"), "jpeg", 92), "jpg",
                     "1600x1200 JPEG photo", 2048);
  if (QImageWriter::supportedImageFormats().contains("webp"))
    ok = ok && b.Plant(Encode(Draw_Picture(480, 320, 1, "Sunset"), "webp", 80), "webp",
                       "480x320 WebP");
  ok = ok && b.Plant(Encode(Draw_Picture(640, 480, 2, "Harbour 2"), "jpeg", 85), "jpg",
                     "640x480 JPEG photo", 1024);
  ok = ok && b.Save(QString::fromLocal8Bit(argv[1]));
  return ok ? 0 : 1;
}
