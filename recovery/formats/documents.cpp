// Application documents checked by their headers: Outlook PST (the root
// states the file's end), Access MDB/ACCDB, OneNote (expected length),
// WordPerfect, DjVu (FORM length), compiled HTML help (the header section
// states the file size), Mobipocket (PalmDB record list), KeePass KDBX
// (version 4: the block stream to its empty block), AutoCAD DWG, Blender
// (block walk to ENDB) and BitTorrent metainfo (bencode to the end of the
// top dictionary). Without a stated end a sane header gives Unknown.
#include <algorithm>
#include <optional>
#include <vector>

#include "recovery/formats/checks.h"
#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

EndFinding Found_If_Whole(ItemBytes& b, std::uint64_t end, const char* why) {
  if (end > b.Limit() || !b.Has(0, end)) return EndFinding::Unknown(why);
  return EndFinding::Found(end);
}

bool Printable(std::uint8_t c) { return c >= 0x20 && c <= 0x7E; }

}  // namespace

EndFinding Find_Pst_End(ItemBytes& b) {
  if (!b.Matches(0, "!BDN") || !b.Has(0, 0xC0)) return EndFinding::Not_This_Format("no PST header");
  const std::uint16_t version = b.U16le(10);
  const auto create = checks::Byte(b, 14), access = checks::Byte(b, 15);
  if (b.U16le(8) != 0x4D53 || create != 1 || access != 1 || (version != 14 && version != 15 && version < 23)) {
    return EndFinding::Not_This_Format("PST header fields are wrong");
  }
  const std::uint64_t end = version >= 23 ? b.U64le(0xB8) : b.U32le(0xA8);
  if (end < 0x200) return EndFinding::Unknown("no file end in the root");
  return Found_If_Whole(b, end, "file end lies past the limit");
}

EndFinding Find_Jet_End(ItemBytes& b) {
  const bool jet = b.Matches(0, std::string_view("\0\1\0\0Standard Jet DB\0", 20));
  if (!jet && !b.Matches(0, std::string_view("\0\1\0\0Standard ACE DB\0", 20))) {
    return EndFinding::Not_This_Format("no Access header");
  }
  if (!b.Has(0, 24) || b.U32le(20) > 0x0105) return EndFinding::Not_This_Format("no such engine version");
  return EndFinding::Unknown("Access databases state no end");
}

EndFinding Find_One_End(ItemBytes& b) {
  constexpr char kFormat[] = "\x3F\xDD\x9A\x10\x1B\x91\xF5\x49\xA5\xD0\x17\x91\xED\xC8\xAE\xD8";
  if (!b.Has(0, 1024) || !b.Matches(48, std::string_view(kFormat, 16))) {
    return EndFinding::Not_This_Format("no OneNote file format id");
  }
  if (b.U64le(32) != 0 || b.U64le(40) != 0) return EndFinding::Not_This_Format("legacy version id is not zero");
  const std::uint64_t end = b.U64le(196);
  if (end < 1024) return EndFinding::Unknown("no expected length");
  return Found_If_Whole(b, end, "expected length lies past the limit");
}

EndFinding Find_Wpd_End(ItemBytes& b) {
  if (!b.Matches(0, "\xFF" "WPC") || !b.Has(0, 16)) return EndFinding::Not_This_Format("no WordPerfect header");
  const std::uint64_t document = b.U32le(4);
  const auto product = checks::Byte(b, 8), major = checks::Byte(b, 10);
  if (document < 16 || document > 0x10000 || product != 1 || major > 3) {
    return EndFinding::Not_This_Format("WordPerfect header fields are wrong");
  }
  return EndFinding::Unknown("WordPerfect states no end");
}

EndFinding Find_Djvu_End(ItemBytes& b) {
  if (!b.Matches(0, "AT&TFORM") || !b.Has(0, 16)) return EndFinding::Not_This_Format("no DjVu FORM");
  if (!b.Matches(12, "DJVU") && !b.Matches(12, "DJVM") && !b.Matches(12, "DJVI") && !b.Matches(12, "THUM")) {
    return EndFinding::Not_This_Format("no DjVu form type");
  }
  const std::uint64_t length = b.U32be(8);
  if (length < 4) return EndFinding::Not_This_Format("FORM too short");
  return Found_If_Whole(b, 12 + length, "FORM runs past the limit");
}

EndFinding Find_Chm_End(ItemBytes& b) {
  if (!b.Matches(0, std::string_view("ITSF\3\0\0\0", 8)) || !b.Has(0, 0x60)) return EndFinding::Not_This_Format("no CHM header");
  if (b.U32le(8) != 0x60 || b.U32le(12) != 1) return EndFinding::Not_This_Format("CHM header fields are wrong");
  // The header section table starts at 0x38 with section 0, which holds the
  // file's size at its offset 8.
  const std::uint64_t section = b.U64le(0x38);
  if (section < 0x60 || section > 0x10000 || !b.Has(section, 16)) return EndFinding::Not_This_Format("no header section 0");
  if (b.U32le(section) != 0x01FE) return EndFinding::Not_This_Format("header section 0 is wrong");
  return Found_If_Whole(b, b.U64le(section + 8), "file size lies past the limit");
}

EndFinding Find_Mobi_End(ItemBytes& b) {
  if (!b.Matches(60, "BOOKMOBI") || !b.Has(0, 78)) return EndFinding::Not_This_Format("no PalmDB header");
  std::uint8_t name[32] = {};
  b.Read(0, name, 32);
  const auto nul = std::find(name, name + 32, std::uint8_t{0});
  const auto is_text = [](std::uint8_t c) { return c >= 0x20 && c != 0x7F; };
  if (nul == name || nul == name + 32 || !std::all_of(name, nul, is_text)) {
    return EndFinding::Not_This_Format("database name is not text");
  }
  const std::uint64_t records = b.U16be(76);
  if (b.U32be(72) != 0 || records == 0) return EndFinding::Not_This_Format("no record list");
  std::uint64_t previous = 78 + records * 8;
  for (std::uint64_t i = 0; i < records; ++i) {
    if (!b.Has(78 + i * 8, 8)) return EndFinding::Unknown("record list cut short");
    const std::uint64_t offset = b.U32be(78 + i * 8);
    if (offset < previous) return EndFinding::Not_This_Format("record offsets out of order");
    previous = offset;
  }
  return EndFinding::Unknown("the last record's length is not stated");
}

EndFinding Find_Kdbx_End(ItemBytes& b) {
  if (!b.Matches(0, "\x03\xD9\xA2\x9A\x67\xFB\x4B\xB5") || !b.Has(0, 12)) return EndFinding::Not_This_Format("no KeePass signature");
  const std::uint16_t major = b.U16le(10);
  if (major < 2 || major > 4 || b.U16le(8) > 1) return EndFinding::Not_This_Format("no such KDBX version");
  // Header fields: id, size (2 bytes before version 4, 4 from it), data; id 0 ends them.
  const std::uint64_t size_bytes = major >= 4 ? 4 : 2;
  std::uint64_t pos = 12;
  for (int n = 0;; ++n) {
    const auto id = checks::Byte(b, pos);
    if (!id || n > 64 || *id > 12 || !b.Has(pos + 1, size_bytes)) return EndFinding::Not_This_Format("header fields do not walk");
    const std::uint64_t size = size_bytes == 4 ? b.U32le(pos + 1) : b.U16le(pos + 1);
    if (size > 1024 * 1024) return EndFinding::Not_This_Format("header field too long");
    pos += 1 + size_bytes + size;
    if (*id == 0) break;
  }
  if (major < 4) return EndFinding::Unknown("the encrypted payload states no end");
  // Version 4: header SHA-256 and HMAC, then blocks of HMAC, size, data; an empty block ends them.
  pos += 64;
  for (std::uint64_t n = 0; n < (1u << 24); ++n) {
    if (!b.Has(pos, 36)) return EndFinding::Unknown("block stream cut short");
    const std::uint64_t size = b.U32le(pos + 32);
    const auto next = checks::Add_Within(pos + 36, size, b.Limit());
    if (!next) return EndFinding::Unknown("a block runs past the limit");
    if (size == 0) return Found_If_Whole(b, *next, "block stream cut short");
    pos = *next;
  }
  return EndFinding::Unknown("too many blocks");
}

EndFinding Find_Dwg_End(ItemBytes& b) {
  constexpr std::string_view kVersions[] = {"AC1012", "AC1014", "AC1015", "AC1018", "AC1021", "AC1024", "AC1027", "AC1032"};
  if (!std::any_of(std::begin(kVersions), std::end(kVersions), [&b](std::string_view v) { return b.Matches(0, v); })) {
    return EndFinding::Not_This_Format("no such DWG version");
  }
  if (!b.Matches(6, std::string_view("\0\0\0\0\0", 5))) return EndFinding::Not_This_Format("DWG header padding is not zero");
  return EndFinding::Unknown("DWG states no end");
}

EndFinding Find_Blend_End(ItemBytes& b) {
  std::uint8_t h[17] = {};
  if (b.Read(0, h, 17) != 17 || !b.Matches(0, "BLENDER")) return EndFinding::Not_This_Format("no Blender header");
  const auto digits = [&h](int from, int to) {
    return std::all_of(h + from, h + to, [](std::uint8_t c) { return c >= '0' && c <= '9'; });
  };
  // The newer header form: "BLENDER", header size, '-', file format version, 'v', version.
  if (digits(7, 9)) {
    if (h[9] != '-' || !digits(10, 12) || h[12] != 'v' || !digits(13, 17)) {
      return EndFinding::Not_This_Format("Blender header fields are wrong");
    }
    return EndFinding::Unknown("newer Blender header form");
  }
  const bool wide = h[7] == '-';
  if ((h[7] != '_' && h[7] != '-') || (h[8] != 'v' && h[8] != 'V') ||
      !std::all_of(h + 9, h + 12, [](std::uint8_t c) { return c >= '0' && c <= '9'; })) {
    return EndFinding::Not_This_Format("Blender header fields are wrong");
  }
  const bool big = h[8] == 'V';
  const std::uint64_t block = wide ? 24 : 20;
  std::uint64_t pos = 12;
  for (std::uint64_t n = 0; n < (1u << 24); ++n) {
    const auto fail = [n](const char* why) { return n == 0 ? EndFinding::Not_This_Format(why) : EndFinding::Unknown(why); };
    std::uint8_t code[4] = {};
    if (b.Read(pos, code, 4) != 4 || !b.Has(pos, block)) return fail("block header cut short");
    if (!Printable(code[0]) || !std::all_of(code, code + 4, [](std::uint8_t c) { return c == 0 || Printable(c); })) {
      return fail("block code is not text");
    }
    const std::uint64_t size = big ? b.U32be(pos + 4) : b.U32le(pos + 4);
    const auto next = checks::Add_Within(pos + block, size, b.Limit());
    if (!next) return EndFinding::Unknown("a block runs past the limit");
    if (b.Matches(pos, "ENDB")) return Found_If_Whole(b, *next, "end block cut short");
    pos = *next;
  }
  return EndFinding::Unknown("too many blocks");
}

EndFinding Find_Torrent_End(ItemBytes& b) {
  if (!b.Matches(0, "d8:announce")) return EndFinding::Not_This_Format("no metainfo dictionary");
  // One pass over the bencoding with a stack of open containers (true: a dictionary).
  std::vector<bool> open;
  std::vector<bool> expect_key;
  std::uint64_t pos = 0;
  std::uint64_t values = 0;
  const auto fail = [&values](const char* why) {
    return values < 3 ? EndFinding::Not_This_Format(why) : EndFinding::Unknown(why);
  };
  // After a whole value: a dictionary expects a key next, or its value after a key.
  const auto done_value = [&] {
    if (!open.empty() && open.back()) expect_key.back() = !expect_key.back();
  };
  while (true) {
    const auto c = checks::Byte(b, pos);
    if (!c) return fail("data ends inside the dictionary");
    const bool key_next = !open.empty() && open.back() && expect_key.back();
    if (*c == 'e' && !open.empty() && (!open.back() || expect_key.back())) {
      open.pop_back();
      expect_key.pop_back();
      ++pos;
      if (open.empty()) return EndFinding::Found(pos);
      done_value();
    } else if (*c >= '0' && *c <= '9') {
      std::uint64_t len = 0;
      for (int digits = 0;; ++digits) {
        const auto d = checks::Byte(b, pos);
        if (!d || digits > 10) return fail("string length too long");
        ++pos;
        if (*d == ':') break;
        if (*d < '0' || *d > '9') return fail("no string length");
        len = len * 10 + static_cast<std::uint64_t>(*d - '0');
      }
      pos += len;
      ++values;
      done_value();
    } else if (key_next) {
      return fail("dictionary key is not a string");
    } else if (*c == 'i') {
      ++pos;
      for (int digits = 0;; ++digits) {
        const auto d = checks::Byte(b, pos++);
        if (!d || digits > 20 || !((*d >= '0' && *d <= '9') || (*d == '-' && digits == 0) || (*d == 'e' && digits > 0))) {
          return fail("bad integer");
        }
        if (*d == 'e') break;
      }
      ++values;
      done_value();
    } else if ((*c == 'd' || *c == 'l') && open.size() < 64) {
      open.push_back(*c == 'd');
      expect_key.push_back(true);
      ++pos;
    } else {
      return fail("not bencoding");
    }
  }
}

}  // namespace tamberlin::recovery
