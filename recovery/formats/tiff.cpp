// TIFF and the raw formats built on it (DNG, NEF, CR2, ORF, RW2): the end is
// the furthest byte any IFD references, walking the IFD chain and its SubIFD,
// Exif, GPS and Interop IFDs. Data only a maker note points at is not seen.
// The first IFD must be sound (entries in tag order, known value types) or
// the bytes are no TIFF; damage found after it leaves the end unknown.
#include <algorithm>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::size_t kMaxIfds = 1024;
constexpr std::uint64_t kMaxEntries = 1 << 20;    // over all IFDs
constexpr std::uint64_t kMaxElements = 1 << 26;  // offset/count array elements over all IFDs

std::uint64_t Type_Size(std::uint16_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;  // BYTE, ASCII, SBYTE, UNDEFINED
    case 3: case 8: return 2;                  // SHORT, SSHORT
    case 4: case 9: case 11: case 13: return 4;  // LONG, SLONG, FLOAT, IFD
    case 5: case 10: case 12: case 16: case 17: case 18: return 8;  // RATIONALs, DOUBLE, LONG8s
    default: return 0;
  }
}

// An entry's values: where they are (inline in the entry or out of line) and how many.
struct Values {
  std::uint16_t type = 0;
  std::uint32_t count = 0;
  std::uint64_t at = 0;
  bool present = false;
};

class Walker {
 public:
  Walker(ItemBytes& b, bool le) : b_(b), le_(le) {}

  // Walks every IFD reachable from `first`; false with `why` on damage.
  bool Walk(std::uint64_t first) {
    queue_.push_back(first);
    while (!queue_.empty()) {
      const std::uint64_t ifd = queue_.back();
      queue_.pop_back();
      if (!seen_.insert(ifd).second) continue;
      if (seen_.size() > kMaxIfds) return Fail("too many IFDs");
      if (!Read_Ifd(ifd)) return false;
    }
    return true;
  }
  std::uint64_t End() const { return end_; }
  bool First_Ifd_Sound() const { return first_sound_; }
  const std::string& Why() const { return why_; }

 private:
  std::uint16_t U16(std::uint64_t o) { return le_ ? b_.U16le(o) : b_.U16be(o); }
  std::uint32_t U32(std::uint64_t o) { return le_ ? b_.U32le(o) : b_.U32be(o); }
  std::uint64_t U64(std::uint64_t o) { return le_ ? b_.U64le(o) : b_.U64be(o); }

  bool Fail(std::string why) {
    why_ = std::move(why);
    return false;
  }
  bool Cover(std::uint64_t from, std::uint64_t size) {
    if (from > b_.Limit() || size > b_.Limit() - from) return Fail("data past the limit");
    end_ = std::max(end_, from + size);
    return true;
  }
  bool Queue(std::uint64_t ifd) {
    if (ifd < 8 || ifd >= b_.Limit()) return Fail(ifd < 8 ? "IFD offset inside the header" : "IFD past the limit");
    queue_.push_back(ifd);
    return true;
  }

  bool Read_Ifd(std::uint64_t ifd) {
    if (!b_.Has(ifd, 2)) return Fail("IFD past the limit");
    const std::uint16_t n = U16(ifd);
    if (n == 0) return Fail("empty IFD");
    entries_ += n;
    if (entries_ > kMaxEntries) return Fail("too many IFD entries");
    const std::uint64_t size = 2 + 12ull * n + 4;
    if (!b_.Has(ifd, size) || !Cover(ifd, size)) return Fail("IFD past the limit");
    if (!first_sound_) {
      for (std::uint64_t e = ifd + 2, last = 0; e < ifd + 2 + 12ull * n; e += 12) {
        const std::uint16_t tag = U16(e);
        if ((e > ifd + 2 && tag <= last) || Type_Size(U16(e + 2)) == 0) return Fail("first IFD is not a TIFF IFD");
        last = tag;
      }
      first_sound_ = true;
    }

    Values strips, strip_counts, tiles, tile_counts, thumb, thumb_length;
    for (std::uint64_t e = ifd + 2; e < ifd + 2 + 12ull * n; e += 12) {
      const std::uint16_t tag = U16(e);
      Values v{U16(e + 2), U32(e + 4), 0, true};
      const std::uint64_t bytes = Type_Size(v.type) * v.count;
      if (bytes == 0) continue;  // unknown types are skipped, as readers do
      v.at = bytes <= 4 ? e + 8 : U32(e + 8);
      if (bytes > 4 && !Cover(v.at, bytes)) return false;
      switch (tag) {
        case 273: strips = v; break;
        case 279: strip_counts = v; break;
        case 324: tiles = v; break;
        case 325: tile_counts = v; break;
        case 513: thumb = v; break;
        case 514: thumb_length = v; break;
        case 330:  // SubIFDs
          if (!For_Each(v, [this](std::uint64_t o) { return o == 0 || Queue(o); })) return false;
          break;
        case 34665: case 34853: case 40965: {  // Exif, GPS, Interop; 0 for none
          const std::uint64_t sub = Element(v, 0);
          if (sub != 0 && !Queue(sub)) return false;
          break;
        }
        default: break;
      }
    }
    if (!Cover_Pieces(strips, strip_counts) || !Cover_Pieces(tiles, tile_counts) ||
        !Cover_Pieces(thumb, thumb_length)) {
      return false;
    }
    const std::uint32_t next = U32(ifd + 2 + 12ull * n);
    return next == 0 || Queue(next);
  }

  // Element `i` of an unsigned integer array (SHORT, LONG, IFD, LONG8).
  std::uint64_t Element(const Values& v, std::uint64_t i) {
    switch (v.type) {
      case 3: return U16(v.at + 2 * i);
      case 16: case 18: return U64(v.at + 8 * i);
      default: return U32(v.at + 4 * i);
    }
  }
  static bool Is_Unsigned(const Values& v) {
    return v.type == 3 || v.type == 4 || v.type == 13 || v.type == 16 || v.type == 18;
  }

  // Calls `f` on each element, reading the array a block at a time.
  template <typename F>
  bool For_Each(const Values& v, F f) {
    if (!Is_Unsigned(v)) return Fail("offsets of a non-integer type");
    elements_ += v.count;
    if (elements_ > kMaxElements) return Fail("too many offsets");
    const std::uint64_t width = Type_Size(v.type);
    std::uint8_t buf[4096];
    const std::uint64_t per_read = sizeof buf / width;
    for (std::uint64_t i = 0; i < v.count; i += per_read) {
      const std::uint64_t k = std::min<std::uint64_t>(per_read, v.count - i);
      const auto want = static_cast<std::size_t>(k * width);
      if (b_.Read(v.at + i * width, buf, want) != want) return Fail("offsets past the limit");
      for (std::uint64_t j = 0; j < k; ++j) {
        const std::uint8_t* p = buf + j * width;
        std::uint64_t x = 0;
        for (std::uint64_t byte = 0; byte < width; ++byte) x = (x << 8) | p[le_ ? width - 1 - byte : byte];
        if (!f(x)) return false;
      }
    }
    return true;
  }

  // Offsets paired with byte counts (strips, tiles, the JPEG thumbnail).
  bool Cover_Pieces(const Values& offsets, const Values& counts) {
    if (!offsets.present) return true;
    if (!counts.present) return Fail("offsets without byte counts");
    if (offsets.count != counts.count || !Is_Unsigned(offsets) || !Is_Unsigned(counts)) {
      return Fail("offsets and byte counts disagree");
    }
    if (offsets.count == 1) {
      const std::uint64_t n = Element(counts, 0);
      return n == 0 || Cover(Element(offsets, 0), n);
    }
    std::vector<std::uint64_t> starts;
    starts.reserve(std::min<std::uint64_t>(offsets.count, 4096));
    // Pair them a batch at a time so a long array never sits in memory whole.
    const std::uint64_t batch = 4096;
    for (std::uint64_t first = 0; first < offsets.count; first += batch) {
      const std::uint64_t k = std::min<std::uint64_t>(batch, offsets.count - first);
      Values o = offsets, c = counts;
      o.at += first * Type_Size(o.type);
      c.at += first * Type_Size(c.type);
      o.count = c.count = static_cast<std::uint32_t>(k);
      starts.clear();
      if (!For_Each(o, [&](std::uint64_t x) { starts.push_back(x); return true; })) return false;
      std::size_t i = 0;
      if (!For_Each(c, [&](std::uint64_t n) { return n == 0 || Cover(starts[i++], n); })) return false;
    }
    return true;
  }

  ItemBytes& b_;
  bool le_;
  std::uint64_t end_ = 8;
  std::vector<std::uint64_t> queue_;
  std::set<std::uint64_t> seen_;
  std::uint64_t entries_ = 0;
  std::uint64_t elements_ = 0;
  bool first_sound_ = false;
  std::string why_;
};

}  // namespace

EndFinding Find_Tiff_End(ItemBytes& b) {
  if (!b.Has(0, 8)) return EndFinding::Not_This_Format("no TIFF header");
  bool le = true;
  if (b.Matches(0, "MM")) {
    if (!b.Matches(2, std::string_view("\0*", 2)) && !b.Matches(2, "OR")) {
      return EndFinding::Not_This_Format("no TIFF header");
    }
    le = false;
  } else if (!b.Matches(0, std::string_view("II*\0", 4)) && !b.Matches(0, "IIRO") && !b.Matches(0, "IIRS") &&
             !b.Matches(0, std::string_view("IIU\0", 4))) {
    return EndFinding::Not_This_Format("no TIFF header");
  }
  Walker walker(b, le);
  const auto fail = [&] {
    return walker.First_Ifd_Sound() ? EndFinding::Unknown(walker.Why()) : EndFinding::Not_This_Format(walker.Why());
  };
  const std::uint32_t first = le ? b.U32le(4) : b.U32be(4);
  if (first < 8) return EndFinding::Not_This_Format("IFD offset inside the header");
  if (!walker.Walk(first)) return fail();
  // A CR2 names its raw IFD in the header too.
  if (le && b.Matches(8, "CR") && b.Has(12, 4) && b.U32le(12) >= 8 && !walker.Walk(b.U32le(12))) return fail();
  const std::uint64_t end = walker.End();
  if (!b.Has(end - 1, 1)) return EndFinding::Unknown("data past the medium's end");
  return EndFinding::Found(end);
}

}  // namespace tamberlin::recovery
