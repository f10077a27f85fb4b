// Text formats (vCard, iCalendar, XML, HTML, SVG, PostScript, RTF): the text
// ends where the bytes stop being text (a NUL or a control character, or a
// sector that is mostly not UTF-8/ASCII); vCard, iCalendar, HTML, SVG,
// PostScript and RTF end earlier, after their last closing line inside it.
// Binary EPS states its sections' offsets and lengths in its header.
#include <algorithm>
#include <optional>
#include <string_view>

#include "recovery/end_finder.h"
#include "recovery/formats/checks.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint64_t kSector = 512;
// A first run shorter than this is not a text file, unless only zeros
// follow it in the sector (a short file).
constexpr std::uint64_t kMinFirstText = 64, kMinShortText = 16;

bool Hard_Fault(std::uint8_t c) {
  if (c >= 0x20 && c != 0x7F) return false;
  return !(c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == 0x1B);
}

// Length of a valid UTF-8 sequence starting at p[0] (at least 2), or 0.
std::size_t Utf8_Sequence(const std::uint8_t* p, std::size_t n) {
  const std::uint8_t c = p[0];
  const std::size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (len == 0 || len > n) return 0;
  for (std::size_t i = 1; i < len; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
  }
  return len;
}

// The first `n` bytes of a sector: how many of them start the text (up to
// the first hard fault), and whether that run is text (at most one byte in
// twenty outside ASCII and UTF-8, as an 8-bit code page would leave).
struct Run {
  std::size_t length = 0;
  bool text = false;
};
Run Text_Run(const std::uint8_t* p, std::size_t n) {
  std::size_t i = 0, odd = 0;
  while (i < n && !Hard_Fault(p[i])) {
    if (p[i] < 0x80) {
      ++i;
    } else if (const std::size_t len = Utf8_Sequence(p + i, n - i)) {
      i += len;
    } else {
      ++odd;
      ++i;
    }
  }
  return {i, i > 0 && odd * 20 <= i};
}

// Where the text that starts the item ends, or nothing when its start is not text.
std::optional<std::uint64_t> Text_End(ItemBytes& bytes) {
  std::uint8_t sector[kSector];
  for (std::uint64_t pos = 0;; pos += kSector) {
    const std::size_t got = bytes.Read(pos, sector, kSector);
    const Run run = Text_Run(sector, got);
    if (pos == 0 && (!run.text || (run.length < std::min<std::uint64_t>(kMinFirstText, got) &&
                                   !(run.length >= kMinShortText &&
                                     std::all_of(sector + run.length, sector + got, [](std::uint8_t c) { return c == 0; }))))) {
      return std::nullopt;
    }
    if (!run.text) return pos;
    if (run.length < kSector) return pos + run.length;
  }
}

// Just past the last of `closers` inside [0, end) and its line end, or npos.
std::uint64_t After_Last(ItemBytes& bytes, std::uint64_t end, std::initializer_list<std::string_view> closers) {
  std::uint64_t best = ItemBytes::npos;
  for (const std::string_view closer : closers) {
    if (end < closer.size()) continue;
    const std::span pattern(reinterpret_cast<const std::uint8_t*>(closer.data()), closer.size());
    const std::uint64_t at = bytes.Find_Last(pattern, 0, end - closer.size() + 1);
    if (at == ItemBytes::npos) continue;
    const std::uint64_t after = std::min(checks::With_Line_End(bytes, at + closer.size()), end);
    if (best == ItemBytes::npos || after > best) best = after;
  }
  return best;
}

// The text's end, cut back to after its last closer; `needed`: without a
// closer the end is unknown, else the text's end stands.
EndFinding Text_File(ItemBytes& bytes, std::initializer_list<std::string_view> closers, bool needed) {
  const auto end = Text_End(bytes);
  if (!end) return EndFinding::Not_This_Format("the start is not text");
  if (closers.size() == 0) return EndFinding::Found(*end);
  const std::uint64_t after = After_Last(bytes, *end, closers);
  if (after != ItemBytes::npos) return EndFinding::Found(after);
  if (needed) return EndFinding::Unknown("no closing line inside the text");
  return EndFinding::Found(*end);
}

// Binary EPS: a 30-byte header with the offsets and lengths of the
// PostScript, WMF and TIFF sections.
EndFinding Binary_Eps(ItemBytes& bytes) {
  constexpr std::uint64_t kHeader = 30;
  if (!bytes.Has(0, kHeader)) return EndFinding::Not_This_Format("header cut short");
  std::uint64_t end = kHeader;
  for (std::uint64_t field = 4; field <= 20; field += 8) {
    const std::uint64_t offset = bytes.U32le(field), length = bytes.U32le(field + 4);
    if (offset == 0 && length == 0) continue;
    if (offset < kHeader || length == 0) return EndFinding::Not_This_Format("section outside the file");
    end = std::max(end, offset + length);
  }
  const std::uint64_t ps = bytes.U32le(4);
  if (ps == 0 || !bytes.Matches(ps, "%!PS")) return EndFinding::Not_This_Format("no PostScript section");
  if (!bytes.Has(0, end)) return EndFinding::Unknown("sections run past the limit");
  return EndFinding::Found(end);
}

}  // namespace

EndFinding Find_Vcf_End(ItemBytes& bytes) { return Text_File(bytes, {"END:VCARD", "end:vcard"}, true); }
EndFinding Find_Ics_End(ItemBytes& bytes) { return Text_File(bytes, {"END:VCALENDAR", "end:vcalendar"}, true); }
EndFinding Find_Xml_End(ItemBytes& bytes) { return Text_File(bytes, {}, false); }
EndFinding Find_Html_End(ItemBytes& bytes) { return Text_File(bytes, {"</html>", "</HTML>", "</Html>"}, false); }
EndFinding Find_Svg_End(ItemBytes& bytes) { return Text_File(bytes, {"</svg>"}, false); }
EndFinding Find_Rtf_End(ItemBytes& bytes) { return Text_File(bytes, {"}"}, true); }

EndFinding Find_Ps_End(ItemBytes& bytes) {
  if (bytes.Matches(0, "\xC5\xD0\xD3\xC6")) return Binary_Eps(bytes);
  return Text_File(bytes, {"%%EOF"}, false);
}

}  // namespace tamberlin::recovery
