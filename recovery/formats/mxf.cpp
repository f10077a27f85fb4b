// MXF: KLV triplets (a 16-byte SMPTE key, a BER length, the value). The
// header partition pack states where the footer partition starts; the file
// ends after the KLVs that follow it (index tables, the random index pack).
#include <string_view>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::string_view kKeyPrefix("\x06\x0E\x2B\x34", 4);
constexpr std::string_view kPartitionPrefix("\x06\x0E\x2B\x34\x02\x05\x01\x01\x0D\x01\x02\x01\x01", 13);

// The KLV at `at`: its value's offset and length; false when it is not one.
bool Read_Klv(ItemBytes& b, std::uint64_t at, std::uint64_t& value, std::uint64_t& length) {
  if (!b.Matches(at, kKeyPrefix) || !b.Has(at, 17)) return false;
  const std::uint8_t first = b.View(at + 16)[0];
  if (first < 0x80) {
    length = first;
    value = at + 17;
    return true;
  }
  const unsigned n = first & 0x7F;
  if (n == 0 || n > 8 || !b.Has(at + 17, n)) return false;
  length = 0;
  for (unsigned i = 0; i < n; ++i) length = length << 8 | b.View(at + 17 + i)[0];
  value = at + 17 + n;
  return true;
}

}  // namespace

EndFinding Find_Mxf_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  std::uint64_t value = 0, length = 0;
  if (!b.Matches(0, kPartitionPrefix) || !Read_Klv(b, 0, value, length)) return no("no header partition pack");
  const std::uint8_t kind = b.View(13)[0], status = b.View(14)[0];
  if (kind != 0x02 || status == 0 || status > 4 || b.View(15)[0] != 0) return no("not a header partition key");
  if (length < 88 || length > 65536 || !b.Has(value, 88)) return no("implausible partition pack length");
  if (b.U16be(value) != 1 || b.U64be(value + 8) != 0) return no("implausible partition pack fields");
  const std::uint64_t footer = b.U64be(value + 24);
  if (footer == 0) return EndFinding::Unknown("header partition names no footer");
  if (footer > b.Limit() || !b.Has(footer, 17)) return EndFinding::Unknown("footer partition past the limit");
  if (!b.Matches(footer, kPartitionPrefix) || b.View(footer + 13)[0] != 0x04) {
    return EndFinding::Unknown("no footer partition pack where the header says");
  }
  std::uint64_t at = footer;
  while (Read_Klv(b, at, value, length)) {
    if (length > b.Limit() - value || (length > 0 && !b.Has(value + length - 1, 1))) {
      return EndFinding::Unknown("footer KLV runs past the limit");
    }
    at = value + length;
  }
  return EndFinding::Found(at);
}

}  // namespace tamberlin::recovery
