// Ogg (Vorbis, Opus, Speex, Theora, FLAC in Ogg): walks the pages, each held
// to its CRC, until every logical stream that began has had its last page.
// Chained streams that follow at once (a new set of first pages) belong to the file.
// No sound first page means the bytes are no Ogg stream.
#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "recovery/formats/checks.h"
#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint8_t kContinued = 0x01, kFirst = 0x02, kLast = 0x04;
constexpr std::size_t kMaxStreams = 256;  // a few per file in practice

struct Page {
  std::uint8_t flags;
  std::uint32_t serial;
  std::uint64_t length;
};

// The page at `at` when its header is sound, all of it is there and its CRC
// (taken with the CRC field as zeros) matches.
std::optional<Page> Read_Page(ItemBytes& b, std::uint64_t at) {
  std::uint8_t head[27 + 255];
  if (b.Read(at, head, 27) != 27) return std::nullopt;
  if (!std::equal(head, head + 4, "OggS") || head[4] != 0) return std::nullopt;
  if ((head[5] & ~(kContinued | kFirst | kLast)) != 0) return std::nullopt;
  const std::size_t segments = head[26];
  if (b.Read(at + 27, head + 27, segments) != segments) return std::nullopt;
  std::uint64_t length = 27 + segments;
  for (std::size_t i = 0; i < segments; ++i) length += head[27 + i];
  if (!b.Has(at, length)) return std::nullopt;

  const std::uint32_t stored = b.U32le(at + 22);
  std::fill(head + 22, head + 26, std::uint8_t{0});
  std::uint32_t crc = 0;
  for (std::size_t i = 0; i < 27 + segments; ++i) crc = checks::Crc32_Msb_Step(crc, head[i]);
  for (std::uint64_t pos = at + 27 + segments, end = at + length; pos < end;) {
    const auto v = b.View(pos);
    if (v.empty()) return std::nullopt;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(v.size(), end - pos));
    for (std::size_t i = 0; i < n; ++i) crc = checks::Crc32_Msb_Step(crc, v[i]);
    pos += n;
  }
  if (crc != stored) return std::nullopt;
  return Page{head[5], b.U32le(at + 14), length};
}

}  // namespace

EndFinding Find_Ogg_End(ItemBytes& b) {
  std::vector<std::uint32_t> open;  // streams of the current chain that began and have not ended
  std::uint64_t pos = 0;
  bool chain_ended = true;  // a new chain may start here
  for (;;) {
    const auto page = Read_Page(b, pos);
    if (!page) {
      if (pos == 0) return EndFinding::Not_This_Format("no Ogg page with a matching CRC");
      if (chain_ended) return EndFinding::Found(pos);
      return EndFinding::Unknown("pages stop before every stream's last page");
    }
    const bool first = (page->flags & kFirst) != 0;
    const auto it = std::find(open.begin(), open.end(), page->serial);
    if (chain_ended && !first) {
      if (pos == 0) return EndFinding::Not_This_Format("first page does not begin a stream");
      return EndFinding::Found(pos);
    }
    if (first) {
      if (it != open.end()) return EndFinding::Unknown("a stream begins twice");
      if (open.size() >= kMaxStreams) return EndFinding::Unknown("too many logical streams");
      open.push_back(page->serial);
    } else if (it == open.end()) {
      return EndFinding::Unknown("page of a stream that never began");
    }
    if ((page->flags & kLast) != 0) open.erase(std::find(open.begin(), open.end(), page->serial));
    chain_ended = open.empty();
    pos += page->length;
  }
}

}  // namespace tamberlin::recovery
