#include "type_selection.h"

#include <gtest/gtest.h>

namespace tamberlin {
namespace {

StringList Rec(const std::string& type, const std::string& description) {
  return {type, "1", "00", "1", "-", description, "0"};
}

StringList Join(std::initializer_list<StringList> parts) {
  StringList out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<std::string> Extensions(const std::vector<ExtensionListRecord>& rows) {
  std::vector<std::string> out;
  for (const auto& r : rows) out.push_back(r.Extension + (r.Thoro.empty() ? "" : "*"));
  return out;
}

TEST(ExtensionListTest, OneRowPerTypeSortedCaseInsensitively) {
  const auto rows = Build_Extension_List(
      Join({Rec("ZIP", "first zip"), Rec("doc", "lower doc"), Rec("ZIP", "second zip"), Rec("DOC", "upper doc")}),
      Join({Rec("ZIP", "thorough zip"), Rec("ARJ", "only thorough")}));
  EXPECT_EQ(Extensions(rows), (std::vector<std::string>{"ARJ*", "doc", "DOC", "ZIP"}));
  EXPECT_EQ(rows[3].Description, "first zip");
  for (const auto& r : rows) EXPECT_TRUE(r.State);
}

TEST(ExtensionListTest, EmptyListsGiveNoRowsAndNoSelection) {
  const auto rows = Build_Extension_List({}, {});
  EXPECT_TRUE(rows.empty());
  EXPECT_FALSE(Check_For_One_Extension_Selection(rows));
}

TEST(ApplySelectionTest, UncheckedTypeLeavesBothListsTickedTypesInDisplayOrder) {
  const StringList general = Join({Rec("PDF", "p"), Rec("DOC", "d"), Rec("DOC", "d2"), Rec("ZIP", "z")});
  const StringList thorough = Join({Rec("DOC", "d3"), Rec("RAR", "r")});
  auto rows = Build_Extension_List(general, thorough);
  for (auto& r : rows) r.State = r.Extension != "DOC";
  const auto applied = Apply_Selection(rows, general, thorough);
  EXPECT_EQ(applied.ticked_types, (std::vector<std::string>{"PDF", "RAR", "ZIP"}));
  EXPECT_EQ(applied.lists.CheckListHeader_Array, Join({Rec("PDF", "p"), Rec("ZIP", "z")}));
  EXPECT_EQ(applied.lists.CheckListHeader_Adv_Array, Rec("RAR", "r"));
}

TEST(ApplySelectionTest, NothingCheckedIsNoSelection) {
  auto rows = Build_Extension_List(Rec("PDF", "p"), {});
  rows[0].State = false;
  EXPECT_FALSE(Check_For_One_Extension_Selection(rows));
  EXPECT_TRUE(Apply_Selection(rows, Rec("PDF", "p"), {}).lists.CheckListHeader_Array.empty());
}

}  // namespace
}  // namespace tamberlin
