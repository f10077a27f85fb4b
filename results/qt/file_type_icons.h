// File-type icons by file name: the shared MIME database names the type, the
// icon theme draws it. Without a usable theme the program's own plain
// document icon stands in, so an item always has an icon. UI thread only
// (icon themes are not thread-safe).
#pragma once

#include <QIcon>
#include <QString>

namespace tamberlin::results {

// Points Qt at the system icon folders and picks "Adwaita" when no real
// theme is set (offscreen, bare window managers). Idempotent.
void Ensure_Icon_Theme();

// The icon for a file named `file_name`, by its extension only (the file need
// not exist). Cached per extension.
QIcon File_Type_Icon(const QString& file_name);

// The built-in document icon used when the theme has nothing.
QIcon Fallback_File_Icon();

}  // namespace tamberlin::results
