#include "results/summary_records.h"

namespace tamberlin {

std::optional<std::string> SignatureListRecord::Value(std::string_view key) const {
  if (key == "FileTypes") return FileTypes;
  if (key == "NoOfFile") return std::to_string(NoOfFile);
  if (key == "FileName") return FileName;
  if (key == "FilePath") return FilePath;
  if (key == "FileTypes_Hidden") return FileTypes_Hidden;
  return std::nullopt;
}

void SignatureList::createSignatureListTableRecord(std::string_view file_types,
                                                   std::uint64_t no_of_file,
                                                   std::string_view file_name,
                                                   std::string_view file_path,
                                                   std::string_view file_types_hidden) {
  std::lock_guard lock(mutex_);
  rows_.push_back({std::string(file_types), no_of_file, std::string(file_name),
                   std::string(file_path), std::string(file_types_hidden)});
  ++revision_;
}

void SignatureList::Clear() {
  std::lock_guard lock(mutex_);
  rows_.clear();
  ++revision_;
}

bool SignatureList::Count_Item(std::string_view item_name) {
  const auto dot = item_name.rfind('.');
  // A name without a full stop has no extension; it matches a row keyed "".
  const std::string ext(dot == std::string_view::npos ? std::string_view() : item_name.substr(dot + 1));
  std::lock_guard lock(mutex_);
  auto count = [&](SignatureListRecord& row) {
    const std::string name(item_name);
    row = {row.FileTypes_Hidden, row.NoOfFile + 1, name, name, row.FileTypes_Hidden};
    ++revision_;
    return true;
  };
  for (auto& row : rows_) {
    if (row.FileTypes_Hidden == ext) return count(row);
  }
  // A type with a full stop of its own ("B.C") is not the text after the
  // last one: without this its items were never counted, and every one was
  // named as the first of its type. The longest such type the name ends in.
  SignatureListRecord* longest = nullptr;
  for (auto& row : rows_) {
    const std::string& key = row.FileTypes_Hidden;
    if (key.find('.') == std::string::npos || item_name.size() <= key.size() || !item_name.ends_with(key) ||
        item_name[item_name.size() - key.size() - 1] != '.') {
      continue;
    }
    if (longest == nullptr || key.size() > longest->FileTypes_Hidden.size()) longest = &row;
  }
  return longest != nullptr && count(*longest);
}

std::optional<std::uint64_t> SignatureList::NoOfFile(std::string_view type) const {
  std::lock_guard lock(mutex_);
  for (const auto& row : rows_) {
    if (row.FileTypes_Hidden == type) return row.NoOfFile;
  }
  return std::nullopt;
}

std::size_t SignatureList::size() const {
  std::lock_guard lock(mutex_);
  return rows_.size();
}

std::optional<SignatureListRecord> SignatureList::At(std::size_t row) const {
  std::lock_guard lock(mutex_);
  if (row >= rows_.size()) return std::nullopt;
  return rows_[row];
}

std::vector<SignatureListRecord> SignatureList::Snapshot() const {
  std::lock_guard lock(mutex_);
  return rows_;
}

std::uint64_t SignatureList::Revision() const {
  std::lock_guard lock(mutex_);
  return revision_;
}

}  // namespace tamberlin
