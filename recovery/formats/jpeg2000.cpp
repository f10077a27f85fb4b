// JPEG 2000: the JP2 file format (a box walk after the signature box and the
// file type box) and the bare codestream (SOC, SIZ, the main header's marker
// segments, then tile-parts by their stated lengths up to EOC).
#include <string_view>

#include "recovery/end_finder.h"
#include "recovery/formats/checks.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint64_t npos = ItemBytes::npos;

// Markers of the main header and tile-part headers that carry a length.
bool Is_Segment_Marker(std::uint16_t m) { return m >= 0xFF50 && m <= 0xFF64; }

// The end of the codestream starting at `at` (after EOC), npos with `why`.
std::uint64_t Codestream_End(ItemBytes& b, std::uint64_t at, const char*& why, bool& sound) {
  sound = false;
  if (!b.Has(at, 4 + 38) || b.U16be(at) != 0xFF4F || b.U16be(at + 2) != 0xFF51) {
    why = "no SOC and SIZ markers";
    return npos;
  }
  const std::uint64_t siz = at + 4;
  const std::uint16_t length = b.U16be(siz);
  const std::uint16_t components = b.U16be(siz + 36);
  const std::uint32_t width = b.U32be(siz + 4), height = b.U32be(siz + 8);
  const std::uint32_t x0 = b.U32be(siz + 12), y0 = b.U32be(siz + 16);
  const std::uint32_t tile_w = b.U32be(siz + 20), tile_h = b.U32be(siz + 24);
  if (components == 0 || components > 16384 || length != 38 + 3u * components || x0 >= width || y0 >= height ||
      tile_w == 0 || tile_h == 0 || !b.Has(siz, length)) {
    why = "implausible SIZ segment";
    return npos;
  }
  for (std::uint64_t c = siz + 38; c < siz + length; c += 3) {
    std::uint8_t f[3] = {};
    b.Read(c, f, 3);
    if ((f[0] & 0x7F) > 37 || f[1] == 0 || f[2] == 0) {
      why = "implausible SIZ component";
      return npos;
    }
  }
  sound = true;
  // Main header segments, then tile-parts: SOT (length 10) and its Psot,
  // the whole tile-part's length, 0 for the last one running to EOC.
  std::uint64_t pos = siz + length;
  for (;;) {
    if (!b.Has(pos, 4)) {
      why = "no EOC before the limit";
      return npos;
    }
    const std::uint16_t m = b.U16be(pos);
    if (m == 0xFFD9) return pos + 2;
    if (m == 0xFF90) {
      if (!b.Has(pos, 12) || b.U16be(pos + 2) != 10) {
        why = "damaged SOT segment";
        return npos;
      }
      const std::uint32_t part = b.U32be(pos + 6);
      if (part == 0) {
        const std::uint8_t eoc[2] = {0xFF, 0xD9};
        const std::uint64_t end = b.Find(eoc, pos + 12, b.Limit());
        if (end == npos) why = "no EOC before the limit";
        return end == npos ? npos : end + 2;
      }
      if (part < 14) {
        why = "tile-part shorter than its header";
        return npos;
      }
      pos += part;
      continue;
    }
    if (!Is_Segment_Marker(m)) {
      why = "no marker where a segment should start";
      return npos;
    }
    const std::uint16_t n = b.U16be(pos + 2);
    if (n < 2) {
      why = "segment length below 2";
      return npos;
    }
    pos += 2 + n;
  }
}

}  // namespace

EndFinding Find_J2k_End(ItemBytes& b) {
  const char* why = nullptr;
  bool sound = false;
  const std::uint64_t end = Codestream_End(b, 0, why, sound);
  if (end != npos) return EndFinding::Found(end);
  return sound ? EndFinding::Unknown(why) : EndFinding::Not_This_Format(why);
}

// Boxes: length (1: a 64-bit length follows, 0: to the end of the file),
// type. The signature box, then ftyp with a JPEG 2000 brand, must open it.
EndFinding Find_Jp2_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  if (!b.Matches(0, std::string_view("\0\0\0\x0CjP  \r\n\x87\n", 12))) return no("no JPEG 2000 signature box");
  const std::uint32_t ftyp = b.U32be(12);
  if (!b.Matches(16, "ftyp") || ftyp < 16 || ftyp > 1024 || ftyp % 4 != 0) return no("no file type box");
  if (!b.Matches(20, "jp2 ") && !b.Matches(20, "jpx ") && !b.Matches(20, "jpm ")) return no("not a JPEG 2000 brand");
  constexpr std::string_view kBoxes[] = {"jp2h", "jp2c", "jp2i", "xml ", "uuid", "uinf", "rreq", "jpch",
                                         "jplh", "asoc", "ftbl", "dtbl", "cgrp", "nlst", "lbl ", "res ",
                                         "cref", "mdat", "page", "free", "pclr", "ihdr", "colr", "bpcc"};
  std::uint64_t at = 12 + ftyp;
  bool codestream = false;
  while (b.Has(at, 8)) {
    const auto known = checks::Known_Box_Type(b, at, kBoxes);
    if (!known) break;
    const std::string_view type = *known;
    std::uint64_t size = b.U32be(at);
    if (size == 0) {  // the last box, to the file's end: only a codestream tells where that is
      if (type != "jp2c") return EndFinding::Unknown("last box runs to the end of the file");
      const char* why = nullptr;
      bool sound = false;
      const std::uint64_t end = Codestream_End(b, at + 8, why, sound);
      return end == npos ? EndFinding::Unknown(why) : EndFinding::Found(end);
    }
    if (size == 1) size = b.U64be(at + 8);
    if (size < 8) break;
    if (size > b.Limit() - at || !b.Has(at + size - 1, 1)) return EndFinding::Unknown("box runs past the limit");
    codestream = codestream || type == "jp2c";
    at += size;
  }
  if (!codestream) return EndFinding::Unknown("no codestream box");
  return EndFinding::Found(at);
}

}  // namespace tamberlin::recovery
