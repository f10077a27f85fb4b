// YUV4MPEG2 (Y4M): a text header line with the frame size and colour space,
// then frames, each a "FRAME" line and the raw planes. The file ends after
// the last whole frame.
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/decimal.h"
#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::size_t kMostLine = 1024;

// The line at `at` without its newline, or empty when there is none within kMostLine printable bytes.
std::string Line(ItemBytes& b, std::uint64_t at) {
  std::string out(kMostLine, '\0');
  const std::size_t got = b.Read(at, reinterpret_cast<std::uint8_t*>(out.data()), kMostLine);
  for (std::size_t i = 0; i < got; ++i) {
    if (out[i] == '\n') return out.substr(0, i);
    if (out[i] < 0x20 || out[i] > 0x7E) return {};
  }
  return {};
}

// Bytes in one frame for width x height pixels in colour space `c` (4:2:0 when not given).
std::uint64_t Frame_Bytes(std::uint64_t w, std::uint64_t h, std::string_view c) {
  const std::uint64_t cw = (w + 1) / 2, ch = (h + 1) / 2;
  if (c == "420p10" || c == "420p12" || c == "420p16") return 2 * (w * h + 2 * cw * ch);
  if (c == "422p10" || c == "422p12" || c == "422p16") return 2 * (w * h + 2 * cw * h);
  if (c == "444p10" || c == "444p12" || c == "444p16") return 6 * w * h;
  if (c.empty() || c.starts_with("420")) return w * h + 2 * cw * ch;
  if (c == "422") return w * h + 2 * cw * h;
  if (c == "444") return 3 * w * h;
  if (c == "444alpha") return 4 * w * h;
  if (c == "411") return w * h + 2 * ((w + 3) / 4) * h;
  if (c == "mono") return w * h;
  if (c == "mono16") return 2 * w * h;
  return 0;
}

}  // namespace

EndFinding Find_Y4m_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  if (!b.Matches(0, "YUV4MPEG2 ")) return no("no YUV4MPEG2 header");
  const std::string header = Line(b, 0);
  if (header.empty()) return no("header is not a line of text");
  std::uint64_t w = 0, h = 0;
  std::string colour;
  for (std::size_t at = 10; at < header.size();) {
    const std::size_t space = std::min(header.find(' ', at), header.size());
    const std::string token = header.substr(at, space - at);
    if (!token.empty() && (token[0] == 'W' || token[0] == 'H')) {
      const auto v = Parse_Decimal(std::string_view(token).substr(1));
      if (!v) return no("width or height is not a number");
      (token[0] == 'W' ? w : h) = *v;
    } else if (!token.empty() && token[0] == 'C') {
      colour = token.substr(1);
    }
    at = space + 1;
  }
  if (w == 0 || h == 0 || w > 65536 || h > 65536) return no("header lacks a width and height");
  const std::uint64_t frame = Frame_Bytes(w, h, colour);
  if (frame == 0) return no("unknown colour space");
  std::uint64_t at = header.size() + 1;
  int frames = 0;
  for (;; ++frames) {
    if (!b.Matches(at, "FRAME")) break;
    const std::string line = Line(b, at);
    if (line.empty() || (line.size() > 5 && line[5] != ' ')) break;
    const std::uint64_t next = at + line.size() + 1 + frame;
    if (next > b.Limit() || !b.Has(next - 1, 1)) return EndFinding::Unknown("last frame is cut short");
    at = next;
  }
  if (frames == 0) return EndFinding::Unknown("no frame after the header");
  return EndFinding::Found(at);
}

}  // namespace tamberlin::recovery
