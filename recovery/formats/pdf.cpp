// PDF: the file ends after its last "%%EOF" and that line's end. Incremental
// updates append further %%EOF markers, so the last one in the range wins.
#include <string_view>

#include "end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::string_view kEof = "%%EOF";

// `at` is just past the marker; CR, LF or CRLF belongs to the file.
std::uint64_t With_Line_End(ItemBytes& bytes, std::uint64_t at) {
  std::uint8_t eol[2] = {};
  const std::size_t got = bytes.Read(at, eol, 2);
  if (got >= 1 && eol[0] == '\r') return at + (got == 2 && eol[1] == '\n' ? 2 : 1);
  if (got >= 1 && eol[0] == '\n') return at + 1;
  return at;
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
    if (last != ItemBytes::npos) return EndFinding::Found(With_Line_End(bytes, last + kEof.size()));
  }
  // Longer than the range: the first marker after it (one may straddle its end).
  const std::uint64_t from = range >= first + kEof.size() ? range - kEof.size() + 1 : first;
  const std::uint64_t after = bytes.Find(kEof, from, bytes.Limit());
  if (after != ItemBytes::npos) return EndFinding::Found(With_Line_End(bytes, after + kEof.size()));
  return EndFinding::Unknown("no %%EOF before the type's maximum size");
}

}  // namespace tamberlin::recovery
