// Real files made in memory, for the demo image and the tests: little-endian
// and big-endian writers, CRC-32, a GIF, stored zip archives, a WAV, a PDF
// and a test picture. Every maker gives the same bytes on every run.
//
// The picture and PDF makers draw with QPainter, so they need a
// QGuiApplication (offscreen is enough).
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstdint>
#include <vector>

namespace tamberlin::samples {

void Put16(QByteArray& out, std::uint32_t v);  // little-endian
void Put32(QByteArray& out, std::uint32_t v);
void Put16_Be(QByteArray& out, std::uint32_t v);
void Put32_Be(QByteArray& out, std::uint32_t v);

// The zip and gzip CRC-32 (reflected polynomial 0xEDB88320).
std::uint32_t Crc32(const QByteArray& data);

// A gradient with a circle on it; `seed` shifts the colours.
QImage Test_Picture(int width, int height, int seed = 0);

// `image` written by Qt's writer for `format` ("jpeg", "png", ...); empty,
// with the writer's reason in `error`, when it cannot.
QByteArray Encode(const QImage& image, const char* format, int quality = -1, QString* error = nullptr);

// GIF89a with a 128-colour palette and hand-written LZW: the palette colour
// of pixel (x, y) is number (x/4 + 3*(y/4)) % 128, QColor::fromHsv(n*360/128, 200, 230).
QByteArray Make_Gif(int width, int height);

// A zip archive with stored (uncompressed) entries, in the order given,
// all dated 2010-06-15 12:30:00.
struct ZipEntry {
  QByteArray name;
  QByteArray data;
};
QByteArray Make_Stored_Zip(const std::vector<ZipEntry>& entries);

// A Word document: a stored zip whose first entry is [Content_Types].xml,
// holding `paragraphs` numbered paragraphs.
QByteArray Make_Docx(int paragraphs);

// RIFF/WAVE, 16-bit mono PCM: a 440 Hz tone fading out.
QByteArray Make_Wav(int milliseconds, std::uint32_t sample_rate);

// A one-page A5 PDF from QPdfWriter with a bold title and wrapped body text;
// the time stamps and document ids it writes are replaced by fixed ones.
QByteArray Make_Pdf(const QString& title, const QString& body);

}  // namespace tamberlin::samples
