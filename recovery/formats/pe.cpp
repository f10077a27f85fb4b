// Windows executables and libraries (EXE, DLL): the MZ header points at the
// "PE\0\0" signature, whose COFF and optional headers must be sane; the file
// ends at the end of the last section's raw data, or of the certificate
// table (which lies past the sections) when there is one. Data appended
// after that (installers' payloads) is not part of the image and not kept.
#include <algorithm>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint64_t kMaxHeaderOffset = 0x10000;
constexpr std::uint64_t kMaxSections = 96;
constexpr std::uint64_t kSectionHeader = 40;
constexpr std::uint16_t kPe32 = 0x10B, kPe32Plus = 0x20B;
constexpr std::uint64_t kCertificateEntry = 4;

// Machines Windows runs or builds for (COFF header).
constexpr std::uint16_t kMachines[] = {0x014C, 0x8664, 0x01C0, 0x01C2, 0x01C4, 0xAA64, 0x0200,
                                       0x0166, 0x0168, 0x0169, 0x01F0, 0x01F1, 0x0EBC, 0xA641};

bool Power_Of_Two(std::uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

}  // namespace

EndFinding Find_Pe_End(ItemBytes& bytes) {
  if (!bytes.Matches(0, "MZ") || !bytes.Has(0, 64)) return EndFinding::Not_This_Format("no MZ header");
  const std::uint64_t pe = bytes.U32le(0x3C);
  if (pe < 0x40 || pe > kMaxHeaderOffset || pe % 4 != 0) return EndFinding::Not_This_Format("no PE header offset");
  if (!bytes.Matches(pe, std::string_view("PE\0\0", 4)) || !bytes.Has(pe, 24)) {
    return EndFinding::Not_This_Format("no PE signature");
  }
  const std::uint16_t machine = bytes.U16le(pe + 4);
  if (std::find(std::begin(kMachines), std::end(kMachines), machine) == std::end(kMachines)) {
    return EndFinding::Not_This_Format("no such machine");
  }
  const std::uint64_t sections = bytes.U16le(pe + 6), optional_size = bytes.U16le(pe + 20);
  const std::uint64_t opt = pe + 24;
  if (sections == 0 || sections > kMaxSections) return EndFinding::Not_This_Format("no plausible section count");
  if (!bytes.Has(opt, 2)) return EndFinding::Not_This_Format("optional header cut short");
  const std::uint16_t magic = bytes.U16le(opt);
  const std::uint64_t directories_at = magic == kPe32 ? 96 : 112;
  if ((magic != kPe32 && magic != kPe32Plus) || optional_size < directories_at || !bytes.Has(opt, optional_size)) {
    return EndFinding::Not_This_Format("no optional header");
  }
  const std::uint64_t section_alignment = bytes.U32le(opt + 32), file_alignment = bytes.U32le(opt + 36);
  if (!Power_Of_Two(file_alignment) || file_alignment > 0x10000 || section_alignment < file_alignment ||
      !Power_Of_Two(section_alignment)) {
    return EndFinding::Not_This_Format("alignments are not sane");
  }
  const std::uint64_t headers_size = bytes.U32le(opt + 60);
  const std::uint64_t table = opt + optional_size;
  if (headers_size < table + sections * kSectionHeader) return EndFinding::Not_This_Format("headers do not fit");

  std::uint64_t end = headers_size;
  if (!bytes.Has(table, sections * kSectionHeader)) return EndFinding::Unknown("section table cut short");
  for (std::uint64_t i = 0; i < sections; ++i) {
    const std::uint64_t s = table + i * kSectionHeader;
    const std::uint64_t raw_size = bytes.U32le(s + 16), raw_at = bytes.U32le(s + 20);
    if (raw_size == 0) continue;
    end = std::max(end, raw_at + raw_size);
  }
  // Data directory entry 4 holds a file offset, not an address.
  const std::uint64_t directories = bytes.U32le(opt + directories_at - 4);
  const std::uint64_t cert = opt + directories_at + kCertificateEntry * 8;
  if (directories > kCertificateEntry && cert + 8 <= table) {
    const std::uint64_t at = bytes.U32le(cert), size = bytes.U32le(cert + 4);
    if (at != 0 && size != 0) end = std::max(end, at + size);
  }
  if (end > bytes.Limit() || !bytes.Has(0, end)) return EndFinding::Unknown("sections run past the data");
  return EndFinding::Found(end);
}

}  // namespace tamberlin::recovery
