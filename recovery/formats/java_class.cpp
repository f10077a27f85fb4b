// Java class files: the version must be one a JVM has used; the constant
// pool, fields, methods and attributes are walked to the end of the class.
#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint16_t kFirstMajor = 45, kLastMajor = 80;  // 1.0.2 up to releases still to come

// Bytes after the tag of a constant pool entry, 0 for an unknown tag.
std::uint64_t Entry_Size(std::uint8_t tag) {
  switch (tag) {
    case 7: case 8: case 16: case 19: case 20: return 2;
    case 15: return 3;
    case 3: case 4: case 9: case 10: case 11: case 12: case 17: case 18: return 4;
    case 5: case 6: return 8;
    default: return 0;
  }
}

// Walks `count` members (fields or methods) or, with `members` false,
// `count` attributes from `at`; the offset past them, or npos.
std::uint64_t Walk(ItemBytes& b, std::uint64_t at, bool members) {
  if (!b.Has(at, 2)) return ItemBytes::npos;
  const std::uint64_t count = b.U16be(at);
  at += 2;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (members) {
      at = Walk(b, at + 6, false);
      if (at == ItemBytes::npos) return at;
    } else {
      if (!b.Has(at, 6)) return ItemBytes::npos;
      at += 6 + std::uint64_t{b.U32be(at + 2)};
    }
  }
  return at;
}

}  // namespace

EndFinding Find_Class_End(ItemBytes& bytes) {
  if (!bytes.Matches(0, "\xCA\xFE\xBA\xBE") || !bytes.Has(0, 10)) return EndFinding::Not_This_Format("no class magic");
  const std::uint16_t minor = bytes.U16be(4), major = bytes.U16be(6);
  // Before Java 12 minor versions were 0 (and 3 for the first release);
  // since then 0 or 0xFFFF for preview features.
  if (major < kFirstMajor || major > kLastMajor || (minor != 0 && minor != 3 && minor != 0xFFFF)) {
    return EndFinding::Not_This_Format("no such class file version");
  }
  const std::uint64_t entries = bytes.U16be(8);
  if (entries == 0) return EndFinding::Not_This_Format("empty constant pool");
  std::uint64_t at = 10;
  for (std::uint64_t i = 1; i < entries; ++i) {
    std::uint8_t tag = 0;
    if (bytes.Read(at, &tag, 1) != 1) return EndFinding::Unknown("constant pool cut short");
    if (tag == 1) {
      if (!bytes.Has(at, 3)) return EndFinding::Unknown("constant pool cut short");
      at += 3 + std::uint64_t{bytes.U16be(at + 1)};
      continue;
    }
    const std::uint64_t size = Entry_Size(tag);
    if (size == 0) return EndFinding::Not_This_Format("no such constant pool tag");
    at += 1 + size;
    if (tag == 5 || tag == 6) ++i;  // longs and doubles take two entries
  }
  // access flags, this class, super class, then the interfaces.
  if (!bytes.Has(at, 8)) return EndFinding::Unknown("class cut short");
  at += 8 + 2 * std::uint64_t{bytes.U16be(at + 6)};
  at = Walk(bytes, at, true);                                 // fields
  if (at != ItemBytes::npos) at = Walk(bytes, at, true);      // methods
  if (at != ItemBytes::npos) at = Walk(bytes, at, false);     // attributes
  if (at == ItemBytes::npos || !bytes.Has(0, at)) return EndFinding::Unknown("class cut short");
  return EndFinding::Found(at);
}

}  // namespace tamberlin::recovery
