// Per-type summary rows of a video or raw scan, which double as the counters
// that number the next item of each type. The window owns one list; the scan
// thread counts into it while the UI thread reads it for the summary table.
// Every operation takes the list's own lock, so a name made from a count
// always sees every count recorded before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/naming.h"

namespace tamberlin {

// One summary row.
struct SignatureListRecord {
  std::string FileTypes;
  std::uint64_t NoOfFile = 0;
  std::string FileName;
  std::string FilePath;
  std::string FileTypes_Hidden;

  // The text under a column identifier ("FileTypes", "NoOfFile" in decimal,
  // ...); nothing for an unknown identifier.
  std::optional<std::string> Value(std::string_view key) const;
};

class SignatureList final : public TypeCounts {
 public:
  // Appends a row.
  void createSignatureListTableRecord(std::string_view file_types, std::uint64_t no_of_file,
                                      std::string_view file_name, std::string_view file_path,
                                      std::string_view file_types_hidden);
  void Clear();

  // Counts one item by its name: the text after the last "." picks the first
  // row with that key, which is replaced by a row with the count raised by
  // one and the name as file name and path. Returns false when no row has
  // that key (nothing changes). The name must already be trimmed.
  bool Count_Item(std::string_view item_name);

  std::optional<std::uint64_t> NoOfFile(std::string_view type) const override;

  std::size_t size() const;
  // A copy of row `row`, or nothing when the row is outside the list.
  std::optional<SignatureListRecord> At(std::size_t row) const;
  std::vector<SignatureListRecord> Snapshot() const;
  // Raised by every change; lets a view reload only when something changed.
  std::uint64_t Revision() const;

 private:
  mutable std::mutex mutex_;
  std::vector<SignatureListRecord> rows_;
  std::uint64_t revision_ = 0;
};

}  // namespace tamberlin
