// SQLite databases: the 100-byte header's fixed fields must hold; the file
// is the page size times the page count the header states (when the count
// is current: the change counter matches the version-valid-for number).
#include "recovery/end_finder.h"

namespace tamberlin::recovery {

EndFinding Find_Sqlite_End(ItemBytes& bytes) {
  if (!bytes.Matches(0, std::string_view("SQLite format 3\0", 16)) || !bytes.Has(0, 100)) {
    return EndFinding::Not_This_Format("no SQLite header");
  }
  const std::uint32_t raw_page = bytes.U16be(16);
  const std::uint64_t page = raw_page == 1 ? 65536 : raw_page;
  std::uint8_t f[6] = {};
  bytes.Read(18, f, 6);
  const bool page_ok = page >= 512 && (page & (page - 1)) == 0;
  // Write and read versions (1 legacy, 2 WAL), then the fixed payload fractions 64, 32, 32.
  if (!page_ok || f[0] < 1 || f[0] > 2 || f[1] < 1 || f[1] > 2 || f[3] != 64 || f[4] != 32 || f[5] != 32) {
    return EndFinding::Not_This_Format("header fields are not SQLite's");
  }
  const std::uint64_t pages = bytes.U32be(28);
  if (pages == 0 || bytes.U32be(24) != bytes.U32be(92)) return EndFinding::Unknown("page count is not current");
  const std::uint64_t end = page * pages;
  if (end > bytes.Limit() || !bytes.Has(0, end)) return EndFinding::Unknown("pages run past the limit");
  return EndFinding::Found(end);
}

}  // namespace tamberlin::recovery
