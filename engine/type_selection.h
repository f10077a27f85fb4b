// The file type list of video and raw-file mode and how the user's choice
// becomes the scan's working header lists. Pure functions over values the
// UI thread owns; the scan only ever sees the filtered lists.
#pragma once

#include <string>
#include <vector>

#include "engine/catalogue.h"

namespace tamberlin {

struct ExtensionListRecord {
  std::string Extension;
  std::string Description;
  std::string Thoro;  // "" for a general type, "YES" for a type only the thorough list has
  bool State = true;  // checked: search for this type
};

// One row per type of the general list, then per type only the thorough list
// has (duplicates compared case-sensitively; the first record's description
// wins), all checked, sorted case-insensitively by extension (stable).
std::vector<ExtensionListRecord> Build_Extension_List(const CatalogueList& general, const CatalogueList& thorough);

// True when at least one row is checked.
bool Check_For_One_Extension_Selection(const std::vector<ExtensionListRecord>& rows);

struct AppliedSelection {
  CheckListHeaders lists;                 // the working header lists
  std::vector<std::string> ticked_types;  // checked extensions in display order
};

// Copies the mode's lists without the records of unchecked rows and collects
// the checked types, each of which gets a zero-count summary row.
AppliedSelection Apply_Selection(const std::vector<ExtensionListRecord>& rows, const CatalogueList& general,
                                 const CatalogueList& thorough);

}  // namespace tamberlin
