#include "tools/sample_files/sample_files.h"

#include <QBuffer>
#include <QColor>
#include <QFont>
#include <QImageWriter>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>

#include <array>
#include <cmath>
#include <numbers>

namespace tamberlin::samples {
namespace {

std::uint32_t U32(qsizetype v) { return static_cast<std::uint32_t>(v); }

}  // namespace

void Put16(QByteArray& out, std::uint32_t v) {
  out.append(static_cast<char>(v & 0xFF));
  out.append(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(QByteArray& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void Put16_Be(QByteArray& out, std::uint32_t v) {
  out.append(static_cast<char>((v >> 8) & 0xFF));
  out.append(static_cast<char>(v & 0xFF));
}
void Put32_Be(QByteArray& out, std::uint32_t v) {
  Put16_Be(out, v >> 16);
  Put16_Be(out, v & 0xFFFF);
}

std::uint32_t Crc32(const QByteArray& data) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char ch : data) crc = table[(crc ^ static_cast<std::uint8_t>(ch)) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

QImage Test_Picture(int width, int height, int seed) {
  QImage img(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
    for (int x = 0; x < width; ++x) {
      const int r = (x * 255 / width + seed * 40) & 0xFF;
      const int g = (y * 255 / height) & 0xFF;
      const int b = ((x ^ y) * 7 + seed * 13) & 0xFF;
      line[x] = qRgb(r, g, b);
    }
  }
  QPainter p(&img);
  p.setPen(QPen(Qt::white, 3));
  p.drawEllipse(width / 4, height / 4, width / 2, height / 2);
  return img;
}

QByteArray Encode(const QImage& image, const char* format, int quality, QString* error) {
  QByteArray out;
  QBuffer buf(&out);
  buf.open(QIODevice::WriteOnly);
  QImageWriter writer(&buf, format);
  if (quality >= 0) writer.setQuality(quality);
  if (!writer.write(image)) {
    if (error) *error = writer.errorString();
    return {};
  }
  return out;
}

QByteArray Make_Gif(int width, int height) {
  // With a 7-bit minimum code size the codes start 8 bits wide; a clear code
  // before every 126 pixels keeps the table from growing past 8 bits, so
  // every code is one byte and no bit packing is needed.
  constexpr int kMinCodeSize = 7;
  constexpr std::uint8_t kClear = 1 << kMinCodeSize;
  constexpr std::uint8_t kEnd = kClear + 1;
  QByteArray gif("GIF89a", 6);
  Put16(gif, U32(width));
  Put16(gif, U32(height));
  gif.append(static_cast<char>(0x80 | 0x70 | (kMinCodeSize - 1)));  // global table, 8-bit colour, 2^7 entries
  gif.append('\0');  // background colour
  gif.append('\0');  // aspect ratio
  for (int i = 0; i < 128; ++i) {
    const QColor c = QColor::fromHsv(i * 360 / 128, 200, 230);
    gif.append(static_cast<char>(c.red()));
    gif.append(static_cast<char>(c.green()));
    gif.append(static_cast<char>(c.blue()));
  }
  gif.append(',');
  Put16(gif, 0);
  Put16(gif, 0);
  Put16(gif, U32(width));
  Put16(gif, U32(height));
  gif.append('\0');  // no local table, not interlaced
  gif.append(static_cast<char>(kMinCodeSize));

  QByteArray codes;
  int run = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (run == 0) codes.append(static_cast<char>(kClear));
      codes.append(static_cast<char>(((x / 4) + (y / 4) * 3) % 128));
      run = (run + 1) % 126;
    }
  }
  codes.append(static_cast<char>(kEnd));
  for (qsizetype at = 0; at < codes.size(); at += 255) {
    const QByteArray block = codes.mid(at, 255);
    gif.append(static_cast<char>(block.size()));
    gif += block;
  }
  gif.append('\0');  // end of image data
  gif.append(';');   // trailer
  return gif;
}

QByteArray Make_Stored_Zip(const std::vector<ZipEntry>& entries) {
  constexpr std::uint32_t kDosTime = (12u << 11) | (30u << 5);                  // 12:30:00
  constexpr std::uint32_t kDosDate = ((2010u - 1980u) << 9) | (6u << 5) | 15u;  // 2010-06-15
  QByteArray out;
  QByteArray central;
  for (const ZipEntry& e : entries) {
    const auto offset = U32(out.size());
    const std::uint32_t crc = Crc32(e.data);
    const auto size = U32(e.data.size());
    const auto name_len = U32(e.name.size());
    // The fields after the signature are the same in both headers, but for
    // the central one's leading "version made by".
    QByteArray common;
    Put16(common, 20);  // version needed
    Put16(common, 0);   // flags
    Put16(common, 0);   // stored
    Put16(common, kDosTime);
    Put16(common, kDosDate);
    Put32(common, crc);
    Put32(common, size);
    Put32(common, size);
    Put16(common, name_len);
    Put16(common, 0);  // extra

    out += QByteArray("PK\x03\x04", 4) + common + e.name + e.data;

    central += QByteArray("PK\x01\x02", 4);
    Put16(central, 20);  // made by
    central += common;
    Put16(central, 0);  // comment
    Put16(central, 0);  // disk
    Put16(central, 0);  // internal attributes
    Put32(central, 0);  // external attributes
    Put32(central, offset);
    central += e.name;
  }
  const auto central_at = U32(out.size());
  out += central;
  out += QByteArray("PK\x05\x06", 4);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, U32(entries.size()));
  Put16(out, U32(entries.size()));
  Put32(out, U32(central.size()));
  Put32(out, central_at);
  Put16(out, 0);  // comment length
  return out;
}

QByteArray Make_Docx(int paragraphs) {
  QByteArray text;
  for (int i = 0; i < paragraphs; ++i)
    text += "<w:p><w:r><w:t>Paragraph " + QByteArray::number(i + 1) + " of the minutes.</w:t></w:r></w:p>";
  return Make_Stored_Zip({
      {"[Content_Types].xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
       "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
       "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
       "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
       "<Override PartName=\"/word/document.xml\" "
       "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
       "</Types>"},
      {"_rels/.rels",
       "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
       "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
       "<Relationship Id=\"rId1\" "
       "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
       "Target=\"word/document.xml\"/></Relationships>"},
      {"word/document.xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
       "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:body>" +
           text + "</w:body></w:document>"},
  });
}

QByteArray Make_Wav(int milliseconds, std::uint32_t sample_rate) {
  const auto count = static_cast<std::uint32_t>(static_cast<std::uint64_t>(sample_rate) *
                                                static_cast<std::uint32_t>(milliseconds) / 1000);
  QByteArray pcm;
  for (std::uint32_t i = 0; i < count; ++i) {
    const double fade = 1.0 - static_cast<double>(i) / count;
    const double v = std::sin(2.0 * std::numbers::pi * 440.0 * i / sample_rate) * fade * 12000.0;
    Put16(pcm, static_cast<std::uint32_t>(static_cast<std::int16_t>(std::lround(v))) & 0xFFFF);
  }
  QByteArray wav("RIFF", 4);
  Put32(wav, U32(36 + pcm.size()));
  wav += QByteArray("WAVEfmt ", 8);
  Put32(wav, 16);
  Put16(wav, 1);  // PCM
  Put16(wav, 1);  // mono
  Put32(wav, sample_rate);
  Put32(wav, sample_rate * 2);
  Put16(wav, 2);   // bytes per frame
  Put16(wav, 16);  // bits per sample
  wav += QByteArray("data", 4);
  Put32(wav, U32(pcm.size()));
  return wav + pcm;
}

QByteArray Make_Pdf(const QString& title, const QString& body) {
  QByteArray out;
  QBuffer buf(&out);
  buf.open(QIODevice::WriteOnly);
  {
    QPdfWriter pdf(&buf);
    pdf.setPageSize(QPageSize(QPageSize::A5));
    pdf.setResolution(72);
    pdf.setTitle(title);
    pdf.setCreator(QStringLiteral("Tamberlin"));
    QPainter p(&pdf);
    QFont heading(QStringLiteral("DejaVu Sans"));
    heading.setPixelSize(22);
    heading.setBold(true);
    p.setFont(heading);
    p.drawText(QRectF(40, 40, 340, 40), title);
    QFont text(QStringLiteral("DejaVu Sans"));
    text.setPixelSize(12);
    p.setFont(text);
    p.drawText(QRectF(40, 90, 340, 460), Qt::TextWordWrap, body);
  }
  // QPdfWriter stamps the current time and a fresh document id into the file;
  // replace them with fixed text of the same length so the cross-reference
  // table stays valid. Digits are replaced in order from a fixed date
  // (2010-06-15 12:30:00), hex letters by 'a'.
  auto fix = [&out](const char* pattern) {
    static constexpr char kDigits[] = "20100615123000";
    const QRegularExpression re(QString::fromLatin1(pattern));
    const QString text = QString::fromLatin1(out);  // one character per byte
    auto it = re.globalMatch(text);
    while (it.hasNext()) {
      const auto m = it.next();
      std::size_t d = 0;
      for (qsizetype i = m.capturedStart(1); i < m.capturedEnd(1); ++i) {
        if (out[i] >= '0' && out[i] <= '9') {
          out[i] = d < sizeof kDigits - 1 ? kDigits[d] : '0';
          ++d;
        } else if ((out[i] >= 'a' && out[i] <= 'f') || (out[i] >= 'A' && out[i] <= 'F')) {
          out[i] = 'a';
        }
      }
    }
  };
  fix(R"(/CreationDate \(D:([^)]*)\))");
  fix(R"(/ModDate \(D:([^)]*)\))");
  fix(R"(<xmp:CreateDate>([^<]*)<)");
  fix(R"(<xmp:ModifyDate>([^<]*)<)");
  fix(R"(<xmp:MetadataDate>([^<]*)<)");
  fix(R"(<xmpMM:DocumentID>uuid:([^<]*)<)");
  fix(R"(<xmpMM:InstanceID>uuid:([^<]*)<)");
  fix(R"(/ID \[([^\]]*)\])");
  return out;
}

}  // namespace tamberlin::samples
