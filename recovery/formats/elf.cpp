// ELF executables, libraries and objects: the header's fields must agree
// with its class; the file ends at the furthest of the section header
// table, the program header table, the segments' file ranges and the
// sections' contents.
#include <algorithm>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint64_t kMaxEntries = 65535;

struct Elf {
  ItemBytes& b;
  bool wide, big;
  std::uint64_t Half(std::uint64_t at) { return big ? b.U16be(at) : b.U16le(at); }
  std::uint64_t Word(std::uint64_t at) { return big ? b.U32be(at) : b.U32le(at); }
  std::uint64_t Addr(std::uint64_t at) { return wide ? (big ? b.U64be(at) : b.U64le(at)) : Word(at); }
};

}  // namespace

EndFinding Find_Elf_End(ItemBytes& bytes) {
  std::uint8_t ident[16] = {};
  if (bytes.Read(0, ident, 16) != 16 || !bytes.Matches(0, "\x7F" "ELF")) return EndFinding::Not_This_Format("no ELF ident");
  if (ident[4] < 1 || ident[4] > 2 || ident[5] < 1 || ident[5] > 2 || ident[6] != 1) {
    return EndFinding::Not_This_Format("no such ELF class, data encoding or version");
  }
  if (std::any_of(ident + 9, ident + 16, [](std::uint8_t c) { return c != 0; })) {
    return EndFinding::Not_This_Format("ident padding is not zero");
  }
  Elf e{bytes, ident[4] == 2, ident[5] == 2};
  const std::uint64_t ehsize = e.wide ? 64 : 52, phentsize = e.wide ? 56 : 32, shentsize = e.wide ? 64 : 40;
  if (!bytes.Has(0, ehsize)) return EndFinding::Not_This_Format("header cut short");
  const std::uint64_t type = e.Half(16);
  if ((type < 1 || type > 4) && type < 0xFE00) return EndFinding::Not_This_Format("no such object file type");
  const std::uint64_t p = e.wide ? 32 : 28;  // e_phoff
  const std::uint64_t phoff = e.Addr(p), shoff = e.Addr(p + (e.wide ? 8 : 4));
  const std::uint64_t f = p + (e.wide ? 16 : 8) + 4;  // e_ehsize, after e_flags
  const std::uint64_t phnum = e.Half(f + 4), shnum_field = e.Half(f + 8), shstrndx = e.Half(f + 10);
  if (e.Word(20) != 1 || e.Half(f) != ehsize) return EndFinding::Not_This_Format("header version or size is wrong");
  if ((phnum != 0 && e.Half(f + 2) != phentsize) || (shoff != 0 && e.Half(f + 6) != shentsize)) {
    return EndFinding::Not_This_Format("table entry sizes are wrong");
  }
  if ((phnum != 0 && phoff < ehsize) || (shoff != 0 && shoff < ehsize) || (shoff == 0 && shnum_field != 0) ||
      (shnum_field != 0 && shstrndx >= shnum_field && shstrndx != 0xFFFF)) {
    return EndFinding::Not_This_Format("tables overlap the header");
  }
  if (phoff > bytes.Limit() || shoff > bytes.Limit()) return EndFinding::Unknown("a table lies past the limit");

  std::uint64_t end = ehsize;
  const auto reach = [&](std::uint64_t offset, std::uint64_t size) {
    if (offset > bytes.Limit() || size > bytes.Limit() - offset) return false;
    end = std::max(end, offset + size);
    return true;
  };
  // More than 0xFF00 sections: the count is in section 0's size field.
  std::uint64_t shnum = shnum_field;
  if (shoff != 0 && shnum == 0) {
    if (!bytes.Has(shoff, shentsize)) return EndFinding::Unknown("section header table cut short");
    shnum = e.Addr(shoff + (e.wide ? 32 : 20));
    if (shnum == 0 || shnum > kMaxEntries * 64) return EndFinding::Not_This_Format("no section count");
  }
  if (!reach(phoff, phnum * phentsize) || !reach(shoff, shnum * shentsize)) {
    return EndFinding::Unknown("a table runs past the limit");
  }
  if (!bytes.Has(0, end)) return EndFinding::Unknown("tables cut short");
  for (std::uint64_t i = 0; i < phnum; ++i) {
    const std::uint64_t h = phoff + i * phentsize;
    const std::uint64_t offset = e.wide ? e.Addr(h + 8) : e.Word(h + 4);
    const std::uint64_t filesz = e.wide ? e.Addr(h + 32) : e.Word(h + 16);
    if (!reach(offset, filesz)) return EndFinding::Unknown("a segment runs past the limit");
  }
  for (std::uint64_t i = 1; i < shnum; ++i) {
    const std::uint64_t h = shoff + i * shentsize;
    constexpr std::uint64_t kNoBits = 8;
    if (e.Word(h + 4) == kNoBits) continue;
    const std::uint64_t offset = e.Addr(h + (e.wide ? 24 : 16)), size = e.Addr(h + (e.wide ? 32 : 20));
    if (!reach(offset, size)) return EndFinding::Unknown("a section runs past the limit");
  }
  if (!bytes.Has(0, end)) return EndFinding::Unknown("file cut short");
  return EndFinding::Found(end);
}

}  // namespace tamberlin::recovery
