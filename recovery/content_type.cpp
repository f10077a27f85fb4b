#include "recovery/content_type.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <vector>

namespace tamberlin::recovery {

namespace {

bool One_Of(std::string_view type, std::initializer_list<std::string_view> keys) {
  return std::find(keys.begin(), keys.end(), type) != keys.end();
}

bool Starts_With(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

std::string Read_Text(ItemBytes& b, std::uint64_t offset, std::size_t n) {
  std::string out(n, '\0');
  out.resize(b.Read(offset, reinterpret_cast<std::uint8_t*>(out.data()), n));
  return out;
}

// ---- zip: member names from the central directory, or else from the local
// headers in a row ----

constexpr std::size_t kMaxMembers = 4096;

void Names_From_Directory(ItemBytes& b, std::uint64_t length, std::vector<std::string>& names) {
  if (length < 22) return;
  const std::uint64_t from = length > 22 + 0xFFFF ? length - 22 - 0xFFFF : 0;
  const std::uint8_t sig[] = {'P', 'K', 5, 6};
  const std::uint64_t eocd = b.Find_Last(sig, from, length - 22 + 1);
  if (eocd == ItemBytes::npos) return;
  std::uint64_t at = b.U32le(eocd + 16);
  const std::uint64_t end = at + b.U32le(eocd + 12);
  if (end > eocd) return;  // no directory of this archive (or a Zip64 one)
  while (names.size() < kMaxMembers && at + 46 <= end && b.Matches(at, "PK\x01\x02")) {
    const std::uint16_t name_len = b.U16le(at + 28);
    names.push_back(Read_Text(b, at + 46, std::min<std::size_t>(name_len, 256)));
    at += 46u + name_len + b.U16le(at + 30) + b.U16le(at + 32);
  }
}

void Names_From_Local_Headers(ItemBytes& b, std::uint64_t length, std::vector<std::string>& names) {
  std::uint64_t at = 0;
  while (names.size() < kMaxMembers && at + 30 <= length && b.Matches(at, "PK\x03\x04")) {
    const std::uint16_t flags = b.U16le(at + 6);
    const std::uint32_t packed = b.U32le(at + 18);
    const std::uint16_t name_len = b.U16le(at + 26);
    names.push_back(Read_Text(b, at + 30, std::min<std::size_t>(name_len, 256)));
    if ((flags & 8) != 0 && packed == 0) return;  // size only after the data: no way past it cheaply
    at += 30u + name_len + b.U16le(at + 28) + packed;
    if ((flags & 8) != 0) at += b.Matches(at, "PK\x07\x08") ? 16 : 12;
  }
}

std::string Zip_Type(ItemBytes& b, std::string_view type, std::uint64_t length) {
  // OpenDocument and EPUB store their media type first, uncompressed.
  if (b.Matches(0, "PK\x03\x04") && b.U16le(8) == 0 && b.U16le(26) == 8 && b.Matches(30, "mimetype")) {
    const std::uint32_t size = b.U32le(18);
    const std::string media = size <= 100 ? Read_Text(b, 38u + b.U16le(28), size) : std::string();
    static constexpr std::pair<std::string_view, std::string_view> kMedia[] = {
        {"application/vnd.oasis.opendocument.text", "ODT"},
        {"application/vnd.oasis.opendocument.spreadsheet", "ODS"},
        {"application/vnd.oasis.opendocument.presentation", "ODP"},
        {"application/vnd.oasis.opendocument.graphics", "ODG"},
        {"application/epub+zip", "EPUB"},
    };
    for (const auto& [text, key] : kMedia) {
      if (media == text) return std::string(key);
    }
  }
  std::vector<std::string> names;
  Names_From_Directory(b, length, names);
  if (names.empty()) Names_From_Local_Headers(b, length, names);
  if (names.empty()) return std::string(type);
  const auto any = [&](auto&& pred) { return std::any_of(names.begin(), names.end(), pred); };
  if (any([](const std::string& n) { return n == "[Content_Types].xml"; })) {
    if (any([](const std::string& n) { return Starts_With(n, "word/"); })) return "DOCX";
    if (any([](const std::string& n) { return Starts_With(n, "xl/"); })) return "XLSX";
    if (any([](const std::string& n) { return Starts_With(n, "ppt/"); })) return "PPTX";
  }
  if (any([](const std::string& n) { return n == "META-INF/MANIFEST.MF"; })) return "JAR";
  return "ZIP";
}

// ---- compound files: the stream names at the top of the directory ----

struct DirEntry {
  std::string name;  // UTF-16 names cut to their ASCII part
  std::uint32_t left = 0, right = 0, child = 0;
};
constexpr std::uint32_t kNoEntry = 0xFFFFFFFF;

std::string Ole2_Type(ItemBytes& b, std::string_view type) {
  const std::uint16_t shift = b.U16le(0x1E);
  if (!b.Matches(0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1") || (shift != 9 && shift != 12)) return std::string(type);
  const std::uint64_t sector_size = std::uint64_t{1} << shift;
  const std::uint64_t per_fat_sector = sector_size / 4;
  const auto offset_of = [&](std::uint64_t sector) { return (sector + 1) << shift; };
  // The next sector of a chain: the FAT sectors the header lists suffice for
  // every file up to several megabytes; larger directories are cut short.
  const auto next = [&](std::uint64_t sector) -> std::uint64_t {
    const std::uint64_t fat_index = sector / per_fat_sector;
    if (fat_index >= 109) return kNoEntry;
    const std::uint64_t fat_sector = b.U32le(0x4C + 4 * fat_index);
    if (fat_sector >= 0xFFFFFFFA) return kNoEntry;
    return b.U32le(offset_of(fat_sector) + (sector % per_fat_sector) * 4);
  };
  std::vector<DirEntry> entries;
  std::array<std::uint8_t, 16> root_class{};
  std::uint64_t sector = b.U32le(0x30);
  for (int hops = 0; sector < 0xFFFFFFFA && hops < 256 && entries.size() < kMaxMembers; ++hops) {
    const std::uint64_t base = offset_of(sector);
    if (!b.Has(base, static_cast<std::size_t>(sector_size))) break;
    for (std::uint64_t e = base; e < base + sector_size; e += 128) {
      DirEntry entry;
      const std::uint16_t name_bytes = std::min<std::uint16_t>(b.U16le(e + 0x40), 64);
      for (std::uint64_t i = 0; i + 1 < name_bytes; i += 2) {
        const std::uint16_t c = b.U16le(e + i);
        if (c == 0) break;
        entry.name += c < 0x80 ? static_cast<char>(c) : '?';
      }
      entry.left = b.U32le(e + 0x44);
      entry.right = b.U32le(e + 0x48);
      entry.child = b.U32le(e + 0x4C);
      if (entries.empty()) b.Read(e + 0x50, root_class.data(), root_class.size());
      entries.push_back(std::move(entry));
    }
    sector = next(sector);
  }
  if (entries.empty()) return std::string(type);
  // Only the root's own streams count: an embedded workbook inside a Word
  // document sits in a storage further down.
  std::vector<std::uint32_t> todo = {entries[0].child};
  std::vector<bool> seen(entries.size(), false);
  std::string found;
  int rank = 99;
  const auto consider = [&](const std::string& name) {
    static constexpr std::pair<std::string_view, std::string_view> kStreams[] = {
        {"WordDocument", "DOC"}, {"PowerPoint Document", "PPT"}, {"Workbook", "XLS"},
        {"Book", "XLS"},         {"VisioDocument", "VSD"},
    };
    for (int i = 0; i < static_cast<int>(std::size(kStreams)); ++i) {
      if (name == kStreams[i].first && i < rank) {
        rank = i;
        found = kStreams[i].second;
      }
    }
    if (Starts_With(name, "__substg1.0_") && rank > 10) {
      rank = 10;
      found = "MSG";
    }
  };
  while (!todo.empty()) {
    const std::uint32_t id = todo.back();
    todo.pop_back();
    if (id >= entries.size() || seen[id]) continue;
    seen[id] = true;
    consider(entries[id].name);
    todo.push_back(entries[id].left);
    todo.push_back(entries[id].right);
  }
  if (!found.empty()) return found;
  // Windows Installer packages mark their root with their own class id.
  constexpr std::array<std::uint8_t, 16> kInstaller = {0x84, 0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                       0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  if (root_class == kInstaller) return "MSI";
  return std::string(type);
}

// ---- Matroska / WebM: the DocType of the EBML header ----

std::string Ebml_Type(ItemBytes& b, std::string_view type) {
  const std::uint8_t id[] = {0x42, 0x82};
  const std::uint64_t at = b.Find(id, 4, 64);
  if (at == ItemBytes::npos) return std::string(type);
  std::uint8_t first = 0;
  if (b.Read(at + 2, &first, 1) != 1 || first == 0) return std::string(type);
  int width = 1;
  while ((first & (0x80 >> (width - 1))) == 0) ++width;
  std::uint64_t size = first & (0xFF >> width);
  for (int i = 1; i < width; ++i) {
    std::uint8_t more = 0;
    b.Read(at + 2 + static_cast<std::uint64_t>(i), &more, 1);
    size = size << 8 | more;
  }
  if (size > 32) return std::string(type);
  std::string doc_type = Read_Text(b, at + 2 + static_cast<std::uint64_t>(width), static_cast<std::size_t>(size));
  doc_type.erase(std::find(doc_type.begin(), doc_type.end(), '\0'), doc_type.end());
  if (doc_type == "webm") return "WEBM";
  if (doc_type == "matroska" && type == "WEBM") return "MKV";
  return std::string(type);
}

// ---- Windows programs: the PE header's library flag ----

std::string Pe_Type(ItemBytes& b, std::string_view type) {
  if (!b.Matches(0, "MZ")) return std::string(type);
  const std::uint32_t pe = b.U32le(0x3C);
  if (pe < 0x40 || pe > 0x10000 || !b.Matches(pe, std::string_view("PE\0\0", 4))) return std::string(type);
  constexpr std::uint16_t kLibrary = 0x2000;
  return (b.U16le(pe + 22) & kLibrary) != 0 ? "DLL" : "EXE";
}

// ---- ASF: the stream types of the header object ----

std::string Asf_Type(ItemBytes& b, std::string_view type) {
  constexpr std::string_view kStreamProperties("\x91\x07\xDC\xB7\xB7\xA9\xCF\x11\x8E\xE6\x00\xC0\x0C\x20\x53\x65", 16);
  constexpr std::string_view kVideo("\xC0\xEF\x19\xBC\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B", 16);
  constexpr std::string_view kAudio("\x40\x9E\x69\xF8\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B", 16);
  const std::uint64_t header_end = std::min<std::uint64_t>(b.U64le(16), 1 << 20);
  bool video = false, audio = false;
  std::uint64_t at = 30;
  for (std::uint32_t n = b.U32le(24); n > 0 && at + 24 <= header_end; --n) {
    const std::uint64_t size = b.U64le(at + 16);
    if (size < 24) break;
    if (b.Matches(at, kStreamProperties)) {
      video = video || b.Matches(at + 24, kVideo);
      audio = audio || b.Matches(at + 24, kAudio);
    }
    at += size;
  }
  if (video) return "WMV";
  if (audio) return "WMA";
  return std::string(type);
}

// ---- MPEG program streams: a DVD's navigation pack ----

std::string Mpeg_Ps_Type(ItemBytes& b, std::uint64_t length) {
  // A DVD video object starts with a navigation pack: after the pack and
  // system headers come two private-stream-2 packets (PCI and DSI).
  const std::uint8_t private_2[] = {0, 0, 1, 0xBF};
  return b.Find(private_2, 0, std::min<std::uint64_t>(length, 2048)) != ItemBytes::npos ? "VOB" : "MPG";
}

// ---- PostScript: the first line says whether it is encapsulated ----

std::string PostScript_Type(ItemBytes& b, std::string_view type) {
  if (!b.Matches(0, "%!PS")) return std::string(type);
  std::string line = Read_Text(b, 0, 128);
  line = line.substr(0, line.find_first_of("\r\n"));
  return line.find(" EPSF-") != std::string::npos ? "EPS" : "PS";
}

}  // namespace

std::string Type_From_Content(ItemBytes& bytes, std::string_view type, std::uint64_t length) {
  if (One_Of(type, {"ZIP", "DOCX", "XLSX", "PPTX", "ODT", "ODS", "ODP", "ODG", "EPUB", "JAR"})) {
    return Zip_Type(bytes, type, length);
  }
  if (One_Of(type, {"DOC", "XLS", "PPT", "MSG", "VSD", "MSI"})) return Ole2_Type(bytes, type);
  if (One_Of(type, {"MKV", "WEBM"})) return Ebml_Type(bytes, type);
  if (One_Of(type, {"EXE", "DLL"})) return Pe_Type(bytes, type);
  if (One_Of(type, {"WMV", "ASF", "WMA"})) return Asf_Type(bytes, type);
  if (One_Of(type, {"MPG", "VOB"})) return Mpeg_Ps_Type(bytes, length);
  if (One_Of(type, {"PS", "EPS"})) return PostScript_Type(bytes, type);
  return std::string(type);
}

}  // namespace tamberlin::recovery
