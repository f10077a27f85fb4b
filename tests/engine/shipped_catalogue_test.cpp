// Checks on the catalogue files that ship in the data folder: that they load
// into whole, well-formed records, that each record can actually be reached by
// the sector test, and that each general list covers the types users expect.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "catalogue.h"
#include "engine/data_dir.h"
#include "header_index.h"

namespace tamberlin {
namespace {

using testing::Data_Dir;

// Reads a shipped file, failing the calling test when the data folder or the
// file is missing.
::testing::AssertionResult Read_Shipped(const char* name, std::string* text) {
  const auto dir = Data_Dir();
  if (dir.empty()) {
    return ::testing::AssertionFailure()
           << "no data folder found; set TAMBERLIN_DATA_DIR";
  }
  std::ifstream in(dir / name, std::ios::binary);
  if (!in) return ::testing::AssertionFailure() << "cannot read " << (dir / name).string();
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *text = buffer.str();
  if (text->empty()) return ::testing::AssertionFailure() << name << " is empty";
  return ::testing::AssertionSuccess();
}

bool All_Of(const std::string& s, int (*pred)(int)) {
  return !s.empty() &&
         std::all_of(s.begin(), s.end(), [pred](char c) { return pred(static_cast<unsigned char>(c)) != 0; });
}

int Is_Upper_Alnum(int c) { return (std::isupper(c) != 0 || std::isdigit(c) != 0) ? 1 : 0; }
int Is_Upper_Hex(int c) { return (std::isdigit(c) != 0 || (c >= 'A' && c <= 'F')) ? 1 : 0; }
int Is_Lower_Alnum(int c) { return (std::islower(c) != 0 || std::isdigit(c) != 0) ? 1 : 0; }

std::vector<std::string> Types_Of(const StringList& list) {
  std::vector<std::string> out;
  for (std::size_t r = 0; r < Record_Count(list); ++r) out.push_back(list[r * kRecordWidth]);
  return out;
}

struct ShippedFile {
  const char* name;
  // The photo scan names an item after the first matching record only; the
  // raw scan also opens every record of the match's family.
  bool first_match_only;
  std::size_t min_types;
  std::vector<std::string> must_have;
};

void PrintTo(const ShippedFile& f, std::ostream* os) { *os << f.name; }

class ShippedCatalogue : public ::testing::TestWithParam<ShippedFile> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Read_Shipped(GetParam().name, &text_));
    list_ = Parse_Catalogue_Text(text_);
  }
  std::string text_;
  StringList list_;
};

// The loader silently drops a trailing partial group and shifts every later
// record when a line loses its colon, so the source text is checked line by
// line: six keyed lines per group, the signature on the third, and no full
// stop except the one in front of the extension.
TEST_P(ShippedCatalogue, SourceLinesFormWholeGroups) {
  std::istringstream in(text_);
  std::string line;
  std::size_t line_no = 0;
  std::size_t accepted = 0;
  while (std::getline(in, line)) {
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto colon = line.find(':');
    if (colon == std::string::npos) {
      EXPECT_TRUE(line.empty() || line[0] == '#')
          << "line " << line_no << " is neither blank, a # comment nor a keyed line: " << line;
      continue;
    }
    const std::string key = line.substr(0, colon + 1);
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(" \t"));
    value.erase(value.find_last_not_of(" \t") + 1);
    const std::size_t slot = accepted++ % 6;
    if (slot == 0) {
      EXPECT_TRUE(value.size() >= 2 && value[0] == '.' && All_Of(value.substr(1), Is_Lower_Alnum))
          << "line " << line_no << ": a group must open with an extension like .jpg, got " << line;
    } else {
      EXPECT_EQ(value.find('.'), std::string::npos)
          << "line " << line_no << ": a full stop would cut the value: " << line;
      EXPECT_FALSE(value.empty()) << "line " << line_no << " has no value";
    }
    if (slot == 2) {
      EXPECT_EQ(key, "Header :") << "line " << line_no << " should hold the signature";
    } else {
      EXPECT_NE(key, "Header :") << "line " << line_no << " is a signature line out of place";
    }
  }
  EXPECT_EQ(accepted % 6, 0u) << "the last group is incomplete and would be dropped";
  EXPECT_EQ(list_.size(), accepted / 6 * kRecordWidth);
  EXPECT_GT(Record_Count(list_), 0u);
}

TEST_P(ShippedCatalogue, EveryRecordIsWellFormed) {
  ASSERT_EQ(list_.size() % kRecordWidth, 0u);
  for (std::size_t r = 0; r < Record_Count(list_); ++r) {
    const std::string* e = &list_[r * kRecordWidth];
    SCOPED_TRACE("record " + std::to_string(r) + " (" + e[0] + " " + e[2] + ")");
    EXPECT_TRUE(All_Of(e[0], Is_Upper_Alnum)) << "type key '" << e[0] << "'";
    EXPECT_TRUE(All_Of(e[1], [](int c) { return std::isdigit(c); })) << "size '" << e[1] << "'";
    const HeaderRecord h = Decode_Record(list_, r);
    EXPECT_GE(h.max_size, kSectorSize) << "a limit below one sector keeps nothing";

    const std::string& sig = e[2];
    ASSERT_TRUE(All_Of(sig, Is_Upper_Hex)) << "signature '" << sig << "'";
    ASSERT_EQ(sig.size() % 2, 0u) << "odd number of digits in '" << sig << "'";
    EXPECT_EQ(e[6], std::to_string(std::stoi(sig.substr(0, 2), nullptr, 16)));

    const std::string& pos = e[3];
    if (pos != "1" && pos != "nn") {
      ASSERT_TRUE(All_Of(pos, [](int c) { return std::isdigit(c); })) << "position '" << pos << "'";
      const long at = std::stol(pos);
      EXPECT_GE(at, 2) << "write position 1 as \"1\"";
      EXPECT_LE(at, 507) << "the sector test never looks past byte 506";
      EXPECT_LE(static_cast<std::size_t>(at - 1) + sig.size() / 2, kSectorSize)
          << "the signature runs past the end of the sector";
    }
    EXPECT_TRUE(e[4] == "-" || (All_Of(e[4], Is_Upper_Hex) && e[4].size() % 2 == 0))
        << "end marker '" << e[4] << "'";
    EXPECT_FALSE(e[5].empty());
  }
}

TEST_P(ShippedCatalogue, NoRecordIsRepeated) {
  std::set<std::string> seen;
  for (std::size_t r = 0; r < Record_Count(list_); ++r) {
    const std::string* e = &list_[r * kRecordWidth];
    EXPECT_TRUE(seen.insert(e[0] + " " + e[2] + " @" + e[3]).second)
        << e[0] << " " << e[2] << " at " << e[3] << " appears twice";
  }
}

// A sector holding exactly one record's signature must be recognised as that
// record's type. This fails when a broader signature earlier in the file
// shadows a specific one (TIFF before the TIFF-based raws, say).
TEST_P(ShippedCatalogue, EveryRecordCanBeReached) {
  const HeaderIndex index(list_);
  for (std::size_t r = 0; r < index.size(); ++r) {
    const HeaderRecord& h = index[r];
    std::array<std::uint8_t, kSectorSize> sector{};
    const std::size_t at = h.position == HeaderRecord::Position::Offset ? static_cast<std::size_t>(h.offset) : 0;
    ASSERT_LE(at + h.signature.size(), sector.size()) << h.type;
    std::copy(h.signature.begin(), h.signature.end(), sector.begin() + static_cast<std::ptrdiff_t>(at));

    const std::size_t found = index.Find(sector.data());
    ASSERT_NE(found, HeaderIndex::npos) << h.type << " " << h.signature_text << " matches nothing";
    if (GetParam().first_match_only) {
      EXPECT_EQ(index[found].type, h.type)
          << h.type << " " << h.signature_text << " is shadowed by " << index[found].type << " "
          << index[found].signature_text;
    } else {
      bool opened = false;
      for (auto m : index.Family(found)) opened = opened || index[m].type == h.type;
      EXPECT_TRUE(opened) << h.type << " " << h.signature_text << " is shadowed by "
                          << index[found].type << " " << index[found].signature_text;
    }
  }
}

// One header opening several candidates gives several items for one file
// (the type of a shared header comes from content at recovery instead), so
// no raw or video record may open another.
TEST_P(ShippedCatalogue, EveryHeaderOpensOneItem) {
  if (GetParam().first_match_only) GTEST_SKIP() << "the photo scan opens one item per header";
  const HeaderIndex index(list_);
  for (std::size_t r = 0; r < index.size(); ++r) {
    for (auto m : index.Family(r)) {
      EXPECT_EQ(m, r) << index[r].type << " " << index[r].signature_text << " also opens " << index[m].type << " "
                      << index[m].signature_text;
    }
  }
}

TEST_P(ShippedCatalogue, CoversTheExpectedTypes) {
  const auto types = Types_Of(list_);
  const std::set<std::string> distinct(types.begin(), types.end());
  EXPECT_GE(distinct.size(), GetParam().min_types);
  for (const auto& t : GetParam().must_have) EXPECT_EQ(distinct.count(t), 1u) << t << " is missing";
}

INSTANTIATE_TEST_SUITE_P(
    Files, ShippedCatalogue,
    ::testing::Values(
        ShippedFile{kPhotoCatalogue, true, 14,
                    {"JPG", "PNG", "GIF", "BMP", "TIF", "PSD", "WEBP", "HEIC", "JP2", "CR2", "CR3", "ORF",
                     "RAF", "RW2"}},
        ShippedFile{kPhotoThoroughCatalogue, true, 5, {"JPG", "TIF", "HEIC"}},
        ShippedFile{kRawCatalogue, false, 35,
                    {"DOC",  "DOCX", "ODT", "PDF",  "RTF", "PS",  "ZIP",
                     "RAR",  "7Z",  "GZ",  "BZ2",  "XZ",   "TAR",  "WAV",  "MP3", "FLAC", "OGG",
                     "MID",  "AIFF", "ELF", "EXE", "CLASS", "SQLITE", "TTF", "OTF", "WOFF", "WOFF2",
                     "EPUB", "XML", "HTML", "PST", "MDB"}},
        ShippedFile{kRawThoroughCatalogue, false, 5, {"EXE", "ZIP"}},
        ShippedFile{kVideoCatalogue, false, 10,
                    {"MP4", "MOV", "M4V", "3GP", "AVI", "MKV", "FLV", "MPG", "WMV"}},
        ShippedFile{kVideoThoroughCatalogue, false, 5, {"MP4", "MOV", "MPG"}}),
    [](const auto& p) {
      std::string n = p.param.name;
      n.erase(std::remove_if(n.begin(), n.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0; }),
              n.end());
      return n;
    });

// The thorough pass runs after the general one over the same sectors: a
// record it shares with the general list would only find every item twice.
struct ModePair {
  const char* general;
  const char* thorough;
};

std::string Mode_Name(std::size_t index) {
  static const char* const kNames[] = {"Photo", "Raw", "Video"};
  return kNames[index];
}

class ShippedPair : public ::testing::TestWithParam<ModePair> {};

TEST_P(ShippedPair, ThoroughListAddsNewSignatures) {
  std::string general_text, thorough_text;
  ASSERT_TRUE(Read_Shipped(GetParam().general, &general_text));
  ASSERT_TRUE(Read_Shipped(GetParam().thorough, &thorough_text));
  const StringList general = Parse_Catalogue_Text(general_text);
  const StringList thorough = Parse_Catalogue_Text(thorough_text);
  std::set<std::string> in_general;
  for (std::size_t r = 0; r < Record_Count(general); ++r) {
    const std::string* e = &general[r * kRecordWidth];
    in_general.insert(e[0] + " " + e[2] + " @" + e[3]);
  }
  for (std::size_t r = 0; r < Record_Count(thorough); ++r) {
    const std::string* e = &thorough[r * kRecordWidth];
    EXPECT_EQ(in_general.count(e[0] + " " + e[2] + " @" + e[3]), 0u)
        << e[0] << " " << e[2] << " at " << e[3] << " is already in " << GetParam().general;
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, ShippedPair,
                         ::testing::Values(ModePair{kPhotoCatalogue, kPhotoThoroughCatalogue},
                                           ModePair{kRawCatalogue, kRawThoroughCatalogue},
                                           ModePair{kVideoCatalogue, kVideoThoroughCatalogue}),
                         [](const auto& p) { return Mode_Name(p.index); });

}  // namespace
}  // namespace tamberlin
