// MP3 (MPEG audio): an optional ID3v2 tag, then a walk over consecutive
// frames, then an optional APEv2 tag and ID3v1 tag. No length is stored, so
// the file ends after the last frame that follows on from the one before.
// Fewer than three frames in a row after an ID3v2 tag (sixteen with no tag),
// or a broken ID3v2 header, is no MP3.
#include <algorithm>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

struct Frame {
  unsigned version = 0;  // 3: MPEG 1, 2: MPEG 2, 0: MPEG 2.5
  unsigned layer = 0;    // 3: layer I, 2: layer II, 1: layer III (as coded)
  unsigned rate_index = 0;
  std::uint32_t length = 0;
};

// The frame whose header is `h`, or length 0 when the header is not a valid
// one (free format, reserved fields).
Frame Parse(std::uint32_t h) {
  constexpr std::uint16_t kBitrates[5][15] = {
      {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // MPEG 1 layer I
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // MPEG 1 layer II
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // MPEG 1 layer III
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // MPEG 2/2.5 layer I
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // MPEG 2/2.5 layers II, III
  };
  constexpr std::uint32_t kRates[4][3] = {
      {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

  Frame f;
  if ((h & 0xFFE00000u) != 0xFFE00000u) return f;
  const unsigned version = (h >> 19) & 3;
  const unsigned layer = (h >> 17) & 3;
  const unsigned bitrate_index = (h >> 12) & 15;
  const unsigned rate_index = (h >> 10) & 3;
  const unsigned padding = (h >> 9) & 1;
  if (version == 1 || layer == 0 || bitrate_index == 0 || bitrate_index == 15 || rate_index == 3 || (h & 3) == 2) {
    return f;
  }
  const bool mpeg1 = version == 3;
  const unsigned table = mpeg1 ? 3 - layer : (layer == 3 ? 3 : 4);
  const std::uint32_t bitrate = kBitrates[table][bitrate_index] * 1000u;
  const std::uint32_t rate = kRates[version][rate_index];
  f.version = version;
  f.layer = layer;
  f.rate_index = rate_index;
  if (layer == 3) {
    f.length = (12 * bitrate / rate + padding) * 4;
  } else {
    const std::uint32_t factor = layer == 1 && !mpeg1 ? 72 : 144;
    f.length = factor * bitrate / rate + padding;
  }
  return f;
}

// The end of an APEv2 tag that starts at `at`, or `at` when there is none.
// A tag without a header is known by its footer, whose size reaches back to `at`.
std::uint64_t After_Ape_Tag(ItemBytes& bytes, std::uint64_t at) {
  constexpr std::uint32_t kHasHeader = 1u << 31;
  constexpr std::uint32_t kIsHeader = 1u << 29;
  if (bytes.Matches(at, "APETAGEX")) {
    if ((bytes.U32le(at + 20) & kIsHeader) == 0) return at;
    const std::uint64_t end = at + 32 + bytes.U32le(at + 12);
    return bytes.Has(at, end - at) && bytes.Matches(end - 32, "APETAGEX") ? end : at;
  }
  // No header: the first item (value size, flags, a printable key ending in a
  // zero byte) must be there before a footer is worth looking for.
  if (!bytes.Has(at, 11) || bytes.U32le(at) > (1u << 24) || bytes.U32le(at + 4) > 0xFF) return at;
  std::uint8_t key[256] = {};
  const std::size_t got = bytes.Read(at + 8, key, sizeof key);
  std::size_t n = 0;
  while (n < got && key[n] >= 0x20 && key[n] <= 0x7E) ++n;
  if (n < 2 || n >= got || key[n] != 0) return at;
  constexpr std::uint64_t kMostTag = 1u << 24;
  const std::uint64_t footer = bytes.Find("APETAGEX", at, at + std::min<std::uint64_t>(kMostTag, bytes.Limit() - at));
  if (footer == ItemBytes::npos || !bytes.Has(footer, 32)) return at;
  const std::uint32_t size = bytes.U32le(footer + 12);
  if ((bytes.U32le(footer + 20) & (kIsHeader | kHasHeader)) != 0 || footer + 32 - at != size) return at;
  return footer + 32;
}

}  // namespace

EndFinding Find_Mp3_End(ItemBytes& bytes) {
  std::uint64_t at = 0;
  // ID3v2 tags; some files carry more than one.
  for (int tags = 0; tags < 4 && bytes.Matches(at, "ID3"); ++tags) {
    if (!bytes.Has(at, 10)) return EndFinding::Not_This_Format("ID3v2 header cut short");
    std::uint8_t h[10] = {};
    bytes.Read(at, h, 10);
    // Versions 2 to 4 define the top two, three and four flag bits; the rest are zero.
    const unsigned undefined_flags = 0xFFu >> (h[3] == 2 ? 2 : h[3] == 3 ? 3 : 4);
    if (h[3] < 2 || h[3] > 4 || h[4] == 0xFF || (h[5] & undefined_flags) != 0 ||
        ((h[6] | h[7] | h[8] | h[9]) & 0x80) != 0) {
      return EndFinding::Not_This_Format("bad ID3v2 header");
    }
    const std::uint32_t size =
        (std::uint32_t{h[6]} << 21) | (std::uint32_t{h[7]} << 14) | (std::uint32_t{h[8]} << 7) | h[9];
    at += 10 + size + ((h[5] & 0x10) != 0 ? 10 : 0);
  }
  // Taggers sometimes leave zero padding after the tag's declared size.
  if (at > 0) {
    const std::uint64_t most = at + 64 * 1024;
    for (auto v = bytes.View(at); !v.empty() && at < most; v = bytes.View(at)) {
      const auto nonzero = std::find_if(v.begin(), v.end(), [](std::uint8_t b) { return b != 0; });
      at += static_cast<std::uint64_t>(nonzero - v.begin());
      if (nonzero != v.end()) break;
    }
  }

  // Behind an ID3v2 tag three frames in a row make an MP3. A bare frame sync
  // is weak evidence: old audio data between files has runs of frames too, so
  // a file must start with a longer run (16 frames: about 0.4 s).
  const std::uint64_t start = at;
  const int kMinFrames = start == 0 ? 16 : 3;
  int frames = 0;
  Frame first;
  // A valid frame is at least 32 bytes long, so the walk advances.
  while (bytes.Has(at, 4)) {
    const Frame f = Parse(bytes.U32be(at));
    if (f.length == 0) break;
    if (frames == 0) {
      first = f;
    } else if (f.version != first.version || f.layer != first.layer || f.rate_index != first.rate_index) {
      break;
    }
    if (!bytes.Has(at, f.length)) {
      if (frames >= kMinFrames) return EndFinding::Unknown("last MPEG frame is cut short");
      return EndFinding::Not_This_Format("no MPEG audio frames");
    }
    at += f.length;
    ++frames;
  }
  if (frames < kMinFrames) {
    return EndFinding::Not_This_Format(start == 0 ? "no MPEG audio frames"
                                                  : "no MPEG audio frames after the ID3v2 tag");
  }
  at = After_Ape_Tag(bytes, at);
  if (bytes.Matches(at, "TAG") && bytes.Has(at, 128)) at += 128;
  return EndFinding::Found(at);
}

}  // namespace tamberlin::recovery
