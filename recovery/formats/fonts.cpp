// Fonts: TrueType and OpenType (a table directory: sane table count, tags
// of printable characters in ascending order, tables inside the limit; the
// file ends at the furthest table, padded to 4 bytes when the padding is
// there), TrueType collections (each font's directory) and WOFF/WOFF2 (the
// header states the file's length).
#include <algorithm>
#include <optional>

#include "recovery/formats/checks.h"
#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint64_t kMaxTables = 256;
constexpr std::uint64_t kMaxFonts = 1024;

// The end of the furthest table of the font whose directory starts at `at`,
// or nothing with `why` set.
std::optional<std::uint64_t> Directory_End(ItemBytes& b, std::uint64_t at, const char*& why) {
  const std::uint32_t version = b.U32be(at);
  if (version != 0x00010000 && version != 0x4F54544F && version != 0x74727565) {  // 1.0, "OTTO", "true"
    why = "no sfnt version";
    return std::nullopt;
  }
  const std::uint64_t tables = b.U16be(at + 4);
  if (tables == 0 || tables > kMaxTables || !b.Has(at, 12 + tables * 16)) {
    why = "no plausible table count";
    return std::nullopt;
  }
  std::uint64_t end = 0;
  std::uint32_t previous = 0;
  for (std::uint64_t i = 0; i < tables; ++i) {
    const std::uint64_t e = at + 12 + i * 16;
    const std::uint32_t tag = b.U32be(e);
    for (int s = 0; s < 32; s += 8) {
      const auto c = static_cast<std::uint8_t>(tag >> s);
      if (c < 0x20 || c > 0x7E) {
        why = "table tag is not text";
        return std::nullopt;
      }
    }
    if (i > 0 && tag <= previous) {
      why = "table tags are not sorted";
      return std::nullopt;
    }
    previous = tag;
    const std::uint64_t offset = b.U32be(e + 8), length = b.U32be(e + 12);
    if (offset < 12 + tables * 16) {
      why = "a table overlaps the directory";
      return std::nullopt;
    }
    // No font of this type is larger than the limit: a table past it is not a table.
    const auto table_end = checks::Add_Within(offset, length, b.Limit());
    if (!table_end) {
      why = "a table lies past the type's maximum size";
      return std::nullopt;
    }
    end = std::max(end, *table_end);
  }
  return end;
}

// `end`, or `end` rounded up to 4 when the padding bytes are there and zero.
std::uint64_t With_Padding(ItemBytes& b, std::uint64_t end) {
  const std::uint64_t padded = (end + 3) / 4 * 4;
  for (std::uint64_t i = end; i < padded; ++i) {
    if (checks::Byte(b, i) != std::uint8_t{0}) return end;
  }
  return padded;
}

EndFinding Finish(ItemBytes& b, std::uint64_t end) {
  if (!b.Has(0, end)) return EndFinding::Unknown("tables cut short");
  return EndFinding::Found(With_Padding(b, end));
}

}  // namespace

EndFinding Find_Sfnt_End(ItemBytes& bytes) {
  const char* why = "";
  const auto end = Directory_End(bytes, 0, why);
  if (!end) return EndFinding::Not_This_Format(why);
  return Finish(bytes, *end);
}

EndFinding Find_Ttc_End(ItemBytes& bytes) {
  if (!bytes.Matches(0, "ttcf") || !bytes.Has(0, 12)) return EndFinding::Not_This_Format("no collection header");
  const std::uint32_t version = bytes.U32be(4);
  const std::uint64_t fonts = bytes.U32be(8);
  if ((version != 0x00010000 && version != 0x00020000) || fonts == 0 || fonts > kMaxFonts) {
    return EndFinding::Not_This_Format("collection header fields are wrong");
  }
  if (!bytes.Has(12, fonts * 4 + 12)) return EndFinding::Not_This_Format("collection header cut short");
  std::uint64_t end = 12 + fonts * 4;
  for (std::uint64_t i = 0; i < fonts; ++i) {
    const char* why = "";
    const std::uint64_t at = bytes.U32be(12 + i * 4);
    if (at < 12 + fonts * 4) return EndFinding::Not_This_Format("a font overlaps the header");
    const auto font_end = Directory_End(bytes, at, why);
    if (!font_end) return EndFinding::Not_This_Format(why);
    end = std::max(end, *font_end);
  }
  // Version 2 may add a digital signature table.
  const std::uint64_t dsig = 12 + fonts * 4;
  if (version == 0x00020000 && bytes.Matches(dsig, "DSIG")) {
    const auto dsig_end = checks::Add_Within(bytes.U32be(dsig + 8), bytes.U32be(dsig + 4), bytes.Limit());
    if (!dsig_end) return EndFinding::Unknown("signature runs past the limit");
    end = std::max(end, *dsig_end);
  }
  return Finish(bytes, end);
}

EndFinding Find_Woff_End(ItemBytes& bytes) {
  const bool woff2 = bytes.Matches(0, "wOF2");
  if (!woff2 && !bytes.Matches(0, "wOFF")) return EndFinding::Not_This_Format("no WOFF signature");
  const std::uint64_t header = woff2 ? 48 : 44, entry = woff2 ? 0 : 20;
  if (!bytes.Has(0, header)) return EndFinding::Not_This_Format("header cut short");
  const std::uint32_t flavor = bytes.U32be(4);
  const std::uint64_t length = bytes.U32be(8), tables = bytes.U16be(12);
  if ((flavor != 0x00010000 && flavor != 0x4F54544F && flavor != 0x74746366 && flavor != 0x74727565) ||
      bytes.U16be(14) != 0 || tables == 0 || tables > kMaxTables || length < header + tables * entry) {
    return EndFinding::Not_This_Format("header fields are wrong");
  }
  if (woff2 && bytes.U32be(20) >= length) return EndFinding::Not_This_Format("compressed size exceeds the file");
  if (length > bytes.Limit() || !bytes.Has(0, length)) return EndFinding::Unknown("file runs past the limit");
  return EndFinding::Found(length);
}

}  // namespace tamberlin::recovery
