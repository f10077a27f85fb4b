// bzip2: blocks are bit-packed, so the end-of-stream magic sits at any bit
// position. Scans bits for it and checks the stream CRC it carries against
// the block CRCs seen on the way; the file ends at the next byte boundary.
#include <array>
#include <optional>
#include <string>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint64_t kBlockMagic = 0x314159265359;
constexpr std::uint64_t kEndMagic = 0x177245385090;
constexpr std::uint64_t kMask48 = (std::uint64_t{1} << 48) - 1;

// A magic ending in byte i covers the whole of bytes i-5..i-1 at each of
// its 8 alignments; only 16 values of bytes i-2..i-1 start a closer look.
constexpr std::array<std::uint64_t, 1024> kCandidates = [] {
  std::array<std::uint64_t, 1024> t{};
  for (const std::uint64_t magic : {kBlockMagic, kEndMagic}) {
    for (int s = 0; s < 8; ++s) {
      const auto pair = static_cast<std::size_t>((magic >> (8 - s)) & 0xFFFF);
      t[pair / 64] |= std::uint64_t{1} << (pair % 64);
    }
  }
  return t;
}();

// `n` (<= 32) bits starting at bit `bit` (bit 0 = top bit of byte 0).
std::optional<std::uint32_t> Bits(ItemBytes& bytes, std::uint64_t bit, int n) {
  std::uint8_t raw[5] = {};
  const std::size_t need = static_cast<std::size_t>((bit % 8 + static_cast<std::uint64_t>(n) + 7) / 8);
  if (bytes.Read(bit / 8, raw, need) != need) return std::nullopt;
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < 5; ++i) v = (v << 8) | raw[i];
  return static_cast<std::uint32_t>((v >> (40 - bit % 8 - static_cast<std::uint64_t>(n))) & ((1ull << n) - 1));
}

bool Is_Stream_Start(ItemBytes& bytes, std::uint64_t at) {
  std::uint8_t head[10] = {};
  if (bytes.Read(at, head, sizeof head) != sizeof head) return false;
  if (head[0] != 'B' || head[1] != 'Z' || head[2] != 'h' || head[3] < '1' || head[3] > '9') return false;
  std::uint64_t magic = 0;
  for (int i = 4; i < 10; ++i) magic = (magic << 8) | head[i];
  return magic == kBlockMagic || magic == kEndMagic;  // an empty stream has no block
}

// The offset just past the stream starting at `at`, or nothing with the reason.
std::optional<std::uint64_t> Stream_End(ItemBytes& bytes, std::uint64_t at, std::string& why) {
  const std::uint64_t first_bit = (at + 4) * 8;  // the first magic, right after "BZhN"
  std::uint32_t combined = 0;                    // folded from the block CRCs, as the stream CRC is
  bool crc_mismatch = false;
  std::uint64_t reg = 0;
  std::uint64_t pos = at + 4;
  while (true) {
    const auto v = bytes.View(pos);
    if (v.empty()) break;
    std::size_t i = 0;
    bool reread = false;  // Bits() may move the cache off this span
    for (; i < v.size() && !reread; ++i) {
      reg = (reg << 8) | v[i];
      const auto pair = static_cast<std::size_t>((reg >> 8) & 0xFFFF);
      if ((kCandidates[pair / 64] >> (pair % 64) & 1) == 0) continue;
      const std::uint64_t bits_end = (pos + i + 1) * 8;
      for (int s = 7; s >= 0; --s) {  // earliest end first
        const std::uint64_t word = (reg >> s) & kMask48;
        if (word != kBlockMagic && word != kEndMagic) continue;
        const std::uint64_t magic_bit = bits_end - static_cast<std::uint64_t>(s) - 48;
        if (magic_bit < first_bit) continue;
        const auto crc = Bits(bytes, magic_bit + 48, 32);
        reread = true;
        if (!crc) {
          why = "data ends inside a block header";
          return std::nullopt;
        }
        if (word == kBlockMagic) {
          combined = ((combined << 1) | (combined >> 31)) ^ *crc;
        } else if (*crc == combined) {
          return (magic_bit + 48 + 32 + 7) / 8;
        } else {
          crc_mismatch = true;  // a chance match inside block data, or blocks lost: look on
        }
      }
    }
    pos += i;
  }
  why = crc_mismatch ? "stream CRC does not match the blocks" : "no end-of-stream mark before the type's maximum size";
  return std::nullopt;
}

}  // namespace

EndFinding Find_Bzip2_End(ItemBytes& bytes) {
  if (!Is_Stream_Start(bytes, 0)) return EndFinding::Not_This_Format("no bzip2 header and first block");
  std::string why;
  auto end = Stream_End(bytes, 0, why);
  if (!end) return EndFinding::Unknown(why);
  // Streams written back to back (pbzip2, cat) are one file; each is at least
  // 14 bytes, so this advances. A damaged later one leaves the earlier ones.
  while (Is_Stream_Start(bytes, *end)) {
    const auto next = Stream_End(bytes, *end, why);
    if (!next) break;
    end = next;
  }
  return EndFinding::Found(*end);
}

}  // namespace tamberlin::recovery
