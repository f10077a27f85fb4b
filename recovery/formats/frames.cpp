// Zstandard and LZ4 frame files. Zstandard frames are decoded with libzstd
// (which checks every block and the content checksum) to where they end.
// LZ4 frame descriptors carry a checksum; their blocks are walked to the end
// mark and the content checksum. Frames and skippable frames that follow
// directly belong to the same file. A start whose data ends or fails before
// its first block is whole (Zstandard: within 64 KiB) is not taken for a frame.
#include <zstd.h>

#include <memory>
#include <optional>
#include <vector>

#include "recovery/formats/checks.h"
#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint64_t kMaxFrames = 1u << 16;

bool Skippable_At(ItemBytes& b, std::uint64_t at) {
  const auto first = checks::Byte(b, at);
  return first && (*first & 0xF0) == 0x50 && b.Matches(at + 1, "\x2A\x4D\x18") && b.Has(at, 8);
}

// The offset past a run of frames from `at`; `frame` reads one frame.
template <typename ReadFrame>
EndFinding Frames(ItemBytes& b, const char* magic, ReadFrame frame) {
  std::uint64_t pos = 0;
  for (std::uint64_t n = 0; n < kMaxFrames; ++n) {
    if (n > 0 && Skippable_At(b, pos)) {
      const auto next = checks::Add_Within(pos + 8, b.U32le(pos + 4), b.Limit());
      if (!next || !b.Has(0, *next)) return EndFinding::Found(pos);
      pos = *next;
      continue;
    }
    if (n > 0 && !b.Matches(pos, magic)) return EndFinding::Found(pos);
    const EndFinding f = frame(b, pos);
    if (!f.found()) return n == 0 ? f : EndFinding::Found(pos);  // a damaged later frame: the earlier ones stand
    pos = f.length;
  }
  return EndFinding::Found(pos);
}

// ---- Zstandard

// Bytes of a frame's data inside which a failure means the start was never a
// frame: random bytes behind the magic fail or run out this early.
constexpr std::uint64_t kEarlyBytes = 64 * 1024;

// Decodes one frame with libzstd (output discarded) to find where it ends.
EndFinding Zstd_Frame(ItemBytes& b, std::uint64_t at) {
  const std::unique_ptr<ZSTD_DCtx, std::size_t (*)(ZSTD_DCtx*)> decoder(ZSTD_createDCtx(), ZSTD_freeDCtx);
  if (!decoder) return EndFinding::Unknown("no memory for the decoder");
  std::vector<std::uint8_t> out(ZSTD_DStreamOutSize());
  const auto fail = [at](std::uint64_t where, const char* why) {
    return where - at < kEarlyBytes ? EndFinding::Not_This_Format(why) : EndFinding::Unknown(why);
  };
  for (std::uint64_t pos = at;;) {
    const auto v = b.View(pos);
    if (v.empty()) return fail(pos, "data ends inside the frame");
    ZSTD_inBuffer in{v.data(), v.size(), 0};
    bool full = false;
    do {
      ZSTD_outBuffer o{out.data(), out.size(), 0};
      const std::size_t r = ZSTD_decompressStream(decoder.get(), &o, &in);
      if (ZSTD_isError(r)) return fail(pos + in.pos, "frame data is damaged");
      if (r == 0) return EndFinding::Found(pos + in.pos);
      full = o.pos == o.size;
    } while (in.pos < in.size || full);
    pos += in.size;
  }
}

// ---- LZ4

std::uint32_t Rotl(std::uint32_t v, int r) { return (v << r) | (v >> (32 - r)); }

// xxHash32 with seed 0 of fewer than 16 bytes (a frame descriptor).
std::uint32_t Xxh32_Short(const std::uint8_t* p, std::size_t n) {
  constexpr std::uint32_t k1 = 2654435761u, k2 = 2246822519u, k3 = 3266489917u, k4 = 668265263u, k5 = 374761393u;
  std::uint32_t h = k5 + static_cast<std::uint32_t>(n);
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const std::uint32_t w = p[i] | std::uint32_t{p[i + 1]} << 8 | std::uint32_t{p[i + 2]} << 16 | std::uint32_t{p[i + 3]} << 24;
    h = Rotl(h + w * k3, 17) * k4;
  }
  for (; i < n; ++i) h = Rotl(h + p[i] * k5, 11) * k1;
  h ^= h >> 15;
  h *= k2;
  h ^= h >> 13;
  h *= k3;
  return h ^ (h >> 16);
}

EndFinding Lz4_Frame(ItemBytes& b, std::uint64_t at) {
  std::uint8_t d[15] = {};
  if (b.Read(at + 4, d, 2) != 2) return EndFinding::Not_This_Format("frame descriptor cut short");
  const std::uint8_t flg = d[0], bd = d[1];
  if ((flg >> 6) != 1 || (flg & 0x02) != 0 || (bd & 0x8F) != 0 || (bd >> 4) < 4) {
    return EndFinding::Not_This_Format("frame descriptor is not sane");
  }
  const std::size_t descriptor = 2 + ((flg & 0x08) ? 8 : 0) + ((flg & 0x01) ? 4 : 0);
  if (b.Read(at + 4, d, descriptor + 1) != descriptor + 1) return EndFinding::Not_This_Format("descriptor cut short");
  if (((Xxh32_Short(d, descriptor) >> 8) & 0xFF) != d[descriptor]) {
    return EndFinding::Not_This_Format("descriptor checksum does not hold");
  }
  const std::uint64_t block_max = std::uint64_t{1} << (8 + 2 * (bd >> 4));
  const bool block_checksum = (flg & 0x10) != 0, content_checksum = (flg & 0x04) != 0;
  std::uint64_t pos = at + 4 + descriptor + 1;
  for (std::uint64_t blocks = 0;; ++blocks) {
    const auto fail = [blocks](const char* why) {
      return blocks == 0 ? EndFinding::Not_This_Format(why) : EndFinding::Unknown(why);
    };
    if (!b.Has(pos, 4)) return fail("data ends before the end mark");
    const std::uint64_t size = b.U32le(pos) & 0x7FFFFFFF;
    if (b.U32le(pos) == 0) {
      pos += 4 + (content_checksum ? 4 : 0);
      break;
    }
    if (size > block_max) return fail("block larger than the frame allows");
    const std::uint64_t stored = size + (block_checksum ? 4 : 0);
    if (!b.Has(pos + 4, stored)) return fail("data ends inside a block");
    pos += 4 + stored;
  }
  if (!b.Has(0, pos)) return EndFinding::Unknown("content checksum cut short");
  return EndFinding::Found(pos);
}

}  // namespace

EndFinding Find_Zstd_End(ItemBytes& bytes) {
  if (!bytes.Matches(0, "\x28\xB5\x2F\xFD")) return EndFinding::Not_This_Format("no Zstandard magic");
  return Frames(bytes, "\x28\xB5\x2F\xFD", Zstd_Frame);
}

EndFinding Find_Lz4_End(ItemBytes& bytes) {
  if (!bytes.Matches(0, "\x04\x22\x4D\x18")) return EndFinding::Not_This_Format("no LZ4 frame magic");
  return Frames(bytes, "\x04\x22\x4D\x18", Lz4_Frame);
}

}  // namespace tamberlin::recovery
