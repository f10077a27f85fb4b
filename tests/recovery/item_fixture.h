// Found items in memory for the end-finder tests: a file's bytes, whatever
// follows them on the medium, and the range the scan gave the item.
#pragma once

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "recovery/end_finder.h"
#include "recovery/item_bytes.h"
#include "engine/sector_source.h"

namespace tamberlin::recovery::testing {

// What lies on the medium after the file.
inline QByteArray Zeros(int n) { return QByteArray(n, '\0'); }
inline QByteArray Garbage(int n, unsigned seed = 7) {
  std::mt19937 rng(seed);
  QByteArray out(n, '\0');
  for (auto& c : out) c = static_cast<char>(rng());
  return out;
}

// `vs` as N-byte integers, little-endian (Be: big-endian).
template <int N, bool Big = false, typename... T>
QByteArray Le(T... vs) {
  QByteArray out;
  for (const std::uint64_t v : {static_cast<std::uint64_t>(vs)...})
    for (int i = 0; i < N; ++i) out += static_cast<char>(v >> (8 * (Big ? N - 1 - i : i)));
  return out;
}
template <int N, typename... T>
QByteArray Be(T... vs) { return Le<N, true>(vs...); }

// The medium: `file` at sector 0 followed by `after`, padded with zeros to
// whole sectors; `range` is the scan's range in bytes (0: the whole medium)
// and `limit` the type's maximum (0: the range).
class Item {
 public:
  Item(const QByteArray& file, const QByteArray& after = {}, std::uint64_t range = 0, std::uint64_t limit = 0,
       std::set<std::uint64_t> unreadable = {}) {
    std::vector<std::uint8_t> medium(file.begin(), file.end());
    medium.insert(medium.end(), after.begin(), after.end());
    medium.resize((medium.size() + kSectorSize - 1) / kSectorSize * kSectorSize);
    if (range == 0) range = medium.size();
    source_ = std::make_unique<MemorySectorSource>(std::move(medium), std::move(unreadable));
    bytes_ = std::make_unique<ItemBytes>(*source_, 0, range, limit == 0 ? range : limit);
  }
  ItemBytes& bytes() { return *bytes_; }
  EndFinding Run(EndFinder finder) { return finder(*bytes_); }

 private:
  std::unique_ptr<MemorySectorSource> source_;
  std::unique_ptr<ItemBytes> bytes_;
};

}  // namespace tamberlin::recovery::testing
