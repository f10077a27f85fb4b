// Camera raw formats that are not TIFF-based: Canon CRW (a CIFF heap whose
// table sits at its end), Fujifilm RAF (a header listing its parts), Minolta
// MRW (a block list, then the sensor data) and Sigma X3F (a section directory
// at the end, named by the file's last four bytes).
#include <algorithm>
#include <string_view>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint64_t npos = ItemBytes::npos;

bool Printable(ItemBytes& b, std::uint64_t at, std::size_t n, bool zero_fill) {
  std::uint8_t c[64] = {};
  if (n > sizeof c || b.Read(at, c, n) != n) return false;
  bool ended = false;
  for (std::size_t i = 0; i < n; ++i) {
    if (c[i] == 0 && zero_fill) {
      ended = true;
    } else if (ended || c[i] < 0x20 || c[i] > 0x7E) {
      return false;
    }
  }
  return true;
}

}  // namespace

// The heap runs from the header to the file's end; its last four bytes give
// the offset of its table (from the heap's start), and the table ends right
// before them. The first offset where that holds, with every entry inside
// the heap, is the end.
EndFinding Find_Crw_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  if (!b.Matches(0, std::string_view("II\x1A\0\0\0HEAPCCDR", 14)) || !b.Has(0, 26)) return no("no CIFF header");
  if (b.U32le(14) != 0x00010002 || b.U32le(18) != 0 || b.U32le(22) != 0) return no("unknown CIFF version");
  constexpr std::uint64_t heap = 26;
  for (std::uint64_t end = heap + 12; end <= b.Limit(); end += 2) {
    if (!b.Has(end - 4, 4)) return EndFinding::Unknown("no heap table before the limit");
    const std::uint64_t table = heap + b.U32le(end - 4);
    if (table + 2 > end - 4) continue;
    const std::uint64_t count = b.U16le(table);
    if (count == 0 || table + 2 + 10 * count != end - 4) continue;
    bool inside = true;
    for (std::uint64_t e = table + 2; e < end - 4 && inside; e += 10) {
      const std::uint16_t tag = b.U16le(e);
      if ((tag & 0xC000) == 0) inside = heap + b.U32le(e + 6) + b.U32le(e + 2) <= table;  // data in the heap
    }
    if (inside) return EndFinding::Found(end);
  }
  return EndFinding::Unknown("no heap table before the limit");
}

// Header: magic, format version, camera id and name, then at 84 the offsets
// and lengths of the preview JPEG, the CFA header and the CFA data.
EndFinding Find_Raf_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  if (!b.Matches(0, "FUJIFILMCCD-RAW ") || !b.Has(0, 108)) return no("no RAF header");
  if (!Printable(b, 16, 4, false) || !Printable(b, 20, 8, true) || !Printable(b, 28, 32, true)) {
    return no("RAF version or camera name not text");
  }
  std::uint64_t end = 108;
  for (std::uint64_t field = 84; field < 108; field += 8) {
    const std::uint64_t offset = b.U32be(field), length = b.U32be(field + 4);
    if (length == 0) continue;
    if (offset < 84) return no("RAF part inside the header");
    end = std::max(end, offset + length);
  }
  const std::uint64_t jpeg = b.U32be(84);
  if (b.U32be(88) != 0 && b.Has(jpeg, 3) && !b.Matches(jpeg, "\xFF\xD8\xFF")) return no("RAF preview is no JPEG");
  if (end > b.Limit() || !b.Has(end - 1, 1)) return EndFinding::Unknown("RAF parts past the limit");
  return EndFinding::Found(end);
}

// "\0MRM", the size of the block list, the blocks ("\0PRD" first, with the
// image size and bit packing), then the sensor data.
EndFinding Find_Mrw_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  if (!b.Matches(0, std::string_view("\0MRM", 4)) || !b.Has(0, 8 + 8 + 20)) return no("no MRW header");
  if (!b.Matches(8, std::string_view("\0PRD", 4)) || b.U32be(12) < 20) {
    return no("MRW does not open with its PRD block");
  }
  const std::uint64_t data = 8 + std::uint64_t{b.U32be(4)};
  const std::uint64_t height = b.U16be(16 + 8), width = b.U16be(16 + 10);  // the sensor
  const std::uint8_t bits = b.View(16 + 16)[0];
  const std::uint8_t packing = b.View(16 + 18)[0];
  if (height == 0 || width == 0 || (bits != 12 && bits != 16) || (packing != 0x52 && packing != 0x59)) {
    return no("implausible MRW image fields");
  }
  // Blocks up to the data: each "\0" + three letters and a size.
  for (std::uint64_t at = 8; at < data;) {
    if (!b.Has(at, 8)) return EndFinding::Unknown("MRW blocks past the limit");
    if (b.View(at)[0] != 0 || !Printable(b, at + 1, 3, false)) return no("MRW block list broken");
    at += 8 + std::uint64_t{b.U32be(at + 4)};
    if (at > data) return no("MRW block crosses the data");
  }
  const std::uint64_t end = data + height * width * (packing == 0x59 ? 12 : 16) / 8;
  if (end > b.Limit() || !b.Has(end - 1, 1)) return EndFinding::Unknown("MRW sensor data past the limit");
  return EndFinding::Found(end);
}

// "FOVb", a version (2.x or 3.x); the directory "SECd" lists the sections and
// is followed by the file's last four bytes, its own offset.
EndFinding Find_X3f_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  if (!b.Matches(0, "FOVb") || !b.Has(0, 40)) return no("no X3F header");
  const std::uint32_t version = b.U32le(4);
  if ((version >> 16) < 2 || (version >> 16) > 4 || (version & 0xFF00) != 0) return no("unknown X3F version");
  for (std::uint64_t from = 8;;) {
    const std::uint64_t dir = b.Find("SECd", from, b.Limit());
    if (dir == npos) return EndFinding::Unknown("no section directory before the limit");
    from = dir + 1;
    if (!b.Has(dir, 12)) continue;
    const std::uint64_t count = b.U32le(dir + 8);
    const std::uint64_t end = dir + 12 + 12 * count + 4;
    if (count == 0 || count > 1000 || !b.Has(end - 4, 4) || b.U32le(end - 4) != dir) continue;
    return EndFinding::Found(end);
  }
}

}  // namespace tamberlin::recovery
