// Mach-O executables and libraries (32- and 64-bit, little-endian): the
// header's CPU and file type must be known and its load commands must walk
// cleanly; the file ends at the furthest segment's file range, or of the
// load commands when no segment reaches further.
#include <algorithm>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint32_t kSegment = 0x1, kSegment64 = 0x19;
constexpr std::uint32_t kCpus[] = {7, 0x01000007, 12, 0x0100000C, 0x0200000C, 18, 0x01000012};
constexpr std::uint32_t kMaxCommands = 4096;

}  // namespace

EndFinding Find_Macho_End(ItemBytes& bytes) {
  const bool wide = bytes.Matches(0, "\xCF\xFA\xED\xFE");
  if (!wide && !bytes.Matches(0, "\xCE\xFA\xED\xFE")) return EndFinding::Not_This_Format("no Mach-O magic");
  const std::uint64_t header = wide ? 32 : 28;
  if (!bytes.Has(0, header)) return EndFinding::Not_This_Format("header cut short");
  const std::uint32_t cpu = bytes.U32le(4), file_type = bytes.U32le(12);
  const std::uint32_t commands = bytes.U32le(16), commands_size = bytes.U32le(20);
  if (std::find(std::begin(kCpus), std::end(kCpus), cpu) == std::end(kCpus)) {
    return EndFinding::Not_This_Format("no such CPU type");
  }
  if (file_type < 1 || file_type > 12 || commands == 0 || commands > kMaxCommands ||
      commands_size < commands * 8u || commands_size > 16u * 1024 * 1024) {
    return EndFinding::Not_This_Format("header fields are not sane");
  }
  if (!bytes.Has(header, commands_size)) return EndFinding::Unknown("load commands cut short");
  std::uint64_t end = header + commands_size, at = header;
  for (std::uint32_t i = 0; i < commands; ++i) {
    const std::uint32_t cmd = bytes.U32le(at), size = bytes.U32le(at + 4);
    if (size < 8 || size % 4 != 0 || at + size > header + commands_size) {
      return EndFinding::Not_This_Format("load commands do not walk");
    }
    if (cmd == kSegment || cmd == kSegment64) {
      const std::uint64_t offset = wide ? bytes.U64le(at + 40) : bytes.U32le(at + 32);
      const std::uint64_t file_size = wide ? bytes.U64le(at + 48) : bytes.U32le(at + 36);
      if (offset > bytes.Limit() || file_size > bytes.Limit() - offset) {
        return EndFinding::Unknown("a segment runs past the limit");
      }
      end = std::max(end, offset + file_size);
    }
    at += size;
  }
  if (!bytes.Has(0, end)) return EndFinding::Unknown("segments cut short");
  return EndFinding::Found(end);
}

}  // namespace tamberlin::recovery
