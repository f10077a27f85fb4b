#include "engine/header_index.h"

#include <algorithm>

namespace tamberlin {
namespace {

using Position = CatalogueRecord::Position;

// The byte a record's header must begin with; a record whose group had no
// "Header :" line wants a 0.
std::uint8_t First(const CatalogueRecord& r) { return r.first_byte.value_or(0); }

// The byte a fixed-offset header begins at, when it may begin inside the
// sector at all: at most at byte 506.
bool Offset_Fits(const CatalogueRecord& r) { return r.offset >= 1 && r.offset <= 507; }

// Number of signature bytes that agree with the sector from byte p on; bytes
// past the end of the sector never agree.
std::size_t Agreeing(const CatalogueRecord& r, const std::uint8_t* sector, std::size_t p) {
  const std::size_t room = p < kSectorSize ? kSectorSize - p : 0;
  const std::size_t n = std::min(room, r.signature.size());
  std::size_t k = 0;
  while (k < n && sector[p + k] == r.signature[k]) ++k;
  return k;
}

}  // namespace

bool Header_Test(const CatalogueRecord& r, const std::uint8_t* sector) {
  const std::size_t len = r.signature.size();
  if (r.position != Position::Run) {
    if (r.position == Position::Offset && !Offset_Fits(r)) return false;
    const std::size_t p = r.position == Position::Offset ? static_cast<std::size_t>(r.offset - 1) : 0;
    if (len == 0) return false;  // empty bound: the test loop never runs
    if (sector[p] != First(r)) return false;
    return Agreeing(r, sector, p) == len;
  }
  // "nn": retry from the byte where a partial match broke off.
  std::size_t p = 0;
  while (p < kSectorSize) {
    if (sector[p] != First(r)) return false;
    const std::size_t k = Agreeing(r, sector, p);
    if (k == len) return true;
    p += k >= 1 ? k : 1;
  }
  return false;
}

bool Find_Str(const std::string& text, const std::string& part) {
  return !part.empty() && text.find(part) != std::string::npos;
}

HeaderIndex::HeaderIndex(const CatalogueList& records) : records_(records) {
  const std::size_t n = records_.size();
  for (std::size_t r = 0; r < n; ++r) {
    const CatalogueRecord& h = records_[r];
    if (h.position != Position::Offset || h.offset == 1) {
      at_start_[First(h)].push_back(static_cast<std::uint32_t>(r));
    } else if (Offset_Fits(h)) {
      at_offset_.push_back(static_cast<std::uint32_t>(r));
      const auto at = static_cast<std::size_t>(h.offset - 1);
      auto probe = std::find_if(probes_.begin(), probes_.end(), [&](const auto& p) { return p.offset == at; });
      if (probe == probes_.end()) probe = probes_.insert(probes_.end(), OffsetProbe{at, {}});
      probe->wanted[First(h)] = true;
    }
  }

  family_.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    family_[i].push_back(static_cast<std::uint32_t>(i));
    const CatalogueRecord& a = records_[i];
    for (std::size_t j = i + 1; j < n; ++j) {
      const CatalogueRecord& b = records_[j];
      const bool same_position = a.position == b.position && a.offset == b.offset;
      if (Find_Str(a.signature_hex, b.signature_hex) ||
          (Find_Str(b.signature_hex, a.signature_hex) && same_position)) {
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
      const CatalogueRecord& h = records_[r];
      if (sector[h.offset - 1] != First(h)) continue;
    }
    if (Header_Test(records_[r], sector)) return r;
  }
  return npos;
}

}  // namespace tamberlin
