// Every shipped catalogue signature planted in random bytes, which its type's
// checks must reject, soon.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iostream>
#include <set>
#include <sstream>
#include <string>

#include "engine/catalogue.h"
#include "recovery/format_samples.h"

namespace tamberlin::recovery {
namespace {

// Random bytes that happen to carry a catalogue signature: for every record of
// the six shipped catalogue files, the record's signature planted at its
// position inside eight random sectors must fail its type's structure checks,
// and soon. A finder that says Found or Unknown there would have the recovery
// write junk; one that reads on through the medium would stall the recovery.
constexpr int kVariations = 10000;
constexpr std::size_t kSectors = 8;

// Fast, seeded and the same on every run.
struct SplitMix {
  std::uint64_t state;
  std::uint64_t Next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
};

// Eight sectors refilled in place for every variation. With `far` set, the
// medium goes on for 1 GiB of random sectors made as they are read, and the
// reads are counted: a finder must give up on random bytes within a few
// blocks, never walk or search on through the medium.
class RandomSectors final : public SectorSource {
 public:
  static constexpr std::uint64_t kFarSectors = std::uint64_t{1} << 21;
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kSectors * kSectorSize);
  bool far = false;
  std::uint64_t far_seed = 0, reads = 0;
  const std::uint8_t* Read_Sector(std::uint64_t sector) override {
    ++reads;
    if (sector < kSectors) return bytes.data() + sector * kSectorSize;
    if (!far || sector >= kFarSectors) return nullptr;
    SplitMix rng{far_seed ^ (sector << 20)};
    for (std::size_t i = 0; i < kSectorSize; i += 8) {
      const std::uint64_t r = rng.Next();
      for (std::size_t k = 0; k < 8; ++k) far_sector_[i + k] = static_cast<std::uint8_t>(r >> (8 * k));
    }
    return far_sector_.data();
  }
  std::uint64_t Sector_Count() override { return far ? kFarSectors : kSectors; }

 private:
  std::vector<std::uint8_t> far_sector_ = std::vector<std::uint8_t>(kSectorSize);
};

struct Tally {
  int found = 0, unknown = 0;
  std::uint64_t most_reads = 0;  // over the variations on the long medium
  std::string sample;  // one reason a false accept gave
};

// All variations of one record; the first kFarVariations on the long medium.
Tally Run_Record(EndFinder finder, const std::vector<std::uint8_t>& signature, std::size_t at,
                 std::uint64_t max_size, std::uint64_t seed) {
  constexpr int kFarVariations = 20;
  RandomSectors medium;
  SplitMix rng{seed};
  Tally t;
  for (int v = 0; v < kVariations; ++v) {
    for (std::size_t i = 0; i < medium.bytes.size(); i += 8) {
      const std::uint64_t r = rng.Next();
      for (std::size_t k = 0; k < 8; ++k) medium.bytes[i + k] = static_cast<std::uint8_t>(r >> (8 * k));
    }
    std::copy(signature.begin(), signature.end(), medium.bytes.begin() + static_cast<std::ptrdiff_t>(at));
    medium.far = v < kFarVariations;
    medium.far_seed = rng.Next();
    medium.reads = 0;
    const std::uint64_t end = medium.Sector_Count() * kSectorSize;
    ItemBytes bytes(medium, 0, medium.bytes.size(), medium.far ? end : std::max<std::uint64_t>(max_size, end));
    const EndFinding f = finder(bytes);
    if (medium.far) t.most_reads = std::max(t.most_reads, medium.reads);
    if (f.not_this_format()) continue;
    (f.found() ? t.found : t.unknown) += 1;
    if (t.sample.empty()) t.sample = f.found() ? "found " + std::to_string(f.length) + " bytes" : f.why;
  }
  return t;
}

std::filesystem::path Resources() { return TAMBERLIN_SOURCE_RESOURCES; }

TEST(NotThisFormatTest, RandomBytesBehindEveryCatalogueSignatureAreRejected) {
  const char* files[] = {kPhotoCatalogue, kPhotoThoroughCatalogue, kRawCatalogue,
                         kRawThoroughCatalogue, kVideoCatalogue, kVideoThoroughCatalogue};
  std::set<std::string> without_finder;
  int records = 0;
  for (const char* file : files) {
    const CatalogueList list = Load_Catalogue_File(Resources() / file);
    ASSERT_GT(list.size(), 0u) << "cannot load " << (Resources() / file).string();
    for (std::size_t r = 0; r < list.size(); ++r) {
      const std::string& key = list[r].key;
      const auto& signature = list[r].signature;
      const std::size_t at =
          list[r].position == CatalogueRecord::Position::Offset ? static_cast<std::size_t>(list[r].offset - 1) : 0;
      ASSERT_LE(at + signature.size(), kSectors * kSectorSize) << key;
      ++records;
      const EndFinder finder = Finder_For_Type(key);
      if (finder == nullptr) {
        without_finder.insert(key);
        continue;
      }
      const Tally t = Run_Record(finder, signature, at, list[r].size_limit,
                                 std::hash<std::string>{}(std::string(file) + key) + r);
      EXPECT_TRUE(t.found == 0 && t.unknown == 0) << file << " " << key << " at byte " << at << ": " << t.found << " found, " << t.unknown
                         << " unknown of " << kVariations << " (" << t.sample << ")";
      EXPECT_LE(t.most_reads, 8u * 128) << file << " " << key << ": more than eight 64 KiB blocks read";
    }
  }
  std::cout << records << " records, " << kVariations << " variations each\n";
  std::ostringstream keys;
  for (const auto& k : without_finder) keys << ' ' << k;
  EXPECT_TRUE(without_finder.empty()) << "types without a finder:" << keys.str();
}

}  // namespace
}  // namespace tamberlin::recovery
