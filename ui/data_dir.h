// Where the program finds its read-only data and keeps its preview files.
#pragma once

#include <QString>

namespace tamberlin::ui {

// <folder of the executable>/../share/tamberlin: build/bin -> build/share/tamberlin
// in a build tree, prefix/bin -> prefix/share/tamberlin when installed.
QString Data_Dir();

// The per-user cache folder for preview files ("dprv.<ext>"), created when
// missing. An installed data folder is read-only, so previews never go there.
QString Preview_Dir();

}  // namespace tamberlin::ui
