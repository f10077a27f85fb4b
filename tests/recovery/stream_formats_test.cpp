// End finders for PDF, gzip, bzip2 and xz on real files (QPdfWriter, zlib,
// the command-line compressors): whole, longer than their range, cut short,
// followed by garbage, joined end to end and with damaged check fields.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>

#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include "gui_environment.h"
#include "recovery/item_fixture.h"
#include "sample_files.h"

namespace tamberlin::recovery {
namespace {

using testing::Garbage;
using testing::Item;
using testing::Zeros;

// Text that compresses well between random runs that do not.
QByteArray Mixed_Data(int bytes, unsigned seed = 1) {
  const QByteArray text = QByteArray("A line that was on the card before it was lost\n").repeated(90);
  QByteArray out;
  for (unsigned i = 0; out.size() < bytes; ++i) out += i % 3 == 2 ? Garbage(4096, seed + i) : text;
  return out.left(bytes);
}
const QByteArray& Data() {
  static const QByteArray data = Mixed_Data(300 * 1024);
  return data;
}

// `first`: for joined members or streams, the length of the first one, else 0.
struct Made {
  QByteArray bytes;
  qsizetype first = 0;
  QString skip;
};
Made Ok(const QByteArray& bytes, qsizetype first = 0) { return {bytes, first, {}}; }

// `data` through `program -c` from standard input.
Made Compress(const char* program, const QByteArray& data) {
  const QString name = QString::fromLatin1(program), exe = QStandardPaths::findExecutable(name);
  if (exe.isEmpty()) return {{}, 0, name + " is not installed"};
  QProcess p;
  p.start(exe, {QStringLiteral("-c")});
  p.write(data);
  p.closeWriteChannel();
  if (!p.waitForFinished(120000) || p.exitCode() != 0) return {{}, 0, name + " failed"};
  return Ok(p.readAllStandardOutput());
}

// A member written here, so the gzip cases always run: qCompress's deflate
// data behind a header with every optional field (header CRC at 31).
Made Gzip_In_Process(const QByteArray& data) {
  const QByteArray z = qCompress(data, 9);  // size, zlib header, deflate, Adler-32
  QByteArray out = QByteArray::fromHex("1f8b081e0000000000030400") + "ab\x01\x02" + QByteArray("card.bin\0found\0", 15);
  samples::Put16(out, samples::Crc32(out) & 0xFFFF);
  out += z.mid(6, z.size() - 10);
  samples::Put32(out, samples::Crc32(data));
  samples::Put32(out, static_cast<std::uint32_t>(data.size()));
  return Ok(out);
}

Made Pdf() { return Ok(samples::Make_Pdf(QStringLiteral("Notes"), QStringLiteral("Found on the card ").repeated(40))); }

Made Joined(const Made& a, const Made& b, const QByteArray& between = {}) {
  if (!a.skip.isEmpty() || !b.skip.isEmpty()) return a.skip.isEmpty() ? b : a;
  return Ok(a.bytes + between + b.bytes, a.bytes.size());
}

struct Case {
  const char* name;
  EndFinder finder;
  std::function<Made()> make;
  std::vector<qsizetype> checks;  // bytes of check fields or of data they cover; negative: from the end
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

const Case kCases[] = {
    {"Pdf", Find_Pdf_End, Pdf, {}},
    {"GzipInProcess", Find_Gzip_End, [] { return Gzip_In_Process(Data()); }, {31, 5000, -8, -1}},
    {"GzipTool", Find_Gzip_End, [] { return Compress("gzip", Data()); }, {-8}},
    {"GzipMembers", Find_Gzip_End,
     [] { return Joined(Compress("gzip", Data()), Gzip_In_Process(Mixed_Data(100000, 9))); }, {-5}},
    {"Bzip2Tool", Find_Bzip2_End, [] { return Compress("bzip2", Data()); }, {11, -2}},  // block CRC, stream CRC
    {"Bzip2Streams", Find_Bzip2_End,
     [] { return Joined(Compress("bzip2", Data()), Compress("bzip2", Mixed_Data(100000, 9))); }, {-2}},
    {"XzTool", Find_Xz_End, [] { return Compress("xz", Data()); }, {7, -12, -13}},  // flags, footer, index CRC
    {"XzStreamsWithPadding", Find_Xz_End,
     [] { return Joined(Compress("xz", Data()), Compress("xz", Mixed_Data(100000, 9)), Zeros(8)); }, {-12}},
};

class StreamFormatTest : public ::testing::TestWithParam<Case> {};

// A cut, a limit inside the file or a flipped check byte in the last member
// leaves the whole ones before it (or Unknown); garbage after never counts.
TEST_P(StreamFormatTest, FindsTheExactEndAndNeverGuessesPastACut) {
  const Made made = GetParam().make();
  if (!made.skip.isEmpty()) GTEST_SKIP() << made.skip.toStdString();
  const QByteArray& file = made.bytes;
  const auto size = static_cast<std::uint64_t>(file.size()), whole_before = static_cast<std::uint64_t>(made.first);
  const auto cut = static_cast<std::uint64_t>(made.first + (file.size() - made.first) * 2 / 3);
  struct Variant {
    std::string what;
    QByteArray file, after;
    std::uint64_t range, limit, expect;  // 0: Unknown
  };
  std::vector<Variant> variants = {
      {"zeros after", file, Zeros(4096), 0, 0, size},
      {"garbage after", file, Garbage(65536), 0, 0, size},
      {"longer than its range", file, Garbage(65536), size / 2, size + 65536, size},
      {"cut short, garbage after", file.left(static_cast<qsizetype>(cut)), Garbage(65536), 0, 0, whole_before},
      {"limit ends inside it", file, Garbage(65536), cut, cut, whole_before},
      {"not this format", Garbage(8192, 3), {}, 0, 0, 0},
      {"random bytes behind the signature", file.left(3) + Garbage(8192, 3), {}, 0, 0, 0},
  };
  for (const qsizetype at : GetParam().checks) {
    QByteArray flipped = file;
    flipped[at < 0 ? file.size() + at : at] ^= 0x10;
    variants.push_back({"byte flipped at " + std::to_string(at), flipped, Zeros(4096), 0, 0, whole_before});
  }
  for (const auto& v : variants) {
    SCOPED_TRACE(v.what);
    Item item(v.file, v.after, v.range, v.limit);
    const EndFinding f = item.Run(GetParam().finder);
    EXPECT_EQ(f.found() ? f.length : 0, v.expect) << f.why;
    if (v.what.starts_with("not this format") || v.what.starts_with("random bytes")) {
      EXPECT_TRUE(f.not_this_format()) << f.why;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Real, StreamFormatTest, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

// bzip2 ends at any bit: many small sizes put its end mark at every
// alignment. Empty inputs make streams without any block.
TEST(StreamEndTest, SmallAndEmptyStreamsEndExactly) {
  const std::pair<const char*, EndFinder> tools[] = {
      {"gzip", Find_Gzip_End}, {"bzip2", Find_Bzip2_End}, {"xz", Find_Xz_End}};
  for (const auto& [tool, finder] : tools) {
    for (int n = 0; n < 12; ++n) {
      SCOPED_TRACE(std::string(tool) + " of " + std::to_string(n * 53) + " bytes");
      const Made made = Compress(tool, Garbage(n * 53, static_cast<unsigned>(n)));
      if (!made.skip.isEmpty()) GTEST_SKIP() << made.skip.toStdString();
      Item item(made.bytes, Garbage(4096));
      EXPECT_EQ(item.Run(finder).length, static_cast<std::uint64_t>(made.bytes.size()));
    }
  }
}

// Fake footers in garbage: right CRC and flags, a 0x00 where the index would
// start, but no index whose own CRC holds. Padding not a multiple of 4 joins nothing.
TEST(StreamEndTest, XzFakeFootersAndOddPaddingAreNotTheEnd) {
  const Made made = Compress("xz", Data());
  if (!made.skip.isEmpty()) GTEST_SKIP() << made.skip.toStdString();
  QByteArray body, footer, fakes = Garbage(65536, 5);
  samples::Put32(body, 3);       // backward size: a 16-byte index
  body += made.bytes.mid(6, 2);  // the header's flags
  samples::Put32(footer, samples::Crc32(body));
  footer += body + "YZ";
  for (int at = 16; at + 12 <= fakes.size(); at += 64) {  // 4-aligned: xz files are
    fakes[at - 16] = '\0';
    fakes.replace(at, 12, footer);
  }
  const auto size = static_cast<std::uint64_t>(made.bytes.size());
  Item whole(made.bytes, fakes), cut(made.bytes.left(made.bytes.size() / 8 * 4), fakes);
  Item odd_padding(made.bytes + Zeros(6) + made.bytes);
  EXPECT_EQ(whole.Run(Find_Xz_End).length, size);
  EXPECT_FALSE(cut.Run(Find_Xz_End).found());
  EXPECT_EQ(odd_padding.Run(Find_Xz_End).length, size);
}

// The last %%EOF inside the range wins (incremental updates add more);
// with none there, the first one past it; then the line's end.
TEST(StreamEndTest, PdfLastEofInRangeElseFirstAfterIt) {
  const QByteArray pdf = Pdf().bytes;
  ASSERT_TRUE(pdf.startsWith("%PDF-") && pdf.endsWith("%%EOF\n"));
  const QByteArray updated = pdf + "5 0 obj\n<< /Title (Found) >>\nendobj\ntrailer\n<< /Prev 0 >>\n%%EOF\r\n";
  const QByteArray bare = pdf.chopped(1);
  const auto n = [](const QByteArray& b) { return static_cast<std::uint64_t>(b.size()); };
  const struct {
    const char* what;
    QByteArray file, after;
    std::uint64_t range, limit, expect;
  } cases[] = {
      {"update appended", updated, Garbage(4096), 0, 0, n(updated)},
      {"range ends inside the update", updated, Garbage(4096), n(pdf) + 10, n(updated) + 4096, n(pdf)},
      {"range ends before any %%EOF", updated, Garbage(4096), n(pdf) / 2, n(updated) + 4096, n(pdf)},
      {"limit cuts the first %%EOF", updated, Garbage(4096), n(pdf) / 2, n(pdf) - 3, 0},
      {"CRLF", bare + "\r\n", "X", 0, 0, n(bare) + 2},
      {"CR", bare + "\r", "X", 0, 0, n(bare) + 1},
      {"no line end", bare, "X\n", 0, 0, n(bare)},
      // Another file between the two parts: the startxref offset misses.
      {"fragmented", pdf.left(1024) + Garbage(8192) + pdf.mid(1024), "", 1024, n(pdf) + 8192, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Item item(c.file, c.after, c.range, c.limit);
    const EndFinding f = item.Run(Find_Pdf_End);
    EXPECT_EQ(f.found() ? f.length : 0, c.expect) << f.why;
  }
}

}  // namespace
}  // namespace tamberlin::recovery
