// End finders and structure checks for archives, compressed streams (PDF,
// gzip, bzip2, xz, also joined end to end), executables, documents and
// fonts on real files made here (zip, 7z, zstd, lz4, sqlite3, gcab, arj,
// jlha, compress, dpkg-deb, gcc, the system's fonts) or built field by field
// from the formats' documentation (RAR 4 and 5, PE, RPM, Java class, TTC,
// WOFF, DjVu, Blender, torrent): whole, followed by zeros or garbage, longer
// than their range, cut short, limited inside, and with damaged header fields.
// Type_From_Content over files built here: the member names of zips, the
// streams of compound files, EBML doc types, PE flags, ASF streams, DVD
// packs and PostScript first lines; damaged or foreign bytes keep the type.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtEndian>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "gui_environment.h"
#include "recovery/content_type.h"
#include "recovery/format_samples.h"
#include "tools/sample_files/sample_files.h"

namespace tamberlin::recovery {
namespace {

using testing::Garbage, testing::Item, testing::Zeros, testing::Le, testing::Be;

// `finder` on `file` followed by `after` (and a range or limit when not 0) finds `expect` bytes (0: no end) and,
// unless `format` is 0, says the start is (1) or is not (-1) this format.
void Expect(const std::string& what, EndFinder finder, const QByteArray& file, const QByteArray& after,
            std::uint64_t expect, int format = 0, std::uint64_t range = 0, std::uint64_t limit = 0) {
  SCOPED_TRACE(what);
  const EndFinding f = Item(file, after, range, limit).Run(finder);
  EXPECT_EQ(f.found() ? f.length : 0, expect) << f.why;
  EXPECT_TRUE(format == 0 || f.not_this_format() == (format < 0)) << f.why;
}
QByteArray Flip(QByteArray b, qsizetype at) { return b.replace(at, 1, QByteArray(1, static_cast<char>(b[at] ^ 0x5A))); }
QByteArray Lines(const char* head, const char* line, int n, const char* tail) {
  return head + QByteArray(line).repeated(n) + tail;
}
// `head` over random bytes, `size` in all.
QByteArray Fill(const QByteArray& h, int size, unsigned seed) { return Garbage(size, seed).replace(0, h.size(), h); }
std::uint64_t N(const QByteArray& b) { return static_cast<std::uint64_t>(b.size()); }
std::uint32_t Get32_Be(const QByteArray& b, qsizetype at) { return qFromBigEndian<std::uint32_t>(b.constData() + at); }

QByteArray Notes() {
  QByteArray text;
  for (int i = 0; text.size() < 40000; ++i) text += "Line " + QByteArray::number(i) + " of the notes on the card\n";
  return text;
}

// No file: the test is skipped, and this says why.
QByteArray None(const QString& why) {
  qWarning("%s", qPrintable(why));
  return {};
}

// A file made by `program` in a fresh folder holding notes.txt, data.bin and `files`.
std::function<QByteArray()> By(const QString& program, const QStringList& args, const QString& output,
                               std::vector<std::pair<QString, QByteArray>> files = {}) {
  files.insert(files.begin(), {{"notes.txt", Notes()}, {"data.bin", Garbage(30000, 11)}});
  return [=] {
    const testing::Made made = testing::Run_Tool(program, args, output, [&](const QDir& dir) {
      for (const auto& [name, bytes] : files) {
        QFile f(dir.filePath(name));
        if (dir.mkpath(QFileInfo(name).path()) && f.open(QIODevice::WriteOnly)) f.write(bytes);
      }
    });
    return made.skip.isEmpty() ? made.bytes : None(made.skip);
  };
}

const char* kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
QByteArray Font() {
  QFile f(kFont);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : None(QString(kFont) + " is not there");
}

// ---- built by hand

// RAR 4: marker, main header, one stored file, end of archive.
QByteArray Rar4() {
  const auto block = [](int type, int flags, const QByteArray& rest) {
    const QByteArray h = static_cast<char>(type) + Le<2>(flags, rest.size() + 7) + rest;
    return Le<2>(samples::Crc32(h) & 0xFFFF) + h;
  };
  const QByteArray data = Notes().left(5000);
  // sizes, host OS, CRC, time, version 2.0, stored, name length, attributes
  const QByteArray file = Le<4>(data.size(), data.size()) + '\x02' + Le<4>(samples::Crc32(data), 0x5A2B3C4D) +
                          "\x14\x30" + Le<2>(9) + Le<4>(0x20) + "notes.txt";
  return {QByteArray("Rar!\x1A\x07\x00", 7) + block(0x73, 0, Zeros(6)) + block(0x74, 0x8000, file) + data +
          block(0x7B, 0x4000, {})};
}

// RAR 5: blocks of CRC, size and fields in variable-length integers.
QByteArray Rar5() {
  const auto vint = [](auto... vs) {
    QByteArray out;
    for (std::uint64_t v : {static_cast<std::uint64_t>(vs)...})
      for (bool more = true; more; v >>= 7) out += static_cast<char>((v & 0x7F) | ((more = v > 0x7F) ? 0x80 : 0));
    return out;
  };
  const auto block = [&vint](const QByteArray& fields) {
    const QByteArray sized = vint(fields.size()) + fields;
    return Le<4>(samples::Crc32(sized)) + sized;
  };
  const QByteArray data = Notes().left(7000);
  return {QByteArray("Rar!\x1A\x07\x01\x00", 8) + block(vint(1, 0, 0)) +
          block(vint(2, 2, data.size(), 0, data.size(), 0x20, 0, 0, 9) + "notes.txt") + data + block(vint(5, 0, 0))};
}

// A PE32+ image: headers with these characteristics, two sections and (when `signed_image`) a certificate
// table after them.
QByteArray Pe(bool signed_image, std::uint16_t characteristics = 0x22) {
  QByteArray opt = Le<2>(0x20B) + Zeros(0xEE);  // alignments, size of headers, directories, certificates
  opt.replace(32, 8, Le<4>(0x1000, 0x200)).replace(60, 4, Le<4>(0x400)).replace(108, 4, Le<4>(16));
  if (signed_image) opt.replace(112 + 4 * 8, 8, Le<4>(0xC00, 0x100));
  QByteArray f = "MZ" + Zeros(0x3A) + Le<4>(0x80) + Zeros(0x40) + "PE" + Le<2>(0, 0x8664, 2) + Le<4>(0, 0, 0) +
                 Le<2>(0xF0, characteristics) + opt;
  for (const auto& [name, at, size] : {std::tuple{".text", 0x400, 0x600}, std::tuple{".data", 0xA00, 0x200}})
    f += QByteArray(name).leftJustified(8, '\0') + Le<4>(0x1000, at * 2, size, at) + Zeros(16);
  f = f.leftJustified(0x400, '\0');
  for (int i = 0x400; i < 0xC00; ++i) f += static_cast<char>(i * 7);
  return {signed_image ? f + Garbage(0x100, 4) : f};
}

// RPM: lead, signature header with the size of header and payload, header, payload.
QByteArray Rpm() {
  const QByteArray lead = QByteArray("\xED\xAB\xEE\xDB\x03").leftJustified(10, '\0') +
                          QByteArray("notes-1.0").leftJustified(69, '\0') + '\x05' + Zeros(16);
  const auto header = [](int tag, int type, const QByteArray& store) {
    return QByteArray("\x8E\xAD\xE8\x01\0\0\0\0", 8) + Be<4>(1, store.size(), tag, type, 0, 1) + store;
  };
  const QByteArray main = header(1000, 6, "notes"), payload = qCompress(Notes()).mid(4);
  const QByteArray signature = header(1000, 4, Be<4>(main.size() + payload.size()));
  return {lead + signature.leftJustified((signature.size() + 7) / 8 * 8, '\0') + main + payload};
}

// A Java class: a small constant pool, no fields, one method with a Code
// attribute, and a SourceFile attribute.
QByteArray Java_Class() {
  QByteArray c = "\xCA\xFE\xBA\xBE" + Be<2>(0, 61, 12);
  for (const QByteArray n : {"Notes", "java/lang/Object", "main", "()V", "Code", "SourceFile", "Notes.java"})
    c += '\x01' + Be<2>(n.size()) + n;
  // #8 class Notes, #9 class Object, #10 a long taking #11 too; flags, this, super, no interfaces or fields,
  // one method with its Code attribute, one SourceFile attribute
  return {c + QByteArray("\x07\x00\x01\x07\x00\x02\x05\0\0\0\0\0\0\0\x2A", 15) +
          Be<2>(0x21, 8, 9, 0, 0, 1, 9, 3, 4, 1, 5) + Be<4>(13) + QByteArray("\0\0\0\x01\0\0\0\x01\xB1\0\0\0\0", 13) +
          Be<2>(1, 6) + Be<4>(2) + Be<2>(7)};
}

// A collection of one font: the font moved 16 bytes on, its table offsets too.
QByteArray Ttc() {
  QByteArray f = Font();
  for (int i = 0; !f.isEmpty() && i < qFromBigEndian<std::uint16_t>(f.constData() + 4); ++i)
    f.replace(20 + 16 * i, 4, Be<4>(Get32_Be(f, 20 + 16 * i) + 16));
  return f.isEmpty() ? f : QByteArray("ttcf\0\1\0\0", 8) + Be<4>(1, 16) + f;
}

// WOFF with every table stored uncompressed.
QByteArray Woff() {
  const QByteArray f = Font();
  const int tables = f.isEmpty() ? 0 : qFromBigEndian<std::uint16_t>(f.constData() + 4);
  QByteArray directory, data;
  for (qsizetype e = 12; e < 12 + 16 * tables; e += 16) {
    const std::uint32_t length = Get32_Be(f, e + 12);
    directory += f.mid(e, 4) + Be<4>(44 + 20 * tables + data.size(), length, length, Get32_Be(f, e + 4));
    data += f.mid(Get32_Be(f, e + 8), length).leftJustified((length + 3) / 4 * 4, '\0');
  }
  // no versions, metadata or private data
  return f.isEmpty() ? f
                     : QByteArray("wOFF\0\1\0\0", 8) + Be<4>(44 + 20 * tables + data.size()) + Be<2>(tables, 0) +
                           Be<4>(f.size()) + Zeros(24) + directory + data;
}

QByteArray Blend() {
  QByteArray f("BLENDER-v300");
  for (const auto& [code, size] : {std::pair{"REND", 72}, std::pair{"GLOB", 1024}, std::pair{"DNA1", 3000}})
    f += code + Le<4>(size) + Le<8>(0x7F0012345678) + Le<4>(0, 1) + Garbage(size, static_cast<unsigned>(size));
  return {f + "ENDB" + Zeros(20)};
}

// name, finder, maker, whether the format states its end (else Unknown when whole), header bytes whose damage
// makes it not this format
using Case = std::tuple<const char*, EndFinder, std::function<QByteArray()>, bool, std::vector<qsizetype>>;
const char* kSql = "create table t(a, b); insert into t values (1, randomblob(20000)); "
                   "insert into t values (2, 'notes'); create index i on t(a);";
const QByteArray kControl = "Package: notes\nVersion: 1.0\nArchitecture: all\nMaintainer: A\nDescription: notes\n";
const QByteArray kHello = "#include <stdio.h>\nint main(void) { puts(\"notes\"); return 0; }\n";

const Case kCases[] = {
    {"Zip", Find_Zip_End, By("zip", {"-q", "x.zip", "notes.txt", "data.bin"}, "x.zip"), true, {2, 8}},
    {"SevenZip", Find_7z_End, By("7z", {"a", "-bd", "x.7z", "notes.txt", "data.bin"}, "x.7z"), true, {8, 14}},
    {"Zstd", Find_Zstd_End, By("zstd", {"-q", "notes.txt", "-o", "x.zst"}, "x.zst"), true, {4}},
    {"ZstdWithChecksumAndSize", Find_Zstd_End, By("zstd", {"-q", "-19", "--check", "data.bin", "-o", "x.zst"}, "x.zst"),
     true, {}},
    {"Lz4", Find_Lz4_End, By("lz4", {"-q", "notes.txt", "x.lz4"}, "x.lz4"), true, {4, 6}},
    {"Lz4BlockChecksums", Find_Lz4_End, By("lz4", {"-q", "-BX", "-B4", "data.bin", "x.lz4"}, "x.lz4"), true, {5}},
    {"Sqlite", Find_Sqlite_End, By("sqlite3", {"x.db", kSql}, "x.db"), true, {16, 21}},
    {"Cab", Find_Cab_End, By("gcab", {"-c", "x.cab", "notes.txt", "data.bin"}, "x.cab"), true, {12, 25}},
    {"Arj", Find_Arj_End, By("arj", {"a", "x.arj", "notes.txt", "data.bin"}, "x.arj"), true, {10}},
    {"Lzh", Find_Lzh_End, By("jlha", {"a", "x.lzh", "notes.txt", "data.bin"}, "x.lzh"), true, {5}},
    {"Compress", Find_Z_End, By("compress", {"-f", "notes.txt"}, "notes.txt.Z"), false, {2}},
    {"Deb", Find_Deb_End,
     By("dpkg-deb", {"--root-owner-group", "-Zgzip", "--build", "pkg", "x.deb"}, "x.deb",
        {{"pkg/DEBIAN/control", kControl}, {"pkg/usr/share/notes/notes.txt", Notes()}}),
     true, {66, 68}},
    {"Elf", Find_Elf_End, By("gcc", {"-O1", "-o", "x", "hello.c"}, "x", {{"hello.c", kHello}}), true, {4, 6, 52}},
    {"Rar4", Find_Rar_End, Rar4, true, {9, 10}},
    {"Rar5", Find_Rar_End, Rar5, true, {8, 13}},
    {"PeSigned", Find_Pe_End, [] { return Pe(true); }, true, {0x3C, 0x80, 0x84, 0x98, 0xBC}},
    {"Pe", Find_Pe_End, [] { return Pe(false); }, true, {}},
    {"Rpm", Find_Rpm_End, Rpm, true, {4, 79, 96}},
    {"JavaClass", Find_Class_End, Java_Class, true, {7, 10}},
    {"Ttf", Find_Sfnt_End, Font, true, {1, 12}},
    {"Ttc", Find_Ttc_End, Ttc, true, {5, 15, 28}},
    {"Woff", Find_Woff_End, Woff, true, {4, 14}},
    {"Djvu", Find_Djvu_End,
     [] {  // the pad byte after the odd last chunk is not part of the FORM
       const QByteArray body = "DJVUINFO" + Be<4>(10) + QByteArray::fromHex("0064006418002c011601") + "Sjbz" +
                               Be<4>(3001) + Garbage(3001, 8);
       return "AT&TFORM" + Be<4>(body.size()) + body;
     },
     true, {12}},
    {"Blend", Find_Blend_End, Blend, true, {7, 12}},
    {"Torrent", Find_Torrent_End,
     [] {
       return "d8:announce35:http://tracker.example.org/announce13:creation datei1700000000e4:infod6:lengthi123456e4:"
              "name9:notes.txt12:piece lengthi16384e6:pieces400:" + Garbage(400, 12) + "ee";
     },
     true, {11, 12}},
};

class ArchiveFormatTest : public ::testing::TestWithParam<Case> {};

// The whole file is accepted and ends exactly, whatever follows it; a cut or
// a limit inside it never gives an end; a damaged header field makes it not
// this format.
TEST_P(ArchiveFormatTest, EndsExactlyAndRejectsDamagedHeaders) {
  const auto& [name, finder, make, end_stated, checks] = GetParam();
  const QByteArray file = make();
  if (file.isEmpty()) GTEST_SKIP() << "the file could not be made";
  const std::uint64_t size = N(file), cut = size * 2 / 3, whole = end_stated ? size : 0;
  Expect("zeros after", finder, file, Zeros(4096), whole, 1);
  Expect("garbage after", finder, file, Garbage(65536), whole, 1);
  Expect("longer than its range", finder, file, Garbage(65536), whole, 1, size / 2, size + 65536);
  // Less garbage than was cut: a stated size then points past the data.
  Expect("cut short, garbage after", finder, file.left(static_cast<qsizetype>(cut)), Garbage(512), 0, 0);
  Expect("limit ends inside it", finder, file, Garbage(65536), 0, 0, cut, cut);
  for (const qsizetype at : checks)
    Expect("header byte " + std::to_string(at) + " damaged", finder, Flip(file, at), Garbage(65536), 0, -1);
}

INSTANTIATE_TEST_SUITE_P(Real, ArchiveFormatTest, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(std::get<0>(param.param)); });

// Frames and members joined end to end are one file; what follows the last
// whole one is not.
TEST(ArchiveEndTest, JoinedFramesAreOneFileUpToTheLastWholeOne) {
  for (const auto& [made, finder] : {std::pair{std::get<2>(kCases[2])(), &Find_Zstd_End},
                                     std::pair{std::get<2>(kCases[4])(), &Find_Lz4_End}}) {
    if (made.isEmpty()) GTEST_SKIP() << "the file could not be made";
    const QByteArray skippable = "\x50\x2A\x4D\x18" + Le<4>(5) + "notes", joined = made + skippable + made;
    Expect("joined", finder, joined, Garbage(4096), N(joined), 1);
    Expect("second cut", finder, joined.chopped(10), Garbage(4096), N(made + skippable), 1);
  }
}

// Text ends where the bytes stop being text, or after the format's closing
// line inside it; a start that is not text is not this format.
TEST(TextFormatTest, TextEndsAtItsClosingLineOrWhereTheTextStops) {
  const QByteArray card = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Anna Müller\r\nTEL:+49 30 1234567\r\nEND:VCARD\r\n";
  const QByteArray cards = card.repeated(40), not_text = Garbage(4096, 21);
  const QByteArray html = Lines("<!DOCTYPE html>\n<html><body>", "<p>Über das Wetter.</p>\n", 90, "</body></html>\n");
  const QByteArray latin = "<!DOCTYPE html>\n<p>Gr\xFC\xDF" "e aus K\xF6ln</p>\n" + html.mid(16);
  const QByteArray rtf = Lines("{\\rtf1\\ansi {\\fonttbl {\\f0 Times;}}\n", "\\pard Notes\\par\n", 50, "}\r\n");
  const QByteArray ps = Lines("%!PS-Adobe-3.0\n%%Pages: 1\n", "(notes) show\n", 80, "showpage\n%%EOF\n");
  const QByteArray xml = Lines("<?xml version=\"1.0\"?>\n<notes>\n", "<note>card</note>\n", 80, "</notes>\n");
  const QByteArray ics = Lines("BEGIN:VCALENDAR\r\n", "BEGIN:VEVENT\r\nEND:VEVENT\r\n", 20, "END:VCALENDAR\r\n");
  const QByteArray svg = Lines("<svg xmlns=\"http://www.w3.org/2000/svg\">\n", "<circle/>\n", 30, "</svg>\n");
  Expect("vcards, zeros after", Find_Vcf_End, cards, Zeros(4096), N(cards), 1);
  Expect("vcards, more text after", Find_Vcf_End, cards, "Other text that is not a card\n", N(cards), 1);
  Expect("vcard cut before END", Find_Vcf_End, card.left(50), Zeros(512), 0, 1);
  Expect("vcard cut mid-way, garbage after", Find_Vcf_End, cards.left(2000), not_text, N(card) * (2000 / N(card)), 1);
  Expect("html, garbage after", Find_Html_End, html, not_text, N(html), 1);
  Expect("html without its end", Find_Html_End, html.left(1500), Zeros(512), 1500, 1);
  Expect("latin-1 letters are text", Find_Html_End, latin, Zeros(512), N(latin), 1);
  Expect("rtf, text after the brace", Find_Rtf_End, rtf, "trailing words", N(rtf), 1);
  Expect("postscript", Find_Ps_End, ps, not_text, N(ps), 1);
  Expect("calendar", Find_Ics_End, ics, not_text, N(ics), 1);
  Expect("svg, text after", Find_Svg_End, svg, "<p>next</p>", N(svg), 1);
  Expect("xml, zeros after", Find_Xml_End, xml, Zeros(4096), N(xml), 1);
  Expect("xml ending on a sector boundary", Find_Xml_End, xml.left(1024), Zeros(512), 1024, 1);
  Expect("short file in its first sector", Find_Xml_End, xml.left(100), Zeros(512), 100, 1);
  Expect("nul after the signature", Find_Xml_End, "<?xml " + Zeros(600), {}, 0, -1);
  Expect("binary after the signature", Find_Html_End, "<!DOCTYPE html" + not_text, {}, 0, -1);
}

// Formats whose header states where the file ends, built field by field: the
// end is the stated one, a cut gives none; one damaged header field makes it
// not this format.
TEST(HeaderFormatTest, StatedEndsAndDamagedHeaderFields) {
  const QByteArray macho = Fill("\xCF\xFA\xED\xFE" + Le<4>(0x0100000C, 0, 2, 1, 72, 0, 0, 0x19, 72) + "__TEXT" +
                                    Zeros(10) + Le<8>(0x100000000, 0x1000, 0, 0x1000) + Zeros(16), 4096, 2);
  const QByteArray chm = Fill(QByteArray("ITSF\3\0\0\0", 8) + Le<4>(0x60, 1, 0, 0x409) + QByteArray(32, '\x11') +
                                  Le<8>(0x60, 0x18, 0x78, 0x54, 0x1000) + Le<4>(0x1FE, 0, 8192, 0, 0, 0), 8192, 3);
  const QByteArray pst = Fill(QByteArray("!BDN\0\0\0\0SM\x17\0\x13\0\1\1", 16).leftJustified(0xB8, '\0') + Le<8>(8192),
                              8192, 4);
  // A dynamic disk: footer copy, dynamic header, a table of 4 blocks (two used), blocks, footer.
  QByteArray footer =
      (QByteArray("conectix\0\0\0\2\0\1\0\0", 16) + Be<4>(0, 512) + Zeros(36) + Be<4>(3, 0)).leftJustified(512, '\0');
  std::uint32_t sum = 0;
  for (const char c : footer) sum += static_cast<std::uint8_t>(c);
  footer.replace(64, 4, Be<4>(~sum));
  const QByteArray vhd = ((footer + "cxsparse" + QByteArray(8, '\xFF') + Be<4>(0, 1536, 0x00010000, 4, 4096))
                              .leftJustified(1536, '\0') + Be<4>(4, 0xFFFFFFFF, 13, 0xFFFFFFFF))
                             .leftJustified(13 * 512 + 512 + 4096, '\x22') + footer;
  const QByteArray text = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 10 10\nshowpage\n%%EOF\n";
  const QByteArray eps = "\xC5\xD0\xD3\xC6" + Le<4>(30, text.size(), 0, 0, 30 + text.size(), 3000) + Le<2>(0xFFFF) +
                         text + Garbage(3000, 5);
  for (const auto& [what, finder, file, damage] :
       {std::tuple{"mach-o", &Find_Macho_End, macho, 4}, std::tuple{"chm", &Find_Chm_End, chm, 8},
        std::tuple{"vhd", &Find_Vhd_End, vhd, 70}, std::tuple{"pst", &Find_Pst_End, pst, 9},
        std::tuple{"binary eps", &Find_Ps_End, eps, 30}}) {
    Expect(std::string(what) + " whole", finder, file, Garbage(8192, 6), N(file), 1);
    Expect(std::string(what) + " cut", finder, file.left(file.size() * 3 / 4), {}, 0, 1);
    Expect(std::string(what) + " damaged", finder, Flip(file, damage), Garbage(8192, 6), 0, -1);
  }
}

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

// name, finder, maker, bytes of check fields or of data they cover (negative: from the end)
using StreamCase = std::tuple<const char*, EndFinder, std::function<Made()>, std::vector<qsizetype>>;

const StreamCase kStreams[] = {
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

class StreamFormatTest : public ::testing::TestWithParam<StreamCase> {};

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
  Expect("longer than its range", finder, file, Garbage(65536), size, 0, size / 2, size + 65536);
  Expect("cut short, garbage after", finder, file.left(static_cast<qsizetype>(cut)), Garbage(65536), before);
  Expect("limit ends inside it", finder, file, Garbage(65536), before, 0, cut, cut);
  for (const qsizetype at : checks) {
    const qsizetype i = at < 0 ? file.size() + at : at;
    const QByteArray flipped = QByteArray(file).replace(i, 1, QByteArray(1, static_cast<char>(file[i] ^ 0x10)));
    Expect("byte flipped at " + std::to_string(at), finder, flipped, Zeros(4096), before);
  }
}

INSTANTIATE_TEST_SUITE_P(Real, StreamFormatTest, ::testing::ValuesIn(kStreams),
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
  Expect("range ends inside the update", Find_Pdf_End, updated, Garbage(4096), N(pdf), 0, N(pdf) + 10,
         N(updated) + 4096);
  Expect("range ends before any %%EOF", Find_Pdf_End, updated, Garbage(4096), N(pdf), 0, N(pdf) / 2, N(updated) + 4096);
  Expect("limit cuts the first %%EOF", Find_Pdf_End, updated, Garbage(4096), 0, 0, N(pdf) / 2, N(pdf) - 3);
  Expect("CRLF", Find_Pdf_End, bare + "\r\n", "X", N(bare) + 2);
  Expect("CR", Find_Pdf_End, bare + "\r", "X", N(bare) + 1);
  Expect("no line end", Find_Pdf_End, bare, "X\n", N(bare));
  // Another file between its two halves: the startxref offset misses.
  Expect("fragmented", Find_Pdf_End, pdf.left(1024) + Garbage(8192) + pdf.mid(1024), {}, 0, 0, 1024, N(pdf) + 8192);
}


using samples::Make_Stored_Zip;

QByteArray Office(const char* part) {
  return Make_Stored_Zip({{"[Content_Types].xml", "<Types/>"}, {"_rels/.rels", "<r/>"}, {part, "<x/>"}});
}

// A compound file of 512-byte sectors: header, FAT, directory. The root's
// children are `top`, chained as right siblings; the first holds `nested`.
QByteArray Compound(const std::vector<QString>& top, const QString& nested = {},
                    const QByteArray& root_class = QByteArray(16, '\0')) {
  const auto entry = [](const QString& name, std::uint64_t right, std::uint64_t child, const QByteArray& cls) {
    QByteArray e;
    for (const QChar c : name) e += Le<2>(c.unicode());
    return e.leftJustified(0x40, '\0') + Le<4>(2 * name.size() + 2, 0xFFFFFFFF, right, child) +
           cls + QByteArray(0x20, '\0');
  };
  QByteArray out = QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + QByteArray(22, '\0') + Le<2>(9);
  // FAT in sector 0, directory in 1
  out += QByteArray(12, '\0') + Le<4>(1, 1) + QByteArray(24, '\0') + Le<4>(0);
  out = out.leftJustified(512, '\xFF') + Le<4>(0xFFFFFFFD, 0xFFFFFFFE) + QByteArray(504, '\xFF');
  out += entry("Root Entry", 0xFFFFFFFF, 1, root_class);
  for (std::size_t i = 0; i < top.size(); ++i) {
    const std::uint64_t child = i == 0 && !nested.isEmpty() ? top.size() + 1 : 0xFFFFFFFF;
    out += entry(top[i], i + 1 < top.size() ? i + 2 : 0xFFFFFFFF, child, QByteArray(16, '\0'));
  }
  if (!nested.isEmpty()) out += entry(nested, 0xFFFFFFFF, 0xFFFFFFFF, QByteArray(16, '\0'));
  return out.leftJustified(1536, '\0');
}

QByteArray Ebml(const QByteArray& doc_type) {
  const QByteArray body = QByteArray("\x42\x86\x81\x01\x42\x82", 6) + char(0x80 | doc_type.size()) + doc_type;
  return QByteArray("\x1A\x45\xDF\xA3", 4) + char(0x80 | body.size()) + body;
}

// An ASF header object holding one stream properties object per stream type
// (the last 12 bytes of the media GUIDs, which audio and video share, follow).
QByteArray Asf(const std::vector<const char*>& stream_types) {
  QByteArray objects;
  for (const char* t : stream_types) {
    objects += QByteArray("\x91\x07\xDC\xB7\xB7\xA9\xCF\x11\x8E\xE6\x00\xC0\x0C\x20\x53\x65", 16) + Le<8>(40) +
               QByteArray(t, 4) + QByteArray("\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B", 12);
  }
  return QByteArray("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16) +
         Le<8>(30 + objects.size()) + Le<4>(stream_types.size()) + "\x01\x02" + objects;
}
const char* const kVideo = "\xC0\xEF\x19\xBC";
const char* const kAudio = "\x40\x9E\x69\xF8";

// The catalogue's type, the bytes found and the type they show.
TEST(ContentType, NamesTheTypeTheBytesShow) {
  const QByteArray installer("\x84\x10\x0C\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16);
  const std::tuple<const char*, QByteArray, const char*> cases[] = {
      // zip members
      {"DOCX", samples::Make_Docx(2), "DOCX"}, {"DOCX", Office("xl/workbook.xml"), "XLSX"},
      {"DOCX", Office("other/part.xml"), "ZIP"},                  // content types but no office members
      {"ZIP", Office("xl/workbook.xml").left(150), "XLSX"},       // cut before its directory: local headers tell
      {"ZIP", Make_Stored_Zip({{"mimetype", "application/vnd.oasis.opendocument.text"}, {"c.xml", "<c/>"}}), "ODT"},
      {"ZIP", Make_Stored_Zip({{"mimetype", "application/epub+zip"}}), "EPUB"},
      {"ODT", Make_Stored_Zip({{"mimetype", "application/x-other"}}), "ZIP"},
      {"ZIP", Make_Stored_Zip({{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\n"}}), "JAR"},
      {"DOCX", Garbage(2000), "DOCX"},                            // no zip at all keeps the type
      {"JPG", Make_Stored_Zip({{"word/a", "b"}}), "JPG"},         // an unrelated type is left alone
      // compound-file streams
      {"DOC", Compound({"1Table", "WordDocument"}), "DOC"}, {"DOC", Compound({"Workbook"}), "XLS"},
      {"DOC", Compound({"Current User", "PowerPoint Document"}), "PPT"}, {"DOC", Compound({"VisioDocument"}), "VSD"},
      {"DOC", Compound({"__substg1.0_0037001F"}), "MSG"}, {"DOC", Compound({"x"}, {}, installer), "MSI"},
      {"DOC", Compound({"ObjectPool"}, "Workbook"), "DOC"},       // an embedded workbook does not count
      {"XLS", Compound({"Something"}), "XLS"},                    // unknown streams keep the type
      {"DOC", Compound({"Workbook"}).replace(0x1E, 1, "\x0A"), "DOC"},  // bad sector size
      // EBML doc types, PE flags, ASF streams, DVD packs, PostScript first lines
      {"MKV", Ebml("webm"), "WEBM"}, {"WEBM", Ebml("matroska"), "MKV"},
      {"EXE", Pe(false, 0x2102), "DLL"}, {"DLL", Pe(false, 0x0102), "EXE"},
      {"EXE", "MZ" + QByteArray(600, '\0'), "EXE"},               // a DOS program keeps the type
      {"ASF", Asf({kAudio, kVideo}), "WMV"}, {"WMV", Asf({kAudio}), "WMA"}, {"WMV", Asf({}), "WMV"},
      {"MPG", QByteArray("\0\0\1\xBA\x44\0\4\0\4\1\1\x89\xC3\xF8\0\0\1\xBF", 18), "VOB"},  // DVD navigation pack
      {"PS", "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 1 1\n", "EPS"},
      {"PS", "%!PS-Adobe-3.0\n% EPSF-3.0\n", "PS"},                // EPSF on a later line is plain PostScript
  };
  for (const auto& [type, file, expected] : cases) {
    SCOPED_TRACE(std::string(type) + " showing " + expected);
    testing::Item item(file, Garbage(1024, 3));
    EXPECT_EQ(Type_From_Content(item.bytes(), type, static_cast<std::uint64_t>(file.size())), expected);
  }
}

}  // namespace
}  // namespace tamberlin::recovery
