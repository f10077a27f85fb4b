// The file type choice over the catalogue records.
#include "engine/type_selection.h"

#include <gtest/gtest.h>

namespace tamberlin {
namespace {

CatalogueList Records(std::initializer_list<std::pair<const char*, const char*>> records) {
  CatalogueList out;
  for (const auto& [type, description] : records) out.push_back(Make_Record(type, "1", "00", "1", "-", description, 0));
  return out;
}

// The file type screen lists each type once, sorted without regard to case,
// with the first description (a star marks types only the thorough pass
// searches); the types left ticked decide the records both
// passes search, in display order.
TEST(TypeSelectionTest, UntickedTypesLeaveBothLists) {
  const auto general = Records({{"ZIP", "first zip"}, {"doc", "lower doc"}, {"ZIP", "second zip"}, {"DOC", "d"}});
  const auto thorough = Records({{"ZIP", "thorough zip"}, {"ARJ", "only thorough"}, {"DOC", "d2"}});
  auto rows = Build_Extension_List(general, thorough);
  std::vector<std::string> shown;
  for (const auto& r : rows) shown.push_back(r.Extension + (r.Thoro.empty() ? "" : "*") + " " + r.Description);
  EXPECT_EQ(shown, (std::vector<std::string>{"ARJ* only thorough", "doc lower doc", "DOC d", "ZIP first zip"}));
  for (auto& r : rows) r.State = r.Extension != "DOC";  // case counts: "doc" stays
  const auto applied = Apply_Selection(rows, general, thorough);
  EXPECT_EQ(applied.ticked_types, (std::vector<std::string>{"ARJ", "doc", "ZIP"}));
  EXPECT_EQ(applied.lists.CheckListHeader_Array,
            Records({{"ZIP", "first zip"}, {"doc", "lower doc"}, {"ZIP", "second zip"}}));
  EXPECT_EQ(applied.lists.CheckListHeader_Adv_Array, Records({{"ZIP", "thorough zip"}, {"ARJ", "only thorough"}}));
  for (auto& r : rows) r.State = false;
  EXPECT_FALSE(Check_For_One_Extension_Selection(rows));
  EXPECT_TRUE(Apply_Selection(rows, general, thorough).lists.CheckListHeader_Array.empty());
}

}  // namespace
}  // namespace tamberlin
