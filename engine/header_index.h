// The catalogue of one pass compiled into byte tables for the sector loop:
// first byte -> candidate records. Built on the
// scan thread at the start of a pass from a record list it owns a copy of;
// immutable afterwards, so any thread may read it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "engine/catalogue.h"

namespace tamberlin {

inline constexpr std::size_t kSectorSize = 512;

// The header test of one record against one 512-byte sector, written as the
// plain rule (used by the index and by tests as the reference); a record
// without a first byte wants a 0 there:
// "1" the header begins the sector; a numeric n: it begins at byte n-1, which
// must be at most 506; "nn" it begins the sector, tolerating leading repeats
// of the first byte. No byte outside the sector is ever compared.
bool Header_Test(const CatalogueRecord& record, const std::uint8_t* sector);

// Literal, case-sensitive containment of `part` in `text`; an empty part is
// contained in nothing.
bool Find_Str(const std::string& text, const std::string& part);

class HeaderIndex {
 public:
  static constexpr std::size_t npos = std::numeric_limits<std::size_t>::max();

  HeaderIndex() = default;
  explicit HeaderIndex(const CatalogueList& records);

  std::size_t size() const { return records_.size(); }
  bool empty() const { return records_.empty(); }
  const CatalogueRecord& operator[](std::size_t r) const { return records_[r]; }

  // Index of the first record, in list order, whose header test passes on
  // `sector` (512 bytes), or npos.
  std::size_t Find(const std::uint8_t* sector) const;

  // The records a match of record `r` opens in the raw scan: r itself and
  // every later record whose signature text contains, or is contained in
  // (at the same position), that of r. Ascending order.
  const std::vector<std::uint32_t>& Family(std::size_t r) const { return family_[r]; }

 private:
  CatalogueList records_;
  // Records whose header starts at byte 0, by the value they want there.
  std::array<std::vector<std::uint32_t>, 256> at_start_;
  // Records with a fixed offset past byte 0, in record order.
  std::vector<std::uint32_t> at_offset_;
  // Per distinct offset of those records, the bytes any of them wants there:
  // most sectors are ruled out by one lookup per offset.
  struct OffsetProbe {
    std::size_t offset;
    std::array<bool, 256> wanted{};
  };
  std::vector<OffsetProbe> probes_;
  std::vector<std::vector<std::uint32_t>> family_;
};

}  // namespace tamberlin
