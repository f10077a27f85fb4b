// Names and ids of found items ("GND00001.JPG", "DOC00003.DOC").
// Pure functions; the count lookup is whatever TypeCounts the caller passes,
// so they run on the scan thread while the window reads the same counts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/catalogue.h"

namespace tamberlin {

// Per-type item counts as the summary records hold them. Implementations must
// be safe to call from the scan thread while other threads count.
class TypeCounts {
 public:
  virtual ~TypeCounts() = default;
  // The count of the first record whose key equals `type`, or nothing when no
  // record has that key.
  virtual std::optional<std::uint64_t> NoOfFile(std::string_view type) const = 0;
};

// prefix + number padded to five digits (never cut) + "." + extension.
// In video and raw-file mode the number is the count of the summary record
// keyed `prefix` plus one when there is such a record; `counts` may be null.
std::string Generate_File_Name(std::uint64_t number, std::string_view prefix,
                               std::string_view extension, RecoveryMode mode = RecoveryMode::Photo,
                               const TypeCounts* counts = nullptr);

// "THD" (thorough) or "GND" + number padded to five digits + "." + extension.
std::string Generate_File_UID_Num(std::uint64_t number, bool thorough, std::string_view extension);

}  // namespace tamberlin
