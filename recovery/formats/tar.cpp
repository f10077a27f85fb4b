// tar: walks the 512-byte member headers, each held to its checksum, past
// their data to the two zero blocks that end the archive, and on through the
// zeros that pad the last 10240-byte record when they are all there.
#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint64_t kBlock = 512;
constexpr std::uint64_t kRecord = 20 * kBlock;       // tar's default blocking factor
constexpr std::uint64_t kMaxPaxBytes = 1024 * 1024;  // enough for any "size=" record
constexpr std::size_t kSizeAt = 124, kChecksumAt = 148, kTypeAt = 156;
constexpr std::size_t kSparseExtendedAt = 482, kSparseNextExtendedAt = 504;

using Block = std::uint8_t[kBlock];

bool All_Zero(ItemBytes& b, std::uint64_t from, std::uint64_t n) {
  while (n > 0) {
    const auto v = b.View(from);
    if (v.empty()) return false;
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(v.size(), n));
    if (std::any_of(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(take), [](std::uint8_t c) { return c != 0; })) {
      return false;
    }
    from += take;
    n -= take;
  }
  return true;
}

// An octal field as tar writes it: optional leading spaces, digits, then
// spaces or NULs. An empty field reads as `blank`.
std::optional<std::uint64_t> Octal(const std::uint8_t* field, std::size_t n, std::optional<std::uint64_t> blank) {
  std::size_t i = 0;
  while (i < n && field[i] == ' ') ++i;
  const std::size_t first_digit = i;
  std::uint64_t v = 0;
  for (; i < n && field[i] >= '0' && field[i] <= '7'; ++i) {
    if (v >> 60 != 0) return std::nullopt;
    v = v * 8 + static_cast<std::uint64_t>(field[i] - '0');
  }
  if (i == first_digit) return blank;
  for (; i < n; ++i) {
    if (field[i] != ' ' && field[i] != 0) return std::nullopt;
  }
  return v;
}

// The size field: octal, or GNU base-256 (big-endian after a 0x80 byte).
std::optional<std::uint64_t> Size_Field(const Block& h) {
  const std::uint8_t* f = h + kSizeAt;
  if ((f[0] & 0x80) == 0) return Octal(f, 12, 0);
  if (f[0] != 0x80) return std::nullopt;  // negative, or beyond 2^88
  std::uint64_t v = 0;
  for (std::size_t i = 1; i < 12; ++i) {
    if (v >> 56 != 0) return std::nullopt;
    v = v << 8 | f[i];
  }
  return v;
}

// tar accepts the sum of the header bytes taken as unsigned or as signed chars.
bool Checksum_Holds(const Block& h) {
  const auto stored = Octal(h + kChecksumAt, 8, std::nullopt);
  if (!stored) return false;
  std::uint64_t sum = 0;
  std::int64_t signed_sum = 0;
  for (std::size_t i = 0; i < kBlock; ++i) {
    const std::uint8_t c = i >= kChecksumAt && i < kChecksumAt + 8 ? ' ' : h[i];
    sum += c;
    signed_sum += static_cast<std::int8_t>(c);
  }
  return *stored == sum || static_cast<std::int64_t>(*stored) == signed_sum;
}

// The "size" record of a pax extended header's data, which overrides the
// next member's size field (members of 8 GiB and more).
std::optional<std::uint64_t> Pax_Size(ItemBytes& b, std::uint64_t at, std::uint64_t n) {
  std::vector<std::uint8_t> data(static_cast<std::size_t>(std::min(n, kMaxPaxBytes)));
  data.resize(b.Read(at, data.data(), data.size()));
  const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  std::optional<std::uint64_t> size;
  // Records are "<length> <key>=<value>\n", the length counting the whole record.
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t len = 0, i = pos;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && len < text.size(); ++i) {
      len = len * 10 + static_cast<std::size_t>(text[i] - '0');
    }
    if (i == pos || i >= text.size() || text[i] != ' ' || len <= i - pos + 1 || len > text.size() - pos) break;
    const std::string_view record = text.substr(i + 1, len - (i - pos) - 2);  // without the newline
    if (record.starts_with("size=")) {
      std::uint64_t v = 0;
      bool ok = record.size() > 5;
      for (const char c : record.substr(5)) {
        if (c < '0' || c > '9' || v >> 59 != 0) ok = false;
        if (!ok) break;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
      }
      size = ok ? std::optional(v) : std::nullopt;
    }
    pos += len;
  }
  return size;
}

}  // namespace

EndFinding Find_Tar_End(ItemBytes& b) {
  std::uint64_t pos = 0;
  std::uint64_t pax_size = ItemBytes::npos;  // from an 'x' header, for the member after it
  for (;;) {
    Block h = {};
    if (b.Read(pos, h, kBlock) != kBlock) return EndFinding::Unknown("archive cut short before its end blocks");
    if (std::all_of(std::begin(h), std::end(h), [](std::uint8_t c) { return c == 0; })) {
      if (pos == 0) return EndFinding::Not_This_Format("no member header");
      if (!b.Has(pos + kBlock, kBlock)) return EndFinding::Unknown("archive cut short in its end blocks");
      if (!All_Zero(b, pos + kBlock, kBlock)) return EndFinding::Unknown("a lone zero block inside the archive");
      const std::uint64_t end = pos + 2 * kBlock;
      const std::uint64_t padded = (end + kRecord - 1) / kRecord * kRecord;
      if (padded <= b.Limit() && b.Has(end, padded - end) && All_Zero(b, end, padded - end)) {
        return EndFinding::Found(padded);
      }
      return EndFinding::Found(end);
    }
    if (!Checksum_Holds(h)) {
      if (pos == 0) return EndFinding::Not_This_Format("first header's checksum does not hold");
      return EndFinding::Unknown("header checksum mismatch");
    }
    const auto field = Size_Field(h);
    if (!field) return pos == 0 ? EndFinding::Not_This_Format("bad size field") : EndFinding::Unknown("bad size field");
    const char type = static_cast<char>(h[kTypeAt]);
    std::uint64_t size = type == 'x' || type == 'g' || pax_size == ItemBytes::npos ? *field : pax_size;
    pax_size = ItemBytes::npos;
    if (type == '5') size = 0;  // tar skips no data after a directory whatever its size says
    if (size > b.Limit()) return EndFinding::Unknown("member size past the limit");
    pos += kBlock;
    // Old GNU sparse members keep their map's overflow in extra blocks before the data.
    for (bool more = type == 'S' && h[kSparseExtendedAt] != 0; more; pos += kBlock) {
      if (!b.Has(pos, kBlock)) return EndFinding::Unknown("sparse map cut short");
      std::uint8_t flag = 0;
      b.Read(pos + kSparseNextExtendedAt, &flag, 1);
      more = flag != 0;
    }
    if (type == 'x') pax_size = Pax_Size(b, pos, size).value_or(ItemBytes::npos);
    pos += (size + kBlock - 1) / kBlock * kBlock;
  }
}

}  // namespace tamberlin::recovery
