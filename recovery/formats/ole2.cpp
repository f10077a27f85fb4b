// OLE2 compound files (DOC, XLS, PPT, MSI, MSG, VSD): the file ends after the
// highest sector the allocation table marks as used.
#include <algorithm>
#include <unordered_set>
#include <vector>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint32_t kMaxRegular = 0xFFFFFFFA;  // higher numbers are markers
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFree = 0xFFFFFFFF;
constexpr int kHeaderDifat = 109;

std::uint32_t Le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

}  // namespace

EndFinding Find_Ole2_End(ItemBytes& bytes) {
  // The second form is the magic of early beta files.
  const bool magic = bytes.Matches(0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1") ||
                     bytes.Matches(0, "\x0E\x11\xFC\x0D\xD0\xCF\x11\xE0");
  if (!magic || !bytes.Has(0, 512)) return EndFinding::Not_This_Format("no OLE2 header");
  // Version 3 uses 512-byte sectors and version 4 4096-byte ones; mini
  // sectors are 64 bytes and the mini stream cutoff is 4096.
  const unsigned shift = bytes.U16le(0x1E);
  const unsigned major = bytes.U16le(0x1A);
  if (!((shift == 9 && major == 3) || (shift == 12 && major == 4)) || bytes.U16le(0x1C) != 0xFFFE ||
      bytes.U16le(0x20) != 6 || bytes.U32le(0x38) != 4096) {
    return EndFinding::Not_This_Format("OLE2 header fields are wrong");
  }
  const std::uint64_t sector_size = std::uint64_t{1} << shift;
  const std::uint64_t per_sector = sector_size / 4;
  // Sector n lies at (n + 1) << shift; only those wholly below the limit exist.
  if (bytes.Limit() / sector_size < 2) return EndFinding::Unknown("limit holds no sectors");
  const std::uint64_t sectors = bytes.Limit() / sector_size - 1;
  const auto exists = [&](std::uint32_t s) { return s <= kMaxRegular && s < sectors; };

  const std::uint32_t fat_count = bytes.U32le(0x2C);
  if (fat_count == 0) return EndFinding::Not_This_Format("no FAT sectors");
  if (fat_count > sectors) return EndFinding::Unknown("FAT sector count past the limit");

  // The FAT sectors: first from the header, then along the DIFAT chain.
  std::vector<std::uint32_t> fat;
  std::unordered_set<std::uint32_t> listed;
  std::uint64_t highest = 0;
  const auto add_fat = [&](std::uint32_t s) {
    if (!exists(s) || !listed.insert(s).second) return false;
    fat.push_back(s);
    highest = std::max<std::uint64_t>(highest, s);
    return true;
  };
  for (int i = 0; i < kHeaderDifat && fat.size() < fat_count; ++i) {
    const std::uint32_t s = bytes.U32le(0x4C + 4 * static_cast<std::uint64_t>(i));
    if (s == kFree) continue;
    if (!add_fat(s)) return EndFinding::Unknown("bad FAT sector number in the header");
  }
  const std::uint32_t difat_count = bytes.U32le(0x48);
  std::uint32_t difat = bytes.U32le(0x44);
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(sector_size));
  for (std::uint32_t d = 0; fat.size() < fat_count; ++d) {
    if (d >= difat_count || difat == kEndOfChain || difat == kFree) {
      return EndFinding::Unknown("DIFAT chain ends early");
    }
    if (!exists(difat) || !listed.insert(difat).second) return EndFinding::Unknown("bad DIFAT chain");
    highest = std::max<std::uint64_t>(highest, difat);
    const std::uint64_t offset = (std::uint64_t{difat} + 1) << shift;
    if (bytes.Read(offset, buf.data(), buf.size()) != buf.size()) return EndFinding::Unknown("DIFAT sector cut short");
    for (std::uint64_t i = 0; i + 1 < per_sector && fat.size() < fat_count; ++i) {
      const std::uint32_t s = Le32(buf.data() + 4 * i);
      if (s == kFree) continue;
      if (!add_fat(s)) return EndFinding::Unknown("bad FAT sector number in the DIFAT");
    }
    difat = Le32(buf.data() + buf.size() - 4);
  }

  // Every FAT entry that is not free marks its sector as used; whatever an
  // entry points to must exist too.
  for (std::size_t f = 0; f < fat.size(); ++f) {
    const std::uint64_t offset = (std::uint64_t{fat[f]} + 1) << shift;
    if (bytes.Read(offset, buf.data(), buf.size()) != buf.size()) return EndFinding::Unknown("FAT sector cut short");
    for (std::uint64_t i = 0; i < per_sector; ++i) {
      const std::uint32_t next = Le32(buf.data() + 4 * i);
      if (next == kFree) continue;
      const std::uint64_t sector = f * per_sector + i;
      if (next <= kMaxRegular) {
        if (next >= sectors) return EndFinding::Unknown("FAT chain points past the limit");
        highest = std::max<std::uint64_t>(highest, next);
      }
      highest = std::max(highest, sector);
    }
  }
  if (highest >= sectors) return EndFinding::Unknown("used sector past the limit");
  const std::uint64_t length = (highest + 2) << shift;
  if (!bytes.Has(length - 1, 1)) return EndFinding::Unknown("last sector is cut short");
  return EndFinding::Found(length);
}

}  // namespace tamberlin::recovery
