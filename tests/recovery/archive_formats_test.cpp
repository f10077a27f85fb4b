// End finders and structure checks for archives, executables, documents and
// fonts on real files made here (zip, 7z, zstd, lz4, sqlite3, gcab, arj,
// jlha, compress, dpkg-deb, gcc, the system's fonts) or built field by field
// from the formats' documentation (RAR 4 and 5, PE, RPM, Java class, TTC,
// WOFF, DjVu, Blender, torrent): whole, followed by zeros or garbage, longer
// than their range, cut short, limited inside, and with damaged header fields.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "recovery/item_fixture.h"
#include "sample_files.h"

namespace tamberlin::recovery {
namespace {

using samples::Put16;
using samples::Put16_Be;
using samples::Put32;
using samples::Put32_Be;
using testing::Garbage;
using testing::Item;
using testing::Zeros;

QByteArray Notes() {
  QByteArray text;
  for (int i = 0; text.size() < 40000; ++i) text += "Line " + QByteArray::number(i) + " of the notes kept on the card\n";
  return text;
}

struct Made {
  QByteArray bytes;
  QString skip;
};

// Runs `program` in a fresh folder holding notes.txt, data.bin and the
// `extra` files, and returns the file `output` it made.
Made Run_Tool(const QString& program, const QStringList& args, const QString& output,
              const std::vector<std::pair<QString, QByteArray>>& extra = {}) {
  const QString exe = QStandardPaths::findExecutable(program);
  if (exe.isEmpty()) return {{}, program + " is not installed"};
  QTemporaryDir dir;
  std::vector<std::pair<QString, QByteArray>> files = {{"notes.txt", Notes()}, {"data.bin", Garbage(30000, 11)}};
  files.insert(files.end(), extra.begin(), extra.end());
  for (const auto& [name, bytes] : files) {
    QDir(dir.path()).mkpath(QFileInfo(name).path());
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) return {{}, "cannot write " + name};
  }
  QProcess p;
  p.setWorkingDirectory(dir.path());
  p.start(exe, args);
  if (!p.waitForFinished(120000) || p.exitCode() != 0) return {{}, program + " failed: " + p.readAllStandardError()};
  QFile out(dir.filePath(output));
  if (!out.open(QIODevice::ReadOnly)) return {{}, program + " made no " + output};
  return {out.readAll(), {}};
}

Made System_File(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {{}, path + " is not there"};
  return {f.readAll(), {}};
}

void Put64(QByteArray& out, std::uint64_t v) {
  Put32(out, static_cast<std::uint32_t>(v));
  Put32(out, static_cast<std::uint32_t>(v >> 32));
}
void Set32(QByteArray& b, qsizetype at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}
void Set32_Be(QByteArray& b, qsizetype at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (24 - 8 * i));
}
std::uint32_t Get32_Be(const QByteArray& b, qsizetype at) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = v << 8 | static_cast<std::uint8_t>(b[at + i]);
  return v;
}

// ---- built by hand

// RAR 4: marker, main header, one stored file, end of archive.
Made Rar4() {
  const auto block = [](std::uint8_t type, std::uint16_t flags, const QByteArray& rest) {
    QByteArray h;
    h += static_cast<char>(type);
    Put16(h, flags);
    Put16(h, static_cast<std::uint32_t>(rest.size() + 7));
    h += rest;
    QByteArray out;
    Put16(out, samples::Crc32(h) & 0xFFFF);
    return out + h;
  };
  const QByteArray data = Notes().left(5000);
  QByteArray file;
  Put32(file, static_cast<std::uint32_t>(data.size()));  // packed size
  Put32(file, static_cast<std::uint32_t>(data.size()));  // unpacked size
  file += '\x02';                                        // host OS
  Put32(file, samples::Crc32(data));
  Put32(file, 0x5A2B3C4D);  // time
  file += '\x14';           // version 2.0
  file += '\x30';           // stored
  Put16(file, 9);
  Put32(file, 0x20);
  file += "notes.txt";
  return {QByteArray("Rar!\x1A\x07\x00", 7) + block(0x73, 0, QByteArray(6, '\0')) + block(0x74, 0x8000, file) + data +
              block(0x7B, 0x4000, {}),
          {}};
}

// RAR 5: blocks of CRC, size and fields in variable-length integers.
Made Rar5() {
  const auto vint = [](std::uint64_t v) {
    QByteArray out;
    do {
      out += static_cast<char>((v & 0x7F) | (v > 0x7F ? 0x80 : 0));
      v >>= 7;
    } while (v != 0);
    return out;
  };
  const auto block = [&vint](const QByteArray& fields) {
    const QByteArray sized = vint(static_cast<std::uint64_t>(fields.size())) + fields;
    QByteArray out;
    Put32(out, samples::Crc32(sized));
    return out + sized;
  };
  const QByteArray data = Notes().left(7000);
  const QByteArray file = vint(2) + vint(2) + vint(static_cast<std::uint64_t>(data.size())) + vint(0) +
                          vint(static_cast<std::uint64_t>(data.size())) + vint(0x20) + vint(0) + vint(0) + vint(9) +
                          "notes.txt";
  return {QByteArray("Rar!\x1A\x07\x01\x00", 8) + block(vint(1) + vint(0) + vint(0)) + block(file) + data +
              block(vint(5) + vint(0) + vint(0)),
          {}};
}

// A PE32+ image: headers, two sections and (when `signed_image`) a certificate table after them.
Made Pe(bool signed_image) {
  QByteArray f(0xC00, '\0');
  f[0] = 'M';
  f[1] = 'Z';
  Set32(f, 0x3C, 0x80);
  QByteArray h("PE\0\0", 4);
  Put16(h, 0x8664);
  Put16(h, 2);
  Put32(h, 0);
  Put32(h, 0);
  Put32(h, 0);
  Put16(h, 0xF0);
  Put16(h, 0x22);
  QByteArray opt(0xF0, '\0');
  opt[0] = 0x0B;
  opt[1] = 0x02;
  Set32(opt, 32, 0x1000);  // section alignment
  Set32(opt, 36, 0x200);   // file alignment
  Set32(opt, 60, 0x400);   // size of headers
  Set32(opt, 108, 16);     // directories
  if (signed_image) {
    Set32(opt, 112 + 4 * 8, 0xC00);
    Set32(opt, 112 + 4 * 8 + 4, 0x100);
  }
  h += opt;
  for (const auto& [name, at, size] : {std::tuple{".text", 0x400, 0x600}, std::tuple{".data", 0xA00, 0x200}}) {
    QByteArray s(name);
    s = s.leftJustified(8, '\0');
    Put32(s, 0x1000);
    Put32(s, static_cast<std::uint32_t>(at) * 2);
    Put32(s, static_cast<std::uint32_t>(size));
    Put32(s, static_cast<std::uint32_t>(at));
    s += QByteArray(16, '\0');
    h += s;
  }
  f.replace(0x80, h.size(), h);
  for (int i = 0x400; i < 0xC00; ++i) f[i] = static_cast<char>(i * 7);
  if (signed_image) f += Garbage(0x100, 4);
  return {f, {}};
}

// RPM: lead, signature header with the size of header and payload, header, payload.
Made Rpm() {
  QByteArray lead(96, '\0');
  lead.replace(0, 4, "\xED\xAB\xEE\xDB");
  lead[4] = 3;
  lead.replace(10, 9, "notes-1.0");
  lead[79] = 5;
  const auto header = [](std::uint32_t tag, std::uint32_t type, const QByteArray& store) {
    QByteArray h("\x8E\xAD\xE8\x01\0\0\0\0", 8);
    Put32_Be(h, 1);
    Put32_Be(h, static_cast<std::uint32_t>(store.size()));
    Put32_Be(h, tag);
    Put32_Be(h, type);
    Put32_Be(h, 0);
    Put32_Be(h, 1);
    return h + store;
  };
  const QByteArray main = header(1000, 6, "notes\0\0\0");
  const QByteArray payload = qCompress(Notes()).mid(4);
  QByteArray size;
  Put32_Be(size, static_cast<std::uint32_t>(main.size() + payload.size()));
  QByteArray signature = header(1000, 4, size);
  signature.resize((signature.size() + 7) / 8 * 8, '\0');
  return {lead + signature + main + payload, {}};
}

// A Java class: a small constant pool, no fields, one method with a Code
// attribute, and a SourceFile attribute.
Made Java_Class() {
  QByteArray c("\xCA\xFE\xBA\xBE", 4);
  Put16_Be(c, 0);
  Put16_Be(c, 61);
  const QByteArray names[] = {"Notes", "java/lang/Object", "main", "()V", "Code", "SourceFile", "Notes.java"};
  Put16_Be(c, 12);
  for (const QByteArray& n : names) {
    c += '\x01';
    Put16_Be(c, static_cast<std::uint32_t>(n.size()));
    c += n;
  }
  c += QByteArray("\x07\x00\x01\x07\x00\x02", 6);  // #8 class Notes, #9 class Object
  c += QByteArray("\x05\0\0\0\0\0\0\0\x2A", 9);    // #10 a long, taking #11 too
  Put16_Be(c, 0x21);
  Put16_Be(c, 8);
  Put16_Be(c, 9);
  Put16_Be(c, 0);  // interfaces
  Put16_Be(c, 0);  // fields
  Put16_Be(c, 1);  // methods
  Put16_Be(c, 9);
  Put16_Be(c, 3);
  Put16_Be(c, 4);
  Put16_Be(c, 1);
  Put16_Be(c, 5);
  Put32_Be(c, 13);
  c += QByteArray("\0\0\0\x01\0\0\0\x01\xB1\0\0\0\0", 13);
  Put16_Be(c, 1);  // attributes
  Put16_Be(c, 6);
  Put32_Be(c, 2);
  Put16_Be(c, 7);
  return {c, {}};
}

const char* kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// A collection of one font: the font moved 16 bytes on, its table offsets too.
Made Ttc() {
  Made font = System_File(kFont);
  if (!font.skip.isEmpty()) return font;
  QByteArray& f = font.bytes;
  const int tables = static_cast<std::uint8_t>(f[4]) << 8 | static_cast<std::uint8_t>(f[5]);
  for (int i = 0; i < tables; ++i) Set32_Be(f, 12 + 16 * i + 8, Get32_Be(f, 12 + 16 * i + 8) + 16);
  QByteArray c("ttcf\0\1\0\0", 8);
  Put32_Be(c, 1);
  Put32_Be(c, 16);
  return {c + f, {}};
}

// WOFF with every table stored uncompressed.
Made Woff() {
  const Made font = System_File(kFont);
  if (!font.skip.isEmpty()) return font;
  const QByteArray& f = font.bytes;
  const int tables = static_cast<std::uint8_t>(f[4]) << 8 | static_cast<std::uint8_t>(f[5]);
  QByteArray directory, data;
  const int data_at = 44 + 20 * tables;
  for (int i = 0; i < tables; ++i) {
    const qsizetype e = 12 + 16 * i;
    const std::uint32_t offset = Get32_Be(f, e + 8), length = Get32_Be(f, e + 12);
    directory += f.mid(e, 4);
    Put32_Be(directory, static_cast<std::uint32_t>(data_at + data.size()));
    Put32_Be(directory, length);
    Put32_Be(directory, length);
    Put32_Be(directory, Get32_Be(f, e + 4));
    data += f.mid(offset, length);
    data.resize((data.size() + 3) / 4 * 4, '\0');
  }
  QByteArray w("wOFF\0\1\0\0", 8);
  Put32_Be(w, static_cast<std::uint32_t>(data_at + data.size()));
  Put16_Be(w, static_cast<std::uint32_t>(tables));
  Put16_Be(w, 0);
  Put32_Be(w, static_cast<std::uint32_t>(f.size()));
  w += QByteArray(24, '\0');  // versions, metadata and private data: none
  return {w + directory + data, {}};
}

Made Djvu() {
  QByteArray info("INFO", 4);
  Put32_Be(info, 10);
  info += QByteArray("\x00\x64\x00\x64\x18\x00\x2C\x01\x16\x01", 10);
  QByteArray body = "DJVU" + info + "Sjbz";
  Put32_Be(body, 3001);
  body += Garbage(3001, 8) + '\0';
  QByteArray f("AT&TFORM", 8);
  Put32_Be(f, static_cast<std::uint32_t>(body.size() - 1));  // the pad byte after an odd chunk ends the FORM
  return {f + body.chopped(1), {}};
}

Made Blend() {
  QByteArray f("BLENDER-v300");
  for (const auto& [code, size] : {std::pair{"REND", 72}, std::pair{"GLOB", 1024}, std::pair{"DNA1", 3000}}) {
    f += code;
    Put32(f, static_cast<std::uint32_t>(size));
    Put64(f, 0x7F0012345678);
    Put32(f, 0);
    Put32(f, 1);
    f += Garbage(size, static_cast<unsigned>(size));
  }
  f += "ENDB";
  f += QByteArray(20, '\0');
  return {f, {}};
}

Made Torrent() {
  const QByteArray pieces = Garbage(400, 12);
  return {"d8:announce35:http://tracker.example.org/announce13:creation datei1700000000e4:infod6:lengthi123456e4:name9:"
          "notes.txt12:piece lengthi16384e6:pieces400:" +
              pieces + "ee",
          {}};
}

Made Sqlite() {
  return Run_Tool("sqlite3", {"x.db", "create table t(a, b); insert into t values (1, randomblob(20000)); "
                                      "insert into t values (2, 'notes'); create index i on t(a);"},
                  "x.db");
}

Made Deb() {
  return Run_Tool("dpkg-deb", {"--root-owner-group", "-Zgzip", "--build", "pkg", "x.deb"}, "x.deb",
                  {{"pkg/DEBIAN/control", "Package: notes\nVersion: 1.0\nArchitecture: all\nMaintainer: A <a@b.c>\n"
                                          "Description: notes\n"},
                   {"pkg/usr/share/notes/notes.txt", Notes()}});
}

Made Elf() {
  return Run_Tool("gcc", {"-O1", "-o", "x", "hello.c"}, "x",
                  {{"hello.c", "#include <stdio.h>\nint main(void) { puts(\"notes\"); return 0; }\n"}});
}

struct Case {
  const char* name;
  EndFinder finder;
  std::function<Made()> make;
  bool end_stated;                // false: the format states no end (Unknown when whole)
  std::vector<qsizetype> checks;  // header bytes whose damage makes it not this format
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

const QStringList kTwoFiles = {"notes.txt", "data.bin"};

const Case kCases[] = {
    {"Zip", Find_Zip_End, [] { return Run_Tool("zip", QStringList{"-q", "x.zip"} + kTwoFiles, "x.zip"); }, true, {2, 8}},
    {"SevenZip", Find_7z_End, [] { return Run_Tool("7z", QStringList{"a", "-bd", "x.7z"} + kTwoFiles, "x.7z"); }, true,
     {8, 14}},
    {"Zstd", Find_Zstd_End, [] { return Run_Tool("zstd", {"-q", "notes.txt", "-o", "x.zst"}, "x.zst"); }, true, {4}},
    {"ZstdWithChecksumAndSize", Find_Zstd_End,
     [] { return Run_Tool("zstd", {"-q", "-19", "--check", "data.bin", "-o", "x.zst"}, "x.zst"); }, true, {}},
    {"Lz4", Find_Lz4_End, [] { return Run_Tool("lz4", {"-q", "notes.txt", "x.lz4"}, "x.lz4"); }, true, {4, 6}},
    {"Lz4BlockChecksums", Find_Lz4_End, [] { return Run_Tool("lz4", {"-q", "-BX", "-B4", "data.bin", "x.lz4"}, "x.lz4"); },
     true, {5}},
    {"Sqlite", Find_Sqlite_End, Sqlite, true, {16, 21}},
    {"Cab", Find_Cab_End, [] { return Run_Tool("gcab", QStringList{"-c", "x.cab"} + kTwoFiles, "x.cab"); }, true,
     {12, 25}},
    {"Arj", Find_Arj_End, [] { return Run_Tool("arj", QStringList{"a", "x.arj"} + kTwoFiles, "x.arj"); }, true, {10}},
    {"Lzh", Find_Lzh_End, [] { return Run_Tool("jlha", QStringList{"a", "x.lzh"} + kTwoFiles, "x.lzh"); }, true, {5}},
    {"Compress", Find_Z_End, [] { return Run_Tool("compress", {"-f", "notes.txt"}, "notes.txt.Z"); }, false, {2}},
    {"Deb", Find_Deb_End, Deb, true, {66, 68}},
    {"Elf", Find_Elf_End, Elf, true, {4, 6, 52}},
    {"Rar4", Find_Rar_End, Rar4, true, {9, 10}},
    {"Rar5", Find_Rar_End, Rar5, true, {8, 13}},
    {"PeSigned", Find_Pe_End, [] { return Pe(true); }, true, {0x3C, 0x80, 0x84, 0x98, 0xBC}},
    {"Pe", Find_Pe_End, [] { return Pe(false); }, true, {}},
    {"Rpm", Find_Rpm_End, Rpm, true, {4, 79, 96}},
    {"JavaClass", Find_Class_End, Java_Class, true, {7, 10}},
    {"Ttf", Find_Sfnt_End, [] { return System_File(kFont); }, true, {1, 12}},
    {"Ttc", Find_Ttc_End, Ttc, true, {5, 15, 28}},
    {"Woff", Find_Woff_End, Woff, true, {4, 14}},
    {"Djvu", Find_Djvu_End, Djvu, true, {12}},
    {"Blend", Find_Blend_End, Blend, true, {7, 12}},
    {"Torrent", Find_Torrent_End, Torrent, true, {11, 12}},
};

class ArchiveFormatTest : public ::testing::TestWithParam<Case> {};

// The whole file is accepted and ends exactly, whatever follows it; a cut or
// a limit inside it never gives an end; a damaged header field makes it not
// this format.
TEST_P(ArchiveFormatTest, EndsExactlyAndRejectsDamagedHeaders) {
  const Made made = GetParam().make();
  if (!made.skip.isEmpty()) GTEST_SKIP() << made.skip.toStdString();
  const QByteArray& file = made.bytes;
  const auto size = static_cast<std::uint64_t>(file.size()), cut = size * 2 / 3;
  const std::uint64_t whole = GetParam().end_stated ? size : 0;
  struct Variant {
    std::string what;
    QByteArray file, after;
    std::uint64_t range, limit, expect;  // expect 0: no end
    bool real;                           // the start is intact: never "not this format"
  };
  std::vector<Variant> variants = {
      {"zeros after", file, Zeros(4096), 0, 0, whole, true},
      {"garbage after", file, Garbage(65536), 0, 0, whole, true},
      {"longer than its range", file, Garbage(65536), size / 2, size + 65536, whole, true},
      // Less garbage than was cut: a stated size then points past the data.
      {"cut short, garbage after", file.left(static_cast<qsizetype>(cut)), Garbage(512), 0, 0, 0, false},
      {"limit ends inside it", file, Garbage(65536), cut, cut, 0, false},
  };
  for (const qsizetype at : GetParam().checks) {
    QByteArray damaged = file;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
    variants.push_back({"header byte " + std::to_string(at) + " damaged", damaged, Garbage(65536), 0, 0, 0, false});
  }
  for (const auto& v : variants) {
    SCOPED_TRACE(v.what);
    Item item(v.file, v.after, v.range, v.limit);
    const EndFinding f = item.Run(GetParam().finder);
    EXPECT_EQ(f.found() ? f.length : 0, v.expect) << f.why;
    if (v.real) {
      EXPECT_FALSE(f.not_this_format()) << f.why;
    }
    if (v.what.starts_with("header byte")) {
      EXPECT_TRUE(f.not_this_format()) << f.why;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Real, ArchiveFormatTest, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

// Frames and members joined end to end are one file; what follows the last
// whole one is not.
TEST(ArchiveEndTest, JoinedFramesAreOneFileUpToTheLastWholeOne) {
  const Made zstd = Run_Tool("zstd", {"-q", "notes.txt", "-o", "x.zst"}, "x.zst");
  const Made lz4 = Run_Tool("lz4", {"-q", "notes.txt", "x.lz4"}, "x.lz4");
  for (const auto& [made, finder] : {std::pair<Made, EndFinder>{zstd, Find_Zstd_End}, {lz4, Find_Lz4_End}}) {
    if (!made.skip.isEmpty()) GTEST_SKIP() << made.skip.toStdString();
    QByteArray skippable("\x50\x2A\x4D\x18", 4);
    Put32(skippable, 5);
    skippable += "notes";
    const QByteArray joined = made.bytes + skippable + made.bytes;
    Item whole(joined, Garbage(4096)), second_cut(joined.chopped(10), Garbage(4096));
    EXPECT_EQ(whole.Run(finder).length, static_cast<std::uint64_t>(joined.size()));
    EXPECT_EQ(second_cut.Run(finder).length, static_cast<std::uint64_t>(made.bytes.size() + skippable.size()));
  }
}

// Text ends where the bytes stop being text, or after the format's closing
// line inside it; a start that is not text is not this format.
TEST(TextFormatTest, TextEndsAtItsClosingLineOrWhereTheTextStops) {
  const QByteArray card = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Anna Müller\r\nTEL:+49 30 1234567\r\nEND:VCARD\r\n";
  const QByteArray cards = card.repeated(40);
  const QByteArray html = "<!DOCTYPE html>\n<html><head><title>Notizen</title></head>\n<body>" +
                          QByteArray("<p>Ein Absatz über das Wetter.</p>\n").repeated(60) + "</body></html>\n";
  const QByteArray rtf = "{\\rtf1\\ansi\\deff0 {\\fonttbl {\\f0 Times;}}\n" +
                         QByteArray("\\pard Notes from the card\\par\n").repeated(50) + "}\r\n";
  const QByteArray ps = "%!PS-Adobe-3.0\n%%Pages: 1\n" + QByteArray("72 72 moveto (notes) show\n").repeated(40) +
                        "showpage\n%%EOF\n";
  const QByteArray xml = "<?xml version=\"1.0\"?>\n<notes>\n" + QByteArray("  <note>card</note>\n").repeated(70) +
                         "</notes>\n";
  const QByteArray latin = "<!DOCTYPE html>\n<p>Gr\xFC\xDF" "e aus K\xF6ln</p>\n" + html.mid(16);
  const QByteArray calendar = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n" +
                               QByteArray("BEGIN:VEVENT\r\nSUMMARY:Meeting\r\nEND:VEVENT\r\n").repeated(20) +
                               "END:VCALENDAR\r\n";
  const QByteArray svg = "<svg xmlns=\"http://www.w3.org/2000/svg\">\n" +
                         QByteArray("  <circle cx=\"5\" cy=\"5\" r=\"4\"/>\n").repeated(30) + "</svg>\n";
  const auto n = [](const QByteArray& b) { return static_cast<std::uint64_t>(b.size()); };
  const QByteArray not_text = Garbage(4096, 21);
  const struct {
    const char* what;
    EndFinder finder;
    QByteArray file, after;
    std::uint64_t expect;  // 0: no end
    bool not_this_format;
  } cases[] = {
      {"vcards, zeros after", Find_Vcf_End, cards, Zeros(4096), n(cards), false},
      {"vcards, more text after", Find_Vcf_End, cards, "Other text that is not a card\n", n(cards), false},
      {"vcard cut before END", Find_Vcf_End, card.left(50), Zeros(512), 0, false},
      {"vcard cut mid-way, garbage after", Find_Vcf_End, cards.left(2000), not_text, n(card) * (2000 / n(card)), false},
      {"html, garbage after", Find_Html_End, html, not_text, n(html), false},
      {"html without its end", Find_Html_End, html.left(1500), Zeros(512), 1500, false},
      {"rtf, text after the brace", Find_Rtf_End, rtf, "trailing words", n(rtf), false},
      {"postscript", Find_Ps_End, ps, not_text, n(ps), false},
      {"calendar", Find_Ics_End, calendar, not_text, n(calendar), false},
      {"svg, text after", Find_Svg_End, svg, "<p>next</p>", n(svg), false},
      {"xml, zeros after", Find_Xml_End, xml, Zeros(4096), n(xml), false},
      {"xml ending on a sector boundary", Find_Xml_End, xml.left(1024), Zeros(512), 1024, false},
      {"short file in its first sector", Find_Xml_End, xml.left(100), Zeros(512), 100, false},
      {"nul after the signature", Find_Xml_End, "<?xml " + Zeros(600), {}, 0, true},
      {"binary after the signature", Find_Html_End, "<!DOCTYPE html" + not_text, {}, 0, true},
      {"latin-1 letters are text", Find_Html_End, latin, Zeros(512), n(latin), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Item item(c.file, c.after);
    const EndFinding f = item.Run(c.finder);
    EXPECT_EQ(f.found() ? f.length : 0, c.expect) << f.why;
    EXPECT_EQ(f.not_this_format(), c.not_this_format) << f.why;
  }
}

// Formats whose header states where the file ends, built field by field:
// the end is the stated one; one damaged header field makes it not this format.
TEST(HeaderFormatTest, StatedEndsAndDamagedHeaderFields) {
  QByteArray macho("\xCF\xFA\xED\xFE", 4);
  for (const std::uint32_t v : {0x0100000Cu, 0u, 2u, 1u, 72u, 0u, 0u, 0x19u, 72u}) Put32(macho, v);
  macho += QByteArray("__TEXT").leftJustified(16, '\0');
  for (const std::uint64_t v : {0x100000000ull, 0x1000ull, 0ull, 0x1000ull}) Put64(macho, v);
  macho += QByteArray(16, '\0');
  macho += Garbage(4096 - static_cast<int>(macho.size()), 2);

  QByteArray chm("ITSF\3\0\0\0", 8);
  for (const std::uint32_t v : {0x60u, 1u, 0u, 0x409u}) Put32(chm, v);
  chm += QByteArray(32, '\x11');
  for (const std::uint64_t v : {0x60ull, 0x18ull, 0x78ull, 0x54ull, 0x1000ull}) Put64(chm, v);
  for (const std::uint32_t v : {0x1FEu, 0u, 8192u, 0u, 0u, 0u}) Put32(chm, v);
  chm += Garbage(8192 - static_cast<int>(chm.size()), 3);

  // A dynamic disk: footer copy, dynamic header, a table of 4 blocks (two used), blocks, footer.
  QByteArray footer("conectix\0\0\0\2\0\1\0\0", 16);
  Put32_Be(footer, 0);
  Put32_Be(footer, 512);  // the dynamic header's offset
  footer += QByteArray(36, '\0');
  Put32_Be(footer, 3);
  Put32_Be(footer, 0);
  footer = footer.leftJustified(512, '\0');
  std::uint32_t sum = 0;
  for (const char c : footer) sum += static_cast<std::uint8_t>(c);
  Set32_Be(footer, 64, ~sum);
  QByteArray vhd = footer + "cxsparse" + QByteArray(8, '\xFF');
  Put32_Be(vhd, 0);
  Put32_Be(vhd, 1536);  // table offset, big-endian 64-bit
  Put32_Be(vhd, 0x00010000);
  Put32_Be(vhd, 4);
  Put32_Be(vhd, 4096);  // block size
  vhd = vhd.leftJustified(1536, '\0');
  for (const std::uint32_t v : {4u, 0xFFFFFFFFu, 13u, 0xFFFFFFFFu}) Put32_Be(vhd, v);
  vhd = vhd.leftJustified(13 * 512 + 512 + 4096, '\x22') + footer;

  QByteArray pst("!BDN\0\0\0\0SM\x17\0\x13\0\1\1", 16);
  pst = pst.leftJustified(0xB8, '\0');
  Put64(pst, 8192);
  pst += Garbage(8192 - static_cast<int>(pst.size()), 4);

  const QByteArray postscript = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 10 10\nshowpage\n%%EOF\n";
  QByteArray eps("\xC5\xD0\xD3\xC6", 4);
  for (const std::uint32_t v : {30u, static_cast<std::uint32_t>(postscript.size()), 0u, 0u,
                                30u + static_cast<std::uint32_t>(postscript.size()), 3000u}) {
    Put32(eps, v);
  }
  Put16(eps, 0xFFFF);
  eps += postscript + Garbage(3000, 5);

  const auto n = [](const QByteArray& b) { return static_cast<std::uint64_t>(b.size()); };
  const struct {
    const char* what;
    EndFinder finder;
    QByteArray file;
    std::uint64_t expect;
    qsizetype damage;  // a header byte whose damage makes it not this format
  } cases[] = {
      {"mach-o", Find_Macho_End, macho, 4096, 4},     {"chm", Find_Chm_End, chm, 8192, 8},
      {"vhd", Find_Vhd_End, vhd, n(vhd), 70},        {"pst", Find_Pst_End, pst, 8192, 9},
      {"binary eps", Find_Ps_End, eps, n(eps), 30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Item whole(c.file, Garbage(8192, 6)), cut(c.file.left(c.file.size() * 3 / 4));
    QByteArray damaged = c.file;
    damaged[c.damage] = static_cast<char>(damaged[c.damage] ^ 0x5A);
    Item broken(damaged, Garbage(8192, 6));
    const EndFinding f = whole.Run(c.finder), short_one = cut.Run(c.finder), bad = broken.Run(c.finder);
    EXPECT_EQ(f.found() ? f.length : 0, c.expect) << f.why;
    EXPECT_TRUE(!short_one.found() && !short_one.not_this_format()) << short_one.why;
    EXPECT_TRUE(bad.not_this_format()) << bad.why;
  }
}

}  // namespace
}  // namespace tamberlin::recovery
