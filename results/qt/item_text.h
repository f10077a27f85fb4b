// What the window says about found items in words: the tooltip of an item
// (type, size, first sector and, for pictures, width x height) and the counts
// under the browsers and in the end-of-scan notice.
#pragma once

#include <QString>

#include "results/qt/found_items.h"

namespace tamberlin::results {

QString Item_Tooltip(const MyImageObject& item);

// "12 items found, 3 selected"; "10 shown of 12 found" when the browser
// leaves repeats out.
QString Count_Text(int shown, int found, int selected);

// For the end-of-scan notice: "12 items were found." and how many of them
// the browser shows when it leaves repeats out.
QString Found_Summary(int shown, int found);

}  // namespace tamberlin::results
