// Type_From_Content over files built here: the member names of zips, the streams of compound files, EBML doc
// types, PE flags, ASF streams, DVD packs and PostScript first lines; damaged or foreign bytes keep the type.
#include "recovery/content_type.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "recovery/format_samples.h"
#include "tools/sample_files/sample_files.h"

namespace tamberlin::recovery {
namespace {

using namespace samples;
using namespace testing;

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
