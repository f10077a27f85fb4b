// Type_From_Content over files built here: the member names of zips, the
// streams of compound files, EBML doc types, PE flags, ASF streams, DVD
// packs and PostScript first lines; damaged or foreign bytes keep the type.
#include <gtest/gtest.h>

#include <QByteArray>

#include <functional>

#include "content_type.h"
#include "item_fixture.h"
#include "sample_files.h"

namespace tamberlin::recovery {
namespace {
using samples::Make_Stored_Zip;
using testing::Garbage;
using testing::Item;

QByteArray Le(std::uint64_t v, int n) {
  QByteArray out;
  for (int i = 0; i < n; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

QByteArray Office(const char* part) {
  return Make_Stored_Zip({{"[Content_Types].xml", "<Types/>"}, {"_rels/.rels", "<r/>"}, {part, "<x/>"}});
}

// A compound file of 512-byte sectors: header, FAT, directory. The root's
// children are `top`, chained as right siblings; the first holds `nested`.
QByteArray Compound(const std::vector<QString>& top, const QString& nested = {}, QByteArray root_class = {}) {
  QByteArray out = QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + QByteArray(22, '\0') + Le(9, 2);
  out += QByteArray(12, '\0') + Le(1, 4) + Le(1, 4) + QByteArray(24, '\0') + Le(0, 4);  // FAT in sector 0, directory in 1
  out += QByteArray(1024 - out.size(), '\xFF');
  out.replace(512, 8, Le(0xFFFFFFFD, 4) + Le(0xFFFFFFFE, 4));
  std::vector<QString> names = {QStringLiteral("Root Entry")};
  names.insert(names.end(), top.begin(), top.end());
  if (!nested.isEmpty()) names.push_back(nested);
  for (std::size_t i = 0; i < 4; ++i) {
    QByteArray e(128, '\0');
    const QString name = i < names.size() ? names[i] : QString();
    for (int k = 0; k < name.size(); ++k) e.replace(2 * k, 2, Le(name[k].unicode(), 2));
    e.replace(0x40, 2, Le(static_cast<std::uint64_t>(2 * name.size() + 2), 2));
    const std::uint64_t right = i >= 1 && i < top.size() ? i + 1 : 0xFFFFFFFF;
    const std::uint64_t child = i == 0 ? 1 : i == 1 && !nested.isEmpty() ? top.size() + 1 : 0xFFFFFFFF;
    e.replace(0x44, 12, Le(0xFFFFFFFF, 4) + Le(right, 4) + Le(child, 4));
    if (i == 0 && !root_class.isEmpty()) e.replace(0x50, 16, root_class);
    out += e;
  }
  return out;
}

QByteArray Ebml(const QByteArray& doc_type) {
  const QByteArray body = QByteArray("\x42\x86\x81\x01\x42\x82", 6) + char(0x80 | doc_type.size()) + doc_type;
  return QByteArray("\x1A\x45\xDF\xA3", 4) + char(0x80 | body.size()) + body;
}

QByteArray Pe(std::uint16_t characteristics) {
  return "MZ" + QByteArray(0x3A, '\0') + Le(0x40, 4) + QByteArray("PE\0\0", 4) + QByteArray(18, '\0') +
         Le(characteristics, 2) + QByteArray(400, '\0');
}

// An ASF header object holding one stream properties object per stream type
// (the last 12 bytes of the media GUIDs, which audio and video share, follow).
QByteArray Asf(const std::vector<const char*>& stream_types) {
  QByteArray objects;
  for (const char* t : stream_types) {
    objects += QByteArray("\x91\x07\xDC\xB7\xB7\xA9\xCF\x11\x8E\xE6\x00\xC0\x0C\x20\x53\x65", 16) + Le(40, 8) +
               QByteArray(t, 4) + QByteArray("\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B", 12);
  }
  return QByteArray("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16) +
         Le(30 + objects.size(), 8) + Le(stream_types.size(), 4) + "\x01\x02" + objects;
}
const char* const kVideo = "\xC0\xEF\x19\xBC";
const char* const kAudio = "\x40\x9E\x69\xF8";

struct Case {
  const char* name;
  const char* type;  // the catalogue's
  std::function<QByteArray()> make;
  const char* expected;
  std::uint64_t length = 0;  // 0: the whole file
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class ContentType : public ::testing::TestWithParam<Case> {};

TEST_P(ContentType, NamesTheTypeTheBytesShow) {
  const Case& c = GetParam();
  const QByteArray file = c.make();
  Item item(file, Garbage(1024, 3));
  EXPECT_EQ(Type_From_Content(item.bytes(), c.type, c.length == 0 ? static_cast<std::uint64_t>(file.size()) : c.length),
            c.expected);
}

const Case kCases[] = {
    {"WordDocument", "DOCX", [] { return samples::Make_Docx(2); }, "DOCX"},
    {"Workbook", "DOCX", [] { return Office("xl/workbook.xml"); }, "XLSX"},
    {"ContentTypesWithoutOfficeParts", "DOCX", [] { return Office("other/part.xml"); }, "ZIP"},
    {"CutBeforeItsDirectoryReadsLocalHeaders", "ZIP", [] { return Office("xl/workbook.xml").left(150); }, "XLSX", 150},
    {"OpenDocumentText", "ZIP",
     [] { return Make_Stored_Zip({{"mimetype", "application/vnd.oasis.opendocument.text"}, {"content.xml", "<c/>"}}); },
     "ODT"},
    {"Epub", "ZIP", [] { return Make_Stored_Zip({{"mimetype", "application/epub+zip"}}); }, "EPUB"},
    {"UnknownMediaTypeIsAZip", "ODT", [] { return Make_Stored_Zip({{"mimetype", "application/x-other"}}); }, "ZIP"},
    {"JavaArchive", "ZIP", [] { return Make_Stored_Zip({{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\n"}}); },
     "JAR"},
    {"NoZipAtAllKeepsTheType", "DOCX", [] { return Garbage(2000); }, "DOCX"},
    {"WordStreams", "DOC", [] { return Compound({"1Table", "WordDocument"}); }, "DOC"},
    {"ExcelStreams", "DOC", [] { return Compound({"Workbook"}); }, "XLS"},
    {"PowerPointStreams", "DOC", [] { return Compound({"Current User", "PowerPoint Document"}); }, "PPT"},
    {"OutlookMessage", "DOC", [] { return Compound({"__substg1.0_0037001F"}); }, "MSG"},
    {"VisioDrawing", "DOC", [] { return Compound({"VisioDocument"}); }, "VSD"},
    {"EmbeddedWorkbookDoesNotCount", "DOC", [] { return Compound({"ObjectPool"}, "Workbook"); }, "DOC"},
    {"InstallerClass", "DOC",
     [] { return Compound({"x"}, {}, QByteArray("\x84\x10\x0C\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16)); },
     "MSI"},
    {"UnknownStreamsKeepTheType", "XLS", [] { return Compound({"Something"}); }, "XLS"},
    {"CompoundFileBadSectorSize", "DOC", [] { return Compound({"Workbook"}).replace(0x1E, 1, "\x0A"); }, "DOC"},
    {"WebM", "MKV", [] { return Ebml("webm"); }, "WEBM"},
    {"MatroskaFoundAsWebm", "WEBM", [] { return Ebml("matroska"); }, "MKV"},
    {"Library", "EXE", [] { return Pe(0x2102); }, "DLL"},
    {"Program", "DLL", [] { return Pe(0x0102); }, "EXE"},
    {"DosProgramKeepsTheType", "EXE", [] { return "MZ" + QByteArray(600, '\0'); }, "EXE"},
    {"AsfWithVideo", "ASF", [] { return Asf({kAudio, kVideo}); }, "WMV"},
    {"AsfWithSoundOnly", "WMV", [] { return Asf({kAudio}); }, "WMA"},
    {"AsfWithNoStreamsKeepsTheType", "WMV", [] { return Asf({}); }, "WMV"},
    {"DvdNavigationPack", "MPG", [] { return QByteArray("\0\0\1\xBA\x44\0\4\0\4\1\1\x89\xC3\xF8\0\0\1\xBF", 18); }, "VOB"},
    {"Encapsulated", "PS", [] { return QByteArray("%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 1 1\n"); }, "EPS"},
    {"EpsfOnALaterLineIsPlainPostScript", "PS", [] { return QByteArray("%!PS-Adobe-3.0\n% EPSF-3.0\n"); }, "PS"},
    {"UnrelatedTypeUntouched", "JPG", [] { return Make_Stored_Zip({{"word/a", "b"}}); }, "JPG"},
};
INSTANTIATE_TEST_SUITE_P(Files, ContentType, ::testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace tamberlin::recovery
