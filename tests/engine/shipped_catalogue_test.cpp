// The catalogue files that ship in the data folder: whole groups,
// well-formed records, every record reachable by the sector test.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "engine/catalogue.h"
#include "engine/header_index.h"

namespace tamberlin {
namespace {

// TAMBERLIN_DATA_DIR when set, otherwise share/tamberlin beside the bin
// folder the test runs from (the build tree's layout); empty when neither.
inline std::filesystem::path Data_Dir() {
  if (const char* dir = std::getenv("TAMBERLIN_DATA_DIR"); dir != nullptr && *dir != '\0') return dir;
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  auto dir = (exe.parent_path() / ".." / "share" / "tamberlin").lexically_normal();
  return std::filesystem::is_directory(dir) ? dir : std::filesystem::path();
}

std::string Read_Shipped(const char* name) {
  std::ifstream in(Data_Dir() / name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::set<std::string> Keys(const CatalogueList& list) {
  std::set<std::string> out;
  for (const auto& r : list) out.insert(r.key + " " + r.signature_hex + " @" + Record_Texts(r)[3]);
  return out;
}

TEST(ShippedCatalogueTest, EveryRecordIsWholeWellFormedAndReachable) {
  ASSERT_FALSE(Data_Dir().empty()) << "no data folder found; set TAMBERLIN_DATA_DIR";
  // The photo scan names an item after the first matching record only; the
  // raw and video scans open every record of the match's family, so there a
  // header must open exactly one item (a shared header is one record whose
  // type comes from content at recovery).
  const std::pair<const char*, const char*> modes[] = {{kPhotoCatalogue, kPhotoThoroughCatalogue},
                                                       {kRawCatalogue, kRawThoroughCatalogue},
                                                       {kVideoCatalogue, kVideoThoroughCatalogue}};
  for (const auto& [general, thorough] : modes) {
    for (const char* name : {general, thorough}) {
      SCOPED_TRACE(name);
      const std::string text = Read_Shipped(name);
      const CatalogueList list = Parse_Catalogue_Text(text);
      ASSERT_GT(list.size(), 0u);
      // A line that loses its colon shifts every later record, so the text is
      // checked too: as many keyed lines as the records hold.
      EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), ':')), list.size() * 6);
      EXPECT_EQ(Keys(list).size(), list.size()) << "a record is repeated";
      const HeaderIndex index(list);
      for (std::size_t r = 0; r < index.size(); ++r) {
        const CatalogueRecord& h = index[r];
        SCOPED_TRACE(h.key + " " + h.signature_hex);
        const auto all_of = [](const std::string& t, const char* set) {
          return !t.empty() && t.find_first_not_of(set) == std::string::npos;
        };
        EXPECT_TRUE(all_of(h.key, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"));
        EXPECT_TRUE(all_of(h.signature_hex, "0123456789ABCDEF") && h.signature_hex.size() % 2 == 0);
        EXPECT_GE(h.size_limit, kSectorSize) << "a limit below one sector keeps nothing";
        std::array<std::uint8_t, kSectorSize> sector{};
        const bool offset = h.position == CatalogueRecord::Position::Offset;
        const std::size_t at = offset ? static_cast<std::size_t>(h.offset - 1) : 0;
        ASSERT_LE(at + h.signature.size(), sector.size());
        std::copy(h.signature.begin(), h.signature.end(), sector.begin() + static_cast<std::ptrdiff_t>(at));
        const std::size_t found = index.Find(sector.data());
        ASSERT_NE(found, HeaderIndex::npos) << "matches nothing";
        std::multiset<std::string> opened;
        for (auto m : index.Family(found)) opened.insert(index[m].key);
        const bool photo = std::string(name) == kPhotoCatalogue || std::string(name) == kPhotoThoroughCatalogue;
        EXPECT_TRUE(photo ? index[found].key == h.key : opened.size() == 1)
            << "shadowed by " << index[found].signature_hex << (photo ? "" : ", or one header opens two items");
      }
    }
    // The thorough pass reads the same sectors again: a record it shares with
    // the general list would only find every item twice.
    const auto in_general = Keys(Parse_Catalogue_Text(Read_Shipped(general)));
    for (const std::string& key : Keys(Parse_Catalogue_Text(Read_Shipped(thorough))))
      EXPECT_EQ(in_general.count(key), 0u) << key << " is in " << general << " too";
  }
}

}  // namespace
}  // namespace tamberlin
