// Copying a found item's sectors from the medium into its preview file. The
// medium is read through a SectorSource (opened read-only); only the preview
// file is written.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>

#include "engine/sector_source.h"

namespace tamberlin::results {

// "<folder>/dprv.<ext>" with the extension of `item_name` (the text after its
// last "."); "<folder>/dprv" when the name has none. Characters that could
// leave the folder are dropped from the extension.
QString Preview_File_Name(const QString& folder, const QString& item_name);

struct ExtractResult {
  bool file_opened = false;     // the preview file was created
  QString file_error;           // why it could not be created or written
  std::uint64_t sectors_written = 0;
  std::uint64_t unreadable_sectors = 0;  // written as zeros
  bool stopped = false;         // stop_requested said yes before the end
  bool write_failed = false;
};

// Copies sectors [start, end) of `source` into `out_path` (created or
// truncated). A sector that cannot be read is written as 512 zero bytes so
// every later sector keeps its offset. `stop_requested` is asked before every
// sector; `pump`, when given, is called every few thousand sectors so the
// caller can keep its window drawn. An end not above the start gives an
// empty file.
ExtractResult Extract_Sectors(SectorSource& source, std::uint64_t start, std::uint64_t end,
                              const QString& out_path,
                              const std::function<bool()>& stop_requested = {},
                              const std::function<void()>& pump = {});

}  // namespace tamberlin::results
