// Recovering found items: each item's real length is worked out by its
// format's end finder, then its bytes are streamed from the medium (read-only)
// into the destination folder under a temporary name, checksummed on the
// way, and renamed to a name no other file has. A report row follows every
// item. Recover_Items runs on a worker thread; the progress atomics and the
// cancel flag are the only things other threads touch while it runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/catalogue.h"
#include "engine/sector_source.h"
#include "recovery/destination.h"

namespace tamberlin::recovery {

// One item as the scan found it.
struct RecoveryItem {
  std::string name;                  // "GND00001.JPG", also the file's name
  std::string type;                  // catalogue key, "JPG"
  std::uint64_t first_sector = 0;
  std::uint64_t end_sector = 0;      // exclusive
  std::uint64_t max_bytes = 0;       // the type's maximum size, 0 when unknown
  std::vector<std::uint8_t> end_marker;  // the type's end marker, empty when none
};

// An item named `name` over sectors [first, end), with its type, maximum
// size and end marker from the first record for that type in `general` or
// else `thorough` (the scan mode's catalogue lists).
RecoveryItem Make_Item(const std::string& name, std::uint64_t first_sector, std::uint64_t end_sector,
                       const CatalogueList& general, const CatalogueList& thorough);

// A found item as a scan hands it over: its name and sectors [first, end).
struct FoundRange {
  std::string name;
  std::uint64_t first_sector = 0;
  std::uint64_t end_sector = 0;
};

// What one recovery is to write, made the same way for the window and the
// command line.
struct RecoveryPlan {
  std::vector<RecoveryItem> items;  // in the order found
  std::uint64_t bytes_needed = 0;   // the items' sectors as found: the free-space estimate
  // Set when the destination's free space is known to be short of that.
  std::optional<DestinationProblem> space_warning;
};

// The plan for writing `found` into `folder`, each item typed from the scan
// mode's catalogue lists (see Make_Item).
RecoveryPlan Plan_Recovery(const std::vector<FoundRange>& found, const CatalogueList& general,
                           const CatalogueList& thorough, const std::filesystem::path& folder);

// What became of an item; End_Text gives the report's word for it.
enum class ItemEnd {
  Trimmed,     // written, cut at the end its format states
  Extended,    // written, longer than the scan's range up to the stated end
  AsFound,     // written as the scan found it: the end could not be told
  Doubtful,    // not its format, written into the "doubtful" subfolder on request
  Duplicate,   // same start and length as a file already written
  Inside,      // lies wholly inside a file already written
  NotWritten,  // not its format, or the recovery stopped before it
};
const char* End_Text(ItemEnd end);  // "trimmed", "extended", "as found", "doubtful", ...

// How much of an item to write, and why.
struct ItemPlan {
  std::uint64_t length = 0;  // bytes from the item's first sector
  // Trimmed, Extended or AsFound; NotWritten when the bytes are not the
  // item's format (the note says why).
  ItemEnd end = ItemEnd::AsFound;
  bool end_checked = false;  // the length comes from the format, not from the scan's range
  std::string type;          // the type the content shows; the item's own when it shows none
  std::string note;          // the end check's outcome, for the report
};
ItemPlan Plan_Item(SectorSource& source, const RecoveryItem& item);

// One report row.
struct RecoveredFile {
  std::string file_name;  // as written, relative to the folder; the item's name when not written
  std::string type;       // the type written as (from content where the header is shared)
  std::uint64_t start_sector = 0;
  std::uint64_t end_sector = 0;  // exclusive: after the written bytes (not written: the item's end)
  std::uint64_t bytes_written = 0;
  ItemEnd kind = ItemEnd::NotWritten;  // the report's word for it is End_Text(kind)
  std::string sha256;            // "" when not written
  std::string note;
  std::uint64_t zero_filled_sectors = 0;  // unreadable sectors written as zeros
};

// Shared with whoever shows progress; written by the worker only, except
// `cancel`, which anyone may set.
struct RecoveryProgress {
  std::atomic<std::uint64_t> items_total{0};
  std::atomic<std::uint64_t> items_done{0};
  std::atomic<std::uint64_t> bytes_written{0};
  std::atomic<bool> cancel{false};
};

// What the user chose for a recovery.
struct RecoveryOptions {
  // Items whose bytes fail their format's checks are not written; with this
  // set they are written into the subfolder "doubtful" instead.
  bool keep_doubtful = false;
};

struct RecoveryOutcome {
  std::vector<RecoveredFile> rows;        // every item handled, in order (the report's rows)
  std::uint64_t files_written = 0;
  std::uint64_t duplicates = 0;           // items with the same bytes as an earlier one: not written again
  std::uint64_t not_this_format = 0;      // items that failed their format's checks (kept or not)
  std::uint64_t inside = 0;               // items lying wholly inside a file already written
  std::uint64_t stale_parts_removed = 0;  // unfinished files of an earlier, stopped recovery, removed
  bool cancelled = false;
  std::optional<std::string> stopped_because;  // e.g. the folder filled up
  std::filesystem::path report_path;      // empty when the report could not be made

  // Rows that ended as `kind`.
  std::uint64_t Count(ItemEnd kind) const;
};

// The file name for the n-th clash of `name` in a folder: "GND00001.JPG",
// then "GND00001-1.JPG", "GND00001-2.JPG"...
std::string Numbered_Name(const std::string& name, unsigned n);

// Recovers `items` in order into `folder` (checked beforehand with
// Check_Destination), writing `folder`/recovery-report.csv (numbered like a
// file when one exists). Unfinished files an earlier, stopped recovery left
// there are removed first (Remove_Stale_Parts). No existing file is ever replaced; a cancelled or
// failed item leaves no file under a final name. An item starting where an
// earlier one did and coming to the same length (both passes find most
// items) is not written twice: its row names the file that holds its bytes;
// nor is one lying wholly inside a file already written (a thumbnail, a zip
// member). Items whose bytes fail their format's checks are not written
// unless `options.keep_doubtful`. When the folder fills up, every item left
// still gets a row, so the report shows what is missing.
RecoveryOutcome Recover_Items(SectorSource& source, const std::vector<RecoveryItem>& items,
                              const std::filesystem::path& folder, RecoveryProgress& progress,
                              const RecoveryOptions& options = {});

}  // namespace tamberlin::recovery
