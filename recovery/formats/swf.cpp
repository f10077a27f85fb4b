// Shockwave Flash: "FWS" (plain), "CWS" (zlib) or "ZWS" (LZMA) with a version
// and the uncompressed file length. A plain file's tags are walked to the End
// tag, which must close the stated length; a zlib body is inflated to its
// end; an LZMA body states its compressed size.
#include <zlib.h>

#include <algorithm>
#include <vector>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr int kMostVersion = 50;

// Tags from `at` to the End tag (code 0): the offset after it, or 0.
std::uint64_t After_End_Tag(ItemBytes& b, std::uint64_t at, std::uint64_t stop, int& tags) {
  while (at + 2 <= stop && b.Has(at, 2)) {
    const std::uint16_t head = b.U16le(at);
    const unsigned code = head >> 6;
    std::uint64_t length = head & 0x3F;
    at += 2;
    if (length == 0x3F) {
      if (!b.Has(at, 4)) return 0;
      length = b.U32le(at);
      at += 4;
    }
    if (code > 100) return 0;  // no tag code defined above this
    ++tags;
    if (code == 0) return length == 0 ? at : 0;
    at += length;
  }
  return 0;
}

// Where the zlib stream at `at` ends, and how many bytes it inflates to; 0
// when it breaks (`broken`) or runs out of bytes.
std::uint64_t Zlib_End(ItemBytes& b, std::uint64_t at, std::uint64_t& inflated, bool& broken) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return 0;
  std::vector<std::uint8_t> out(64 * 1024);
  std::uint64_t pos = at, end = 0;
  for (;;) {
    const auto v = b.View(pos);
    if (v.empty()) break;
    z.next_in = const_cast<Bytef*>(v.data());
    z.avail_in = static_cast<uInt>(std::min<std::size_t>(v.size(), 1u << 30));
    const uInt given = z.avail_in;
    int rc = Z_OK;
    while (z.avail_in > 0 && rc == Z_OK) {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      rc = inflate(&z, Z_NO_FLUSH);
    }
    pos += given - z.avail_in;
    if (rc == Z_STREAM_END) {
      end = pos;
      break;
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      broken = true;
      break;
    }
  }
  inflated = z.total_out;
  inflateEnd(&z);
  return end;
}

}  // namespace

EndFinding Find_Swf_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  const bool plain = b.Matches(0, "FWS"), zlib = b.Matches(0, "CWS"), lzma = b.Matches(0, "ZWS");
  if ((!plain && !zlib && !lzma) || !b.Has(0, 9)) return no("no SWF header");
  const std::uint8_t version = b.View(3)[0];
  const std::uint64_t length = b.U32le(4);
  if (version == 0 || version > kMostVersion || length < 21) return no("implausible SWF version or length");
  if (zlib) {
    const std::uint16_t head = b.U16be(8);
    if ((head >> 8 & 0x0F) != 8 || head % 31 != 0) return no("no zlib stream after the header");
    std::uint64_t inflated = 0;
    bool broken = false;
    const std::uint64_t end = Zlib_End(b, 8, inflated, broken);
    if (broken) return no("zlib body broken");
    if (end == 0) return EndFinding::Unknown("zlib body runs past the limit");
    if (inflated + 8 != length) return no("inflated body disagrees with the stated length");
    return EndFinding::Found(end);
  }
  if (lzma) {
    const std::uint64_t packed = b.U32le(8);
    if (!b.Has(0, 17) || b.View(12)[0] >= 9 * 5 * 5) return no("implausible LZMA properties");
    const std::uint64_t end = 17 + packed;
    if (end > b.Limit() || !b.Has(end - 1, 1)) return EndFinding::Unknown("LZMA body past the limit");
    return EndFinding::Found(end);
  }
  // The frame size rectangle: 5 bits give each field's width.
  const unsigned bits = b.View(8)[0] >> 3;
  const std::uint64_t rect = (5 + 4 * bits + 7) / 8;
  const std::uint64_t first_tag = 8 + rect + 4;  // frame rate and frame count follow
  int tags = 0;
  if (length > b.Limit() || !b.Has(length - 1, 1)) {
    After_End_Tag(b, first_tag, b.Limit(), tags);
    return tags >= 8 ? EndFinding::Unknown("stated length past the limit") : no("tags do not walk");
  }
  if (After_End_Tag(b, first_tag, length, tags) != length) return no("tags do not end at the stated length");
  return EndFinding::Found(length);
}

}  // namespace tamberlin::recovery
