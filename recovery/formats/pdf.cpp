// PDF: the file ends after its last "%%EOF" and that line's end. Incremental
// updates append further %%EOF markers, so the last one in the range wins.
// A marker found past the range must close this file: the "startxref" before
// it names where the cross-reference lies, which fails when the file is
// fragmented and another file sits between its parts.
#include <string_view>

#include "recovery/end_finder.h"
#include "recovery/formats/checks.h"

namespace tamberlin::recovery {

namespace {

constexpr std::string_view kEof = "%%EOF";

bool Is_Space(std::uint8_t c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t'; }

// True when the "startxref" just before the marker at `eof` gives an offset
// below it that holds a cross-reference table ("xref") or stream ("N G obj"
// of /Type /XRef).
bool Xref_Holds(ItemBytes& bytes, std::uint64_t eof) {
  constexpr std::string_view kStart = "startxref";
  const std::span start(reinterpret_cast<const std::uint8_t*>(kStart.data()), kStart.size());
  const std::uint64_t at = bytes.Find_Last(start, eof > 64 ? eof - 64 : 0, eof);
  if (at == ItemBytes::npos) return false;
  std::uint8_t text[32] = {};
  const std::size_t got = bytes.Read(at + kStart.size(), text, sizeof text);
  std::size_t i = 0;
  while (i < got && Is_Space(text[i])) ++i;
  std::uint64_t offset = 0;
  std::size_t digits = 0;
  for (; i < got && text[i] >= '0' && text[i] <= '9' && digits < 19; ++i, ++digits) offset = offset * 10 + (text[i] - '0');
  if (digits == 0 || offset == 0 || offset >= at) return false;
  std::uint8_t head[256] = {};
  const std::size_t n = bytes.Read(offset, head, sizeof head);
  const std::string_view view(reinterpret_cast<const char*>(head), n);
  std::size_t p = 0;
  while (p < view.size() && Is_Space(head[p])) ++p;
  if (view.substr(p, 4) == "xref") return true;
  // A cross-reference stream: "12 0 obj" then a dictionary of /Type /XRef.
  const std::size_t obj = view.find(" obj");
  if (obj == std::string_view::npos || obj > p + 24) return false;
  for (std::size_t k = p; k < obj; ++k) {
    if (!(view[k] == ' ' || (view[k] >= '0' && view[k] <= '9'))) return false;
  }
  return view.find("/XRef", obj) != std::string_view::npos;
}

}  // namespace

EndFinding Find_Pdf_End(ItemBytes& bytes) {
  if (!bytes.Matches(0, "%PDF-")) return EndFinding::Not_This_Format("no %PDF- header");
  // "%PDF-1.7" and a line end (or the space some writers put first).
  std::uint8_t version[4] = {};
  bytes.Read(5, version, 4);
  const auto digit = [](std::uint8_t c) { return c >= '0' && c <= '9'; };
  const bool line_end = version[3] == '\r' || version[3] == '\n' || version[3] == ' ';
  if (!digit(version[0]) || version[1] != '.' || !digit(version[2]) || !line_end) {
    return EndFinding::Not_This_Format("no version after %PDF-");
  }
  const std::span marker(reinterpret_cast<const std::uint8_t*>(kEof.data()), kEof.size());
  const std::uint64_t range = bytes.Range();
  const std::uint64_t first = 5;  // past "%PDF-"
  if (range >= first + kEof.size()) {
    const std::uint64_t last = bytes.Find_Last(marker, first, range - kEof.size() + 1);
    if (last != ItemBytes::npos) return EndFinding::Found(checks::With_Line_End(bytes, last + kEof.size()));
  }
  // Longer than the range: the first marker after it (one may straddle its end).
  const std::uint64_t from = range >= first + kEof.size() ? range - kEof.size() + 1 : first;
  const std::uint64_t after = bytes.Find(kEof, from, bytes.Limit());
  if (after != ItemBytes::npos) {
    if (!Xref_Holds(bytes, after)) {
      return EndFinding::Unknown("the first %%EOF after the range does not close this file (fragmented?)");
    }
    return EndFinding::Found(checks::With_Line_End(bytes, after + kEof.size()));
  }
  return EndFinding::Unknown("no %%EOF before the type's maximum size");
}

}  // namespace tamberlin::recovery
