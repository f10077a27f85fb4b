// JPEG: walks the marker segments from SOI by their lengths, skips each scan's
// entropy-coded data, and ends after the EOI that follows the last scan. A
// Multi-Picture index (APP2 "MPF") extends the end over the images it lists.
// Before the first scan, a segment whose content fails its own rules (or no
// segment that could be checked at all) means the bytes are not a JPEG.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint64_t npos = ItemBytes::npos;

std::uint8_t Byte(ItemBytes& b, std::uint64_t at) {
  const auto v = b.View(at);
  return v.empty() ? 0 : v[0];
}

// The first offset from `pos` whose byte is not 0xFF (fill bytes), or npos.
std::uint64_t Skip_Fill(ItemBytes& b, std::uint64_t pos) {
  for (;;) {
    const auto v = b.View(pos);
    if (v.empty()) return npos;
    const auto it = std::find_if(v.begin(), v.end(), [](std::uint8_t c) { return c != 0xFF; });
    if (it != v.end()) return pos + static_cast<std::uint64_t>(it - v.begin());
    pos += v.size();
  }
}

// From the start of a scan's entropy-coded data to the marker that ends it:
// the offset of the marker code (the byte after its 0xFF), or npos. Stuffed
// zeros and RST0-7 belong to the scan; JPEG-LS stuffs any byte below 0x80.
std::uint64_t Skip_Entropy(ItemBytes& b, std::uint64_t pos, bool jpeg_ls) {
  for (;;) {
    const auto v = b.View(pos);
    if (v.empty()) return npos;
    const void* ff = std::memchr(v.data(), 0xFF, v.size());
    if (ff == nullptr) {
      pos += v.size();
      continue;
    }
    pos += static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(ff) - v.data());
    const std::uint64_t at = Skip_Fill(b, pos + 1);
    if (at == npos) return npos;
    const std::uint8_t m = Byte(b, at);
    if (m == 0x00 || (m >= 0xD0 && m <= 0xD7) || (jpeg_ls && m < 0x80)) {
      pos = at + 1;
      continue;
    }
    return at;
  }
}

bool Is_Frame_Header(std::uint8_t m) {
  return (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) || m == 0xF7;
}

// The images after the first one, as an MPF index lists them.
struct MpfImages {
  std::uint64_t end = 0;
  std::vector<std::uint64_t> starts;
};

// Reads the MP index IFD of an APP2 "MPF" segment; `base` is its TIFF-style
// header, which the entry offsets count from. Anything odd leaves `out` empty.
void Read_Mpf(ItemBytes& b, std::uint64_t base, std::uint64_t segment_end, MpfImages& out) {
  const bool le = b.Matches(base, std::string_view("II*\0", 4));
  if (!le && !b.Matches(base, std::string_view("MM\0*", 4))) return;
  const auto u16 = [&](std::uint64_t o) { return le ? b.U16le(o) : b.U16be(o); };
  const auto u32 = [&](std::uint64_t o) { return le ? b.U32le(o) : b.U32be(o); };
  const std::uint64_t ifd = base + u32(base + 4);
  if (ifd + 2 > segment_end) return;
  const unsigned n = std::min<unsigned>(u16(ifd), 64);
  for (unsigned i = 0; i < n; ++i) {
    const std::uint64_t e = ifd + 2 + 12ull * i;
    if (e + 12 > segment_end) return;
    if (u16(e) != 0xB002) continue;  // MPEntry: 16 bytes per image
    const std::uint32_t count = u32(e + 4);
    const std::uint64_t table = base + u32(e + 8);
    if (count == 0 || count % 16 != 0 || count > 64 * 16 || table + count > segment_end) return;
    for (std::uint64_t at = table; at < table + count; at += 16) {
      const std::uint32_t size = u32(at + 4);
      const std::uint32_t offset = u32(at + 8);
      if (offset == 0) continue;  // the first image, this one
      out.starts.push_back(base + offset);
      out.end = std::max(out.end, base + offset + size);
    }
    return;
  }
}

// The end after the first image's EOI: over the MPF images when they are all
// there and each starts with SOI, else the first image alone.
std::uint64_t With_Mpf_Images(ItemBytes& b, const MpfImages& mpf, std::uint64_t eoi_end) {
  if (mpf.end <= eoi_end || mpf.end > b.Limit() || !b.Has(mpf.end - 1, 1)) return eoi_end;
  for (const std::uint64_t s : mpf.starts) {
    if (s < eoi_end || !b.Matches(s, "\xFF\xD8\xFF")) return eoi_end;
  }
  return mpf.end;
}

// True when the segment with marker `m`, `length` bytes from `pos` (at the
// length field), holds what that marker's segment must: tables that fill it
// exactly, a frame header whose size matches its components, a known APPn
// identifier. Markers whose content has no rules say false.
bool Content_Checks_Out(ItemBytes& b, std::uint8_t m, std::uint64_t pos, std::uint16_t length) {
  const std::uint64_t end = pos + length;
  if (!b.Has(pos, length)) return false;
  if (m == 0xDB) {  // DQT: precision and table id, then 64 entries of 1 or 2 bytes
    std::uint64_t at = pos + 2;
    while (at < end) {
      const std::uint8_t pt = Byte(b, at);
      if ((pt >> 4) > 1 || (pt & 15) > 3) return false;
      at += 1 + 64ull * ((pt >> 4) + 1);
    }
    return at == end && length > 2;
  }
  if (m == 0xC4) {  // DHT: class and id, 16 code counts, the symbols
    std::uint64_t at = pos + 2;
    while (at < end) {
      const std::uint8_t ct = Byte(b, at);
      if ((ct >> 4) > 1 || (ct & 15) > 3 || at + 17 > end) return false;
      unsigned symbols = 0;
      for (int i = 1; i <= 16; ++i) symbols += Byte(b, at + static_cast<std::uint64_t>(i));
      if (symbols == 0 || symbols > 256) return false;
      at += 17 + symbols;
    }
    return at == end && length > 2;
  }
  if (Is_Frame_Header(m)) {  // precision, height, width, then three bytes a component
    const std::uint8_t precision = Byte(b, pos + 2);
    const std::uint8_t components = Byte(b, pos + 7);
    if (precision < 2 || precision > 16 || components == 0 || length != 8u + 3u * components) return false;
    if (b.U16be(pos + 5) == 0) return false;  // no width
    for (std::uint64_t c = pos + 8; c < end; c += 3) {
      const std::uint8_t sampling = Byte(b, c + 1);
      if ((sampling >> 4) == 0 || (sampling >> 4) > 4 || (sampling & 15) == 0 || (sampling & 15) > 4) return false;
      if (m != 0xF7 && Byte(b, c + 2) > 3) return false;
    }
    return true;
  }
  if (m == 0xDD) return length == 4;  // DRI
  const auto id = [&](std::string_view text) { return length >= 2 + text.size() && b.Matches(pos + 2, text); };
  if (m == 0xE0) return id(std::string_view("JFIF\0", 5)) || id(std::string_view("JFXX\0", 5));
  if (m == 0xE1) {
    return (id(std::string_view("Exif\0\0II*\0", 10)) || id(std::string_view("Exif\0\0MM\0*", 10)) ||
            id(std::string_view("http://ns.adobe.com/xap/1.0/\0", 29)));
  }
  if (m == 0xE2) return id(std::string_view("ICC_PROFILE\0", 12)) || id(std::string_view("MPF\0", 4));
  if (m == 0xEE) return id("Adobe");
  return false;
}

}  // namespace

EndFinding Find_Jpeg_End(ItemBytes& b) {
  if (!b.Matches(0, "\xFF\xD8\xFF")) return EndFinding::Not_This_Format("no SOI marker");
  std::uint64_t pos = 2;  // at the 0xFF of the next marker
  bool frame = false;
  bool scan = false;
  bool jpeg_ls = false;
  bool checked = false;  // a segment's content has passed its rules
  MpfImages mpf;
  // Damage after a checked segment leaves a JPEG whose end is unknown; before
  // one, the bytes never were a JPEG.
  const auto fail = [&](const char* why) {
    return checked ? EndFinding::Unknown(why) : EndFinding::Not_This_Format(why);
  };
  for (;;) {
    if (!b.Has(pos, 2)) return fail("no EOI before the limit");
    if (Byte(b, pos) != 0xFF) return fail("no marker where a segment should start");
    const std::uint64_t at = Skip_Fill(b, pos + 1);
    if (at == npos) return fail("no EOI before the limit");
    const std::uint8_t m = Byte(b, at);
    pos = at + 1;
    if (m == 0xD9) {
      if (!scan) return fail("EOI before any scan");
      return EndFinding::Found(With_Mpf_Images(b, mpf, pos));
    }
    if (m == 0x01 || (m >= 0xD0 && m <= 0xD7)) continue;  // TEM, RSTn: no length
    if (m < 0xC0 || m == 0xD8) return fail("invalid marker");
    if (!b.Has(pos, 2)) return fail("no EOI before the limit");
    const std::uint16_t length = b.U16be(pos);
    if (length < 2) return fail("segment length below 2");
    const std::uint64_t next = pos + length;
    if (!scan && !checked) {
      checked = Content_Checks_Out(b, m, pos, length);
      if (!checked && m != 0xFE && (m < 0xE0 || m > 0xEF)) return fail("segment content breaks its rules");
    }
    if (Is_Frame_Header(m)) {
      frame = true;
      jpeg_ls = m == 0xF7;
    } else if (m == 0xE2 && !scan && length >= 2 + 4 + 8 && b.Matches(pos + 2, std::string_view("MPF\0", 4))) {
      Read_Mpf(b, pos + 6, next, mpf);
    } else if (m == 0xDA) {
      if (!frame) return fail("scan before any frame header");
      scan = true;
      const std::uint64_t marker = Skip_Entropy(b, next, jpeg_ls);
      if (marker == npos) return fail("scan data runs to the limit");
      pos = marker - 1;
      continue;
    }
    pos = next;
  }
}

}  // namespace tamberlin::recovery
