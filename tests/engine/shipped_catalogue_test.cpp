// The catalogue files that ship in the data folder: whole groups, well-formed
// records, and every record reachable by the sector test.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <set>
#include <sstream>

#include "engine/catalogue.h"
#include "engine/data_dir.h"
#include "engine/header_index.h"

namespace tamberlin {
namespace {

std::string Read_Shipped(const char* name) {
  std::ifstream in(testing::Data_Dir() / name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::set<std::string> Keys(const StringList& list) {
  std::set<std::string> out;
  for (std::size_t r = 0; r < Record_Count(list); ++r)
    out.insert(list[r * kRecordWidth] + " " + list[r * kRecordWidth + 2] + " @" + list[r * kRecordWidth + 3]);
  return out;
}

TEST(ShippedCatalogueTest, EveryRecordIsWholeWellFormedAndReachable) {
  ASSERT_FALSE(testing::Data_Dir().empty()) << "no data folder found; set TAMBERLIN_DATA_DIR";
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
      const StringList list = Parse_Catalogue_Text(text);
      ASSERT_GT(Record_Count(list), 0u);
      // A line that loses its colon shifts every later record, so the text is
      // checked too: as many keyed lines as the records hold.
      EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), ':')), Record_Count(list) * 6);
      EXPECT_EQ(Keys(list).size(), Record_Count(list)) << "a record is repeated";
      const HeaderIndex index(list);
      for (std::size_t r = 0; r < index.size(); ++r) {
        const HeaderRecord& h = index[r];
        SCOPED_TRACE(h.type + " " + h.signature_text);
        const auto all_of = [](const std::string& t, const char* set) {
          return !t.empty() && t.find_first_not_of(set) == std::string::npos;
        };
        EXPECT_TRUE(all_of(h.type, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"));
        EXPECT_TRUE(all_of(h.signature_text, "0123456789ABCDEF") && h.signature_text.size() % 2 == 0);
        EXPECT_GE(h.max_size, kSectorSize) << "a limit below one sector keeps nothing";
        std::array<std::uint8_t, kSectorSize> sector{};
        const std::size_t at = h.position == HeaderRecord::Position::Offset ? static_cast<std::size_t>(h.offset) : 0;
        ASSERT_LE(at + h.signature.size(), sector.size());
        std::copy(h.signature.begin(), h.signature.end(), sector.begin() + static_cast<std::ptrdiff_t>(at));
        const std::size_t found = index.Find(sector.data());
        ASSERT_NE(found, HeaderIndex::npos) << "matches nothing";
        std::multiset<std::string> opened;
        for (auto m : index.Family(found)) opened.insert(index[m].type);
        const bool photo = std::string(name) == kPhotoCatalogue || std::string(name) == kPhotoThoroughCatalogue;
        EXPECT_TRUE(photo ? index[found].type == h.type : opened.size() == 1)
            << "shadowed by " << index[found].signature_text << (photo ? "" : ", or one header opens two items");
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
