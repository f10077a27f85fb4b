#include "engine/type_selection.h"

#include <algorithm>
#include <set>

namespace tamberlin {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool Less_Case_Insensitive(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return Lower(x) < Lower(y); });
}

void Add_Rows(std::vector<ExtensionListRecord>& rows, std::set<std::string>& seen, const CatalogueList& list,
              const char* thoro) {
  for (const CatalogueRecord& r : list) {
    if (seen.insert(r.key).second) rows.push_back({r.key, r.description, thoro, true});
  }
}

}  // namespace

std::vector<ExtensionListRecord> Build_Extension_List(const CatalogueList& general, const CatalogueList& thorough) {
  std::vector<ExtensionListRecord> rows;
  std::set<std::string> seen;
  Add_Rows(rows, seen, general, "");
  Add_Rows(rows, seen, thorough, "YES");
  std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
    return Less_Case_Insensitive(a.Extension, b.Extension);
  });
  return rows;
}

bool Check_For_One_Extension_Selection(const std::vector<ExtensionListRecord>& rows) {
  return std::any_of(rows.begin(), rows.end(), [](const auto& r) { return r.State; });
}

AppliedSelection Apply_Selection(const std::vector<ExtensionListRecord>& rows, const CatalogueList& general,
                                 const CatalogueList& thorough) {
  AppliedSelection out;
  std::set<std::string> unchecked;
  for (const auto& row : rows) {
    if (row.State) {
      out.ticked_types.push_back(row.Extension);
    } else {
      unchecked.insert(row.Extension);
    }
  }
  out.lists = Fill_CheckListHeaders(general, thorough, unchecked);
  return out;
}

}  // namespace tamberlin
