#include "engine/header_index.h"

#include <algorithm>
#include <cctype>

#include "engine/hex.h"

namespace tamberlin {
namespace {

// Leading integer of a text the way a lenient number reader takes it: spaces
// skipped, an optional sign, then digits; 0 when there are none. Saturates.
std::int64_t Leading_Integer(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  std::int64_t v = 0;
  constexpr std::int64_t kCap = std::int64_t{1} << 40;
  for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i) {
    v = std::min(kCap, v * 10 + (s[i] - '0'));
  }
  return negative ? -v : v;
}

std::uint64_t Leading_Unsigned(const std::string& s) {
  const std::int64_t v = Leading_Integer(s);
  if (v < 0) return 0;
  // Sizes may exceed the cap used for positions: parse them in full.
  std::uint64_t out = 0;
  std::size_t i = 0;
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  if (i < s.size() && s[i] == '+') ++i;
  for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i) {
    const std::uint64_t d = static_cast<std::uint64_t>(s[i] - '0');
    if (out > (std::numeric_limits<std::uint64_t>::max() - d) / 10) {
      return std::numeric_limits<std::uint64_t>::max();
    }
    out = out * 10 + d;
  }
  return out;
}

// Number of signature bytes that agree with the sector from byte p on; bytes
// past the end of the sector never agree.
std::size_t Agreeing(const HeaderRecord& r, const std::uint8_t* sector, std::size_t p) {
  const std::size_t room = p < kSectorSize ? kSectorSize - p : 0;
  const std::size_t n = std::min(room, r.signature.size());
  std::size_t k = 0;
  while (k < n && sector[p + k] == r.signature[k]) ++k;
  return k;
}

}  // namespace

HeaderRecord Decode_Record(const StringList& list, std::size_t r) {
  const std::size_t b = r * kRecordWidth;
  HeaderRecord h;
  h.type = list[b];
  h.max_size = Leading_Unsigned(list[b + 1]);
  h.signature_text = list[b + 2];
  h.position_text = list[b + 3];
  const std::size_t len = h.signature_text.size() / 2;
  h.signature.reserve(len);
  for (std::size_t k = 0; k < len; ++k) {
    h.signature.push_back(
        static_cast<std::uint8_t>(hex2int(std::string_view(h.signature_text).substr(2 * k, 2))));
  }
  if (h.position_text == "1") {
    h.position = HeaderRecord::Position::Start;
  } else if (h.position_text == "nn") {
    h.position = HeaderRecord::Position::Run;
  } else {
    h.position = HeaderRecord::Position::Offset;
    h.offset = Leading_Integer(h.position_text) - 1;
  }
  const std::string& fb = list[b + 6];
  h.first_byte = fb.empty() ? 0 : static_cast<int>(Leading_Integer(fb));
  return h;
}

bool Header_Test(const HeaderRecord& r, const std::uint8_t* sector) {
  const std::size_t len = r.signature.size();
  using P = HeaderRecord::Position;
  if (r.position == P::Offset) {
    // A fixed offset must lie inside the sector and at most at byte 506.
    if (r.offset < 0 || r.offset > 506) return false;
    const auto p = static_cast<std::size_t>(r.offset);
    if (len == 0) return false;  // empty bound: the test loop never runs
    if (sector[p] != r.first_byte) return false;
    return Agreeing(r, sector, p) == len;
  }
  if (r.position == P::Start) {
    if (len == 0) return false;
    if (sector[0] != r.first_byte) return false;
    return Agreeing(r, sector, 0) == len;
  }
  // "nn": retry from the byte where a partial match broke off.
  std::size_t p = 0;
  while (p < kSectorSize) {
    if (sector[p] != r.first_byte) return false;
    const std::size_t k = Agreeing(r, sector, p);
    if (k == len) return true;
    p += k >= 1 ? k : 1;
  }
  return false;
}

bool Find_Str(const std::string& text, const std::string& part) {
  return !part.empty() && text.find(part) != std::string::npos;
}

HeaderIndex::HeaderIndex(const StringList& records) {
  const std::size_t n = Record_Count(records);
  records_.reserve(n);
  for (std::size_t r = 0; r < n; ++r) records_.push_back(Decode_Record(records, r));

  for (std::size_t r = 0; r < n; ++r) {
    const HeaderRecord& h = records_[r];
    if (h.first_byte < 0 || h.first_byte > 255) continue;  // can never match
    const bool at_zero = h.position != HeaderRecord::Position::Offset || h.offset == 0;
    if (at_zero) {
      at_start_[static_cast<std::size_t>(h.first_byte)].push_back(static_cast<std::uint32_t>(r));
    } else if (h.offset > 0 && h.offset <= 506) {
      at_offset_.push_back(static_cast<std::uint32_t>(r));
      const auto at = static_cast<std::size_t>(h.offset);
      auto probe = std::find_if(probes_.begin(), probes_.end(), [&](const auto& p) { return p.offset == at; });
      if (probe == probes_.end()) probe = probes_.insert(probes_.end(), OffsetProbe{at, {}});
      probe->wanted[static_cast<std::size_t>(h.first_byte)] = true;
    }
  }

  family_.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    family_[i].push_back(static_cast<std::uint32_t>(i));
    const HeaderRecord& a = records_[i];
    for (std::size_t j = i + 1; j < n; ++j) {
      const HeaderRecord& b = records_[j];
      if (Find_Str(a.signature_text, b.signature_text) ||
          (Find_Str(b.signature_text, a.signature_text) && a.position_text == b.position_text)) {
        family_[i].push_back(static_cast<std::uint32_t>(j));
      }
    }
  }
}

std::size_t HeaderIndex::Find(const std::uint8_t* sector) const {
  const auto& starts = at_start_[sector[0]];
  if (starts.empty()) {
    // Fast path for the common sector that no record can want.
    bool maybe = false;
    for (const auto& p : probes_) {
      if (p.wanted[sector[p.offset]]) {
        maybe = true;
        break;
      }
    }
    if (!maybe) return npos;
  }
  auto s = starts.begin();
  auto o = at_offset_.begin();
  // Walk both candidate lists in record order; the first record that passes wins.
  while (s != starts.end() || o != at_offset_.end()) {
    std::uint32_t r;
    if (o == at_offset_.end() || (s != starts.end() && *s < *o)) {
      r = *s++;
    } else {
      r = *o++;
      const HeaderRecord& h = records_[r];
      if (sector[h.offset] != h.first_byte) continue;
    }
    if (Header_Test(records_[r], sector)) return r;
  }
  return npos;
}

}  // namespace tamberlin
