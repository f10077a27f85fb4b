// FLAC: "fLaC", STREAMINFO and the other metadata blocks, then frames. Frames
// carry no length, so the frame whose samples reach STREAMINFO's total is
// found by its header (sync code, CRC-8, frame or sample number) and its
// subframes are read to their end, which its CRC-16 confirms. A stream that
// states no total has no end the program can tell.
#include <array>
#include <optional>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint64_t npos = ItemBytes::npos;

struct StreamInfo {
  std::uint32_t rate = 0;
  unsigned bits = 0;
  std::uint64_t total = 0;
};

struct FrameHeader {
  std::uint64_t first_sample = 0;
  std::uint32_t block = 0;
  unsigned channels = 0, assignment = 0, bits = 0;
  std::uint64_t length = 0;  // header bytes with the CRC-8
};

std::uint8_t Crc8(const std::uint8_t* p, std::size_t n) {
  std::uint8_t crc = 0;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = static_cast<std::uint8_t>((crc & 0x80) != 0 ? (crc << 1) ^ 0x07 : crc << 1);
  }
  return crc;
}

// The frame header at `at`, when its fields and CRC-8 are sound.
std::optional<FrameHeader> Read_Header(ItemBytes& b, std::uint64_t at, const StreamInfo& info, unsigned min_block) {
  std::uint8_t h[16] = {};
  const std::size_t got = b.Read(at, h, sizeof h);
  if (got < 6 || h[0] != 0xFF || (h[1] & 0xFE) != 0xF8) return std::nullopt;
  const unsigned block_code = h[2] >> 4, rate_code = h[2] & 15, assignment = h[3] >> 4, size_code = (h[3] >> 1) & 7;
  if (block_code == 0 || rate_code == 15 || assignment > 10 || size_code == 3 || (h[3] & 1) != 0) return std::nullopt;
  // The frame or sample number, coded like UTF-8 in up to 7 bytes.
  std::size_t n = 4;
  std::uint64_t number = h[4];
  int extra = 0;
  if (number >= 0x80) {
    if (number < 0xC0 || number == 0xFF) return std::nullopt;
    while ((number << extra & 0x40) != 0 && extra < 6) ++extra;
    number &= 0x3Fu >> extra;
  }
  for (int i = 0; i < extra; ++i) {
    if ((h[5 + i] & 0xC0) != 0x80) return std::nullopt;
    number = number << 6 | (h[5 + i] & 0x3Fu);
  }
  n += 1 + static_cast<std::size_t>(extra);
  FrameHeader f;
  if (block_code == 1)
    f.block = 192;
  else if (block_code <= 5)
    f.block = 576u << (block_code - 2);
  else if (block_code == 6)
    f.block = h[n++] + 1u;
  else if (block_code == 7)
    f.block = (h[n] << 8u | h[n + 1]) + 1u, n += 2;
  else
    f.block = 256u << (block_code - 8);
  if (rate_code == 12)
    n += 1;
  else if (rate_code == 13 || rate_code == 14)
    n += 2;
  if (n + 1 > got || Crc8(h, n) != h[n]) return std::nullopt;
  constexpr unsigned kBits[8] = {0, 8, 12, 0, 16, 20, 24, 32};
  f.bits = size_code == 0 ? info.bits : kBits[size_code];
  f.first_sample = (h[1] & 1) != 0 ? number : number * min_block;
  f.assignment = assignment;
  f.channels = assignment < 8 ? assignment + 1 : 2;
  f.length = n + 1;
  return f;
}

class BitReader {
 public:
  BitReader(ItemBytes& b, std::uint64_t at) : b_(b), pos_(at) {}
  bool ok() const { return ok_; }
  std::uint64_t Byte_End() const { return pos_ + (bit_ != 0 ? 1 : 0); }
  std::uint64_t Bits(unsigned n) {
    std::uint64_t v = 0;
    while (n-- > 0) v = v << 1 | Bit();
    return v;
  }
  // Zero bits up to a one bit: their count (capped: no valid code is longer).
  std::uint32_t Unary() {
    std::uint32_t zeros = 0;
    while (ok_ && Bit() == 0) {
      if (++zeros > 1u << 20) ok_ = false;
    }
    return zeros;
  }
  void Skip(std::uint64_t n) {
    const std::uint64_t total = bit_ + n;
    pos_ += total / 8;
    bit_ = static_cast<unsigned>(total % 8);
    if (!b_.Has(pos_, 1)) ok_ = false;
  }

 private:
  unsigned Bit() {
    if (!ok_) return 0;
    if (view_pos_ != pos_) {
      const auto v = b_.View(pos_);
      if (v.empty()) {
        ok_ = false;
        return 0;
      }
      byte_ = v[0];
      view_pos_ = pos_;
    }
    const unsigned bit = (byte_ >> (7 - bit_)) & 1;
    if (++bit_ == 8) bit_ = 0, ++pos_;
    return bit;
  }
  ItemBytes& b_;
  std::uint64_t pos_;
  unsigned bit_ = 0;
  std::uint64_t view_pos_ = npos;
  std::uint8_t byte_ = 0;
  bool ok_ = true;
};

// Reads one subframe of `block` samples at `bits` per sample; false when it breaks the format.
bool Skip_Subframe(BitReader& r, std::uint32_t block, unsigned bits) {
  if (r.Bits(1) != 0) return false;
  const unsigned type = static_cast<unsigned>(r.Bits(6));
  if (r.Bits(1) != 0) {
    const std::uint32_t wasted = r.Unary() + 1;
    if (wasted >= bits) return false;
    bits -= wasted;
  }
  unsigned order = 0;
  if (type == 0) {
    r.Skip(bits);
    return r.ok();
  }
  if (type == 1) {
    r.Skip(std::uint64_t{bits} * block);
    return r.ok();
  }
  if (type >= 8 && type <= 12) {
    order = type - 8;
    r.Skip(std::uint64_t{bits} * order);
  } else if (type >= 32) {
    order = type - 31;
    r.Skip(std::uint64_t{bits} * order);
    const unsigned precision = static_cast<unsigned>(r.Bits(4)) + 1;
    if (precision == 16) return false;
    r.Skip(5 + std::uint64_t{precision} * order);
  } else {
    return false;
  }
  if (order > block) return false;
  const unsigned method = static_cast<unsigned>(r.Bits(2));
  if (method > 1) return false;
  const unsigned param_bits = method == 0 ? 4 : 5, escape = method == 0 ? 15 : 31;
  const unsigned partition_order = static_cast<unsigned>(r.Bits(4));
  const std::uint32_t per_partition = block >> partition_order;
  if ((per_partition << partition_order) != block || per_partition < order) return false;
  for (std::uint32_t p = 0; p < (1u << partition_order) && r.ok(); ++p) {
    const std::uint32_t samples = p == 0 ? per_partition - order : per_partition;
    const unsigned param = static_cast<unsigned>(r.Bits(param_bits));
    if (param == escape) {
      r.Skip(std::uint64_t{samples} * r.Bits(5));
      continue;
    }
    for (std::uint32_t s = 0; s < samples && r.ok(); ++s) {
      r.Unary();
      r.Skip(param);
    }
  }
  return r.ok();
}

std::uint16_t Crc16(ItemBytes& b, std::uint64_t from, std::uint64_t to) {
  std::uint16_t crc = 0;
  for (std::uint64_t pos = from; pos < to;) {
    const auto v = b.View(pos);
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(v.size(), to - pos));
    if (n == 0) break;
    for (std::size_t i = 0; i < n; ++i) {
      crc ^= static_cast<std::uint16_t>(v[i] << 8);
      for (int k = 0; k < 8; ++k)
        crc = static_cast<std::uint16_t>((crc & 0x8000) != 0 ? (crc << 1) ^ 0x8005 : crc << 1);
    }
    pos += n;
  }
  return crc;
}

}  // namespace

EndFinding Find_Flac_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  if (!b.Matches(0, "fLaC") || !b.Has(0, 8 + 34)) return no("no FLAC header");
  if ((b.U32be(4) & 0x7FFFFFFF) != 34) return no("first metadata block is not STREAMINFO");
  std::uint8_t si[34] = {};
  b.Read(8, si, sizeof si);
  const unsigned min_block = si[0] << 8u | si[1], max_block = si[2] << 8u | si[3];
  StreamInfo info;
  info.rate = std::uint32_t{si[10]} << 12 | std::uint32_t{si[11]} << 4 | si[12] >> 4u;
  info.bits = ((si[12] & 1u) << 4 | si[13] >> 4u) + 1;
  info.total = (std::uint64_t{si[13] & 15u} << 32) | std::uint64_t{si[14]} << 24 | std::uint64_t{si[15]} << 16 |
               std::uint64_t{si[16]} << 8 | si[17];
  if (min_block < 16 || max_block < min_block || info.rate == 0 || info.rate > 655350 || info.bits < 4) {
    return no("implausible STREAMINFO");
  }
  // The other metadata blocks, up to the one marked last.
  std::uint64_t at = 4;
  for (bool last = false; !last;) {
    if (!b.Has(at, 4)) return EndFinding::Unknown("metadata past the limit");
    const std::uint32_t h = b.U32be(at);
    last = (h >> 31) != 0;
    if (((h >> 24) & 0x7F) == 127) return EndFinding::Unknown("invalid metadata block type");
    at += 4 + (h & 0xFFFFFF);
  }
  if (info.total == 0) return EndFinding::Unknown("stream states no total sample count");

  // Frame headers in turn; each one's number must follow on from the last.
  std::uint64_t expect = 0;
  const std::uint8_t ff[1] = {0xFF};
  for (std::uint64_t pos = at;;) {
    const auto header = Read_Header(b, pos, info, min_block);
    if (!header || header->first_sample != expect) {
      if (pos == at) return EndFinding::Unknown("no frame after the metadata");
      const std::uint64_t next = b.Find(ff, pos + 1, b.Limit());
      if (next == npos) return EndFinding::Unknown("frames stop before the stated total");
      pos = next;
      continue;
    }
    expect = header->first_sample + header->block;
    if (expect < info.total) {
      pos += header->length + 1;
      const std::uint64_t next = b.Find(ff, pos, b.Limit());
      if (next == npos) return EndFinding::Unknown("frames stop before the stated total");
      pos = next;
      continue;
    }
    // The last frame: its subframes, zero padding to a byte, CRC-16.
    BitReader r(b, pos + header->length);
    for (unsigned c = 0; c < header->channels; ++c) {
      const bool side = (header->assignment == 8 && c == 1) || (header->assignment == 9 && c == 0) ||
                        (header->assignment == 10 && c == 1);
      if (!Skip_Subframe(r, header->block, header->bits + (side ? 1 : 0))) {
        return EndFinding::Unknown("last frame's subframes are damaged");
      }
    }
    const std::uint64_t end = r.Byte_End() + 2;
    if (!b.Has(end - 2, 2) || Crc16(b, pos, end - 2) != b.U16be(end - 2)) {
      return EndFinding::Unknown("last frame fails its CRC");
    }
    return EndFinding::Found(end);
  }
}

}  // namespace tamberlin::recovery
