// End finders for PDF, gzip, bzip2 and xz on real files (QPdfWriter, zlib,
// the command-line compressors): whole, longer than their range, cut short,
// followed by garbage, joined end to end and with damaged check fields.
#include <gtest/gtest.h>

#include <QTemporaryFile>

#include <functional>
#include <string>

#include "gui_environment.h"
#include "recovery/item_fixture.h"
#include "run_tool.h"
#include "tools/sample_files/sample_files.h"

namespace tamberlin::recovery {
namespace {

using testing::Garbage, testing::Item, testing::Zeros;

// Text that compresses well between random runs that do not.
QByteArray Mixed_Data(int bytes, unsigned seed = 1) {
  const QByteArray text = QByteArray("A line that was on the card before it was lost\n").repeated(90);
  QByteArray out;
  for (unsigned i = 0; out.size() < bytes; ++i) out += i % 3 == 2 ? Garbage(4096, seed + i) : text;
  return out.left(bytes);
}
const QByteArray kData = Mixed_Data(300 * 1024), kMore = Mixed_Data(100000, 9);

// `first`: for joined members or streams, the length of the first one, else 0.
struct Made {
  QByteArray bytes;
  qsizetype first = 0;
  QString skip = {};
};

// `data` through `program -c` (gzip: without a name or time, as from standard input).
Made Compress(const char* program, const QByteArray& data) {
  QTemporaryFile in;
  if (!in.open() || in.write(data) != data.size() || !in.flush()) return {{}, 0, "cannot write the input"};
  const auto run = tamberlin::testing::Run_Tool(program, {QString(program) == "gzip" ? "-cn" : "-c", in.fileName()});
  return {run.out, 0, run.problem};
}

// A member written here, so the gzip cases always run: qCompress's deflate
// data behind a header with every optional field (header CRC at 31).
QByteArray Gzip_In_Process(const QByteArray& data) {
  const QByteArray z = qCompress(data, 9);  // size, zlib header, deflate, Adler-32
  QByteArray out = QByteArray::fromHex("1f8b081e0000000000030400") + "ab\x01\x02" + QByteArray("card.bin\0found\0", 15);
  samples::Put16(out, samples::Crc32(out) & 0xFFFF);
  out += z.mid(6, z.size() - 10);
  samples::Put32(out, samples::Crc32(data));
  samples::Put32(out, static_cast<std::uint32_t>(data.size()));
  return out;
}

QByteArray Pdf() { return samples::Make_Pdf("Notes", QString("Found on the card ").repeated(40)); }

Made Joined(const Made& a, const Made& b, const QByteArray& between = {}) {
  return {a.bytes + between + b.bytes, a.bytes.size(), a.skip.isEmpty() ? b.skip : a.skip};
}

// `finder` on `file` followed by `after` (and a range or limit when not 0) finds `expect` bytes (0: Unknown).
void Expect(const std::string& what, EndFinder finder, const QByteArray& file, const QByteArray& after,
            std::uint64_t expect, std::uint64_t range = 0, std::uint64_t limit = 0) {
  SCOPED_TRACE(what);
  const EndFinding f = Item(file, after, range, limit).Run(finder);
  EXPECT_EQ(f.found() ? f.length : 0, expect) << f.why;
}
std::uint64_t N(const QByteArray& b) { return static_cast<std::uint64_t>(b.size()); }

// name, finder, maker, bytes of check fields or of data they cover (negative: from the end)
using Case = std::tuple<const char*, EndFinder, std::function<Made()>, std::vector<qsizetype>>;

const Case kCases[] = {
    {"Pdf", Find_Pdf_End, [] { return Made{Pdf()}; }, {}},
    {"GzipInProcess", Find_Gzip_End, [] { return Made{Gzip_In_Process(kData)}; }, {31, 5000, -8, -1}},
    {"GzipTool", Find_Gzip_End, [] { return Compress("gzip", kData); }, {-8}},
    {"GzipMembers", Find_Gzip_End, [] { return Joined(Compress("gzip", kData), Made{Gzip_In_Process(kMore)}); }, {-5}},
    {"Bzip2Tool", Find_Bzip2_End, [] { return Compress("bzip2", kData); }, {11, -2}},  // block CRC, stream CRC
    {"Bzip2Streams", Find_Bzip2_End, [] { return Joined(Compress("bzip2", kData), Compress("bzip2", kMore)); }, {-2}},
    {"XzTool", Find_Xz_End, [] { return Compress("xz", kData); }, {7, -12, -13}},  // flags, footer, index CRC
    {"XzStreamsWithPadding", Find_Xz_End,
     [] { return Joined(Compress("xz", kData), Compress("xz", kMore), Zeros(8)); }, {-12}},
};

class StreamFormatTest : public ::testing::TestWithParam<Case> {};

// A cut, a limit inside the file or a flipped check byte in the last member
// leaves the whole ones before it (or Unknown); garbage after never counts.
TEST_P(StreamFormatTest, FindsTheExactEndAndNeverGuessesPastACut) {
  const auto& [name, finder, make, checks] = GetParam();
  const Made made = make();
  if (!made.skip.isEmpty()) GTEST_SKIP() << made.skip.toStdString();
  const QByteArray& file = made.bytes;
  const std::uint64_t size = N(file), before = static_cast<std::uint64_t>(made.first);
  const auto cut = static_cast<std::uint64_t>(made.first + (file.size() - made.first) * 2 / 3);
  Expect("zeros after", finder, file, Zeros(4096), size);
  Expect("garbage after", finder, file, Garbage(65536), size);
  Expect("longer than its range", finder, file, Garbage(65536), size, size / 2, size + 65536);
  Expect("cut short, garbage after", finder, file.left(static_cast<qsizetype>(cut)), Garbage(65536), before);
  Expect("limit ends inside it", finder, file, Garbage(65536), before, cut, cut);
  for (const qsizetype at : checks) {
    const qsizetype i = at < 0 ? file.size() + at : at;
    const QByteArray flipped = QByteArray(file).replace(i, 1, QByteArray(1, static_cast<char>(file[i] ^ 0x10)));
    Expect("byte flipped at " + std::to_string(at), finder, flipped, Zeros(4096), before);
  }
}

INSTANTIATE_TEST_SUITE_P(Real, StreamFormatTest, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(std::get<0>(param.param)); });

// bzip2 ends at any bit: many small sizes put its end mark at every
// alignment. Empty inputs make streams without any block.
TEST(StreamEndTest, SmallAndEmptyStreamsEndExactly) {
  for (const auto& [tool, finder] :
       {std::pair{"gzip", &Find_Gzip_End}, std::pair{"bzip2", &Find_Bzip2_End}, std::pair{"xz", &Find_Xz_End}}) {
    for (int n = 0; n < 12; ++n) {
      const Made made = Compress(tool, Garbage(n * 53, static_cast<unsigned>(n)));
      if (!made.skip.isEmpty()) GTEST_SKIP() << made.skip.toStdString();
      Expect(std::string(tool) + " of " + std::to_string(n * 53) + " bytes", finder, made.bytes, Garbage(4096),
             N(made.bytes));
    }
  }
}

// Fake footers in garbage: right CRC and flags, a 0x00 where the index would
// start, but no index whose own CRC holds. Padding not a multiple of 4 joins nothing.
TEST(StreamEndTest, XzFakeFootersAndOddPaddingAreNotTheEnd) {
  const Made made = Compress("xz", kData);
  if (!made.skip.isEmpty()) GTEST_SKIP() << made.skip.toStdString();
  // backward size (a 16-byte index) and the header's flags, behind their CRC
  const QByteArray body = QByteArray("\3\0\0\0", 4) + made.bytes.mid(6, 2);
  QByteArray footer, fakes = Garbage(65536, 5);
  samples::Put32(footer, samples::Crc32(body));
  footer += body + "YZ";
  for (int at = 16; at + 12 <= fakes.size(); at += 64) fakes.replace(at, 12, footer)[at - 16] = '\0';  // 4-aligned
  Expect("fake footers after", Find_Xz_End, made.bytes, fakes, N(made.bytes));
  Expect("cut, fake footers after", Find_Xz_End, made.bytes.left(made.bytes.size() / 8 * 4), fakes, 0);
  Expect("odd padding", Find_Xz_End, made.bytes + Zeros(6) + made.bytes, {}, N(made.bytes));
}

// The last %%EOF inside the range wins (incremental updates add more);
// with none there, the first one past it; then the line's end.
TEST(StreamEndTest, PdfLastEofInRangeElseFirstAfterIt) {
  const QByteArray pdf = Pdf(), bare = pdf.chopped(1);
  ASSERT_TRUE(pdf.startsWith("%PDF-") && pdf.endsWith("%%EOF\n"));
  const QByteArray updated = pdf + "5 0 obj\n<< /Title (Found) >>\nendobj\ntrailer\n<< /Prev 0 >>\n%%EOF\r\n";
  Expect("update appended", Find_Pdf_End, updated, Garbage(4096), N(updated));
  Expect("range ends inside the update", Find_Pdf_End, updated, Garbage(4096), N(pdf), N(pdf) + 10, N(updated) + 4096);
  Expect("range ends before any %%EOF", Find_Pdf_End, updated, Garbage(4096), N(pdf), N(pdf) / 2, N(updated) + 4096);
  Expect("limit cuts the first %%EOF", Find_Pdf_End, updated, Garbage(4096), 0, N(pdf) / 2, N(pdf) - 3);
  Expect("CRLF", Find_Pdf_End, bare + "\r\n", "X", N(bare) + 2);
  Expect("CR", Find_Pdf_End, bare + "\r", "X", N(bare) + 1);
  Expect("no line end", Find_Pdf_End, bare, "X\n", N(bare));
  // Another file between its two halves: the startxref offset misses.
  Expect("fragmented", Find_Pdf_End, pdf.left(1024) + Garbage(8192) + pdf.mid(1024), {}, 0, 1024, N(pdf) + 8192);
}

}  // namespace
}  // namespace tamberlin::recovery
