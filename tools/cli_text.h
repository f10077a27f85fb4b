// Texts the command line writes: CSV fields, the type column, and the
// messages it shares with the window, worded for a terminal.
#pragma once

#include <set>
#include <string>
#include <string_view>

namespace tamberlin::cli {

// `field` as one CSV field: in double quotes, its quotes doubled, when it
// holds a comma, a quote, a CR or an LF; otherwise as it is.
std::string Csv_Field(std::string_view field);

// The type of the item named `name`: the longest of `types` (the catalogue's
// type keys, as in "GND00001.TAR.GZ") the name ends in after a full stop;
// failing that, the text after the name's last full stop.
std::string Type_Of(std::string_view name, const std::set<std::string>& types);

// A message the window shows, with what speaks of the window (its list, its
// buttons, choosing in a dialog) said as a terminal user acts on it. Leading
// line feeds go.
std::string Terminal_Text(std::string text);

}  // namespace tamberlin::cli
