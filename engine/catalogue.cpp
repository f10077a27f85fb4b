#include "engine/catalogue.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>

#include "engine/decimal.h"
#include "engine/hex.h"

namespace tamberlin {
namespace {

bool Is_Space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && Is_Space(s.front())) s.remove_prefix(1);
  while (!s.empty() && Is_Space(s.back())) s.remove_suffix(1);
  return s;
}

// A value holding a full stop keeps only the text after the first one,
// upper-cased (".jpg" and "*.jpg" both give "JPG").
std::string Apply_Dot_Rule(std::string_view value) {
  const auto dot = value.find('.');
  if (dot == std::string_view::npos) return std::string(value);
  std::string out(value.substr(dot + 1));
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : static_cast<char>(c);
  });
  return out;
}

constexpr std::size_t kLinesPerGroup = 6;

// Two hexadecimal digits a byte, as the header tests have always read them: a
// character that is no digit counts as 0, an odd last digit is dropped.
std::vector<std::uint8_t> Hex_Bytes(std::string_view hex) {
  std::vector<std::uint8_t> out;
  out.reserve(hex.size() / 2);
  for (std::size_t k = 0; k + 1 < hex.size(); k += 2) {
    out.push_back(static_cast<std::uint8_t>(hex2int(hex.substr(k, 2))));
  }
  return out;
}

// An end marker is used only when it is whole hexadecimal bytes.
std::vector<std::uint8_t> Marker_Bytes(std::string_view hex) {
  if (hex.size() < 2 || hex.size() % 2 != 0) return {};
  const bool digits = std::all_of(hex.begin(), hex.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
  return digits ? Hex_Bytes(hex) : std::vector<std::uint8_t>();
}

std::string Hex_Text(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const std::uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

}  // namespace

CatalogueRecord Make_Record(std::string_view key, std::string_view size, std::string_view signature,
                            std::string_view position, std::string_view end_marker, std::string_view description,
                            std::optional<std::uint8_t> first_byte) {
  CatalogueRecord r;
  r.key = std::string(key);
  r.size_limit = Leading_Decimal(size);
  r.signature_hex = std::string(signature);
  r.signature = Hex_Bytes(signature);
  if (position == "1") {
    r.position = CatalogueRecord::Position::Start;
  } else if (position == "nn") {
    r.position = CatalogueRecord::Position::Run;
  } else {
    r.position = CatalogueRecord::Position::Offset;
    r.offset = Leading_Decimal(position);
  }
  r.end_marker = Marker_Bytes(end_marker);
  r.description = std::string(description);
  r.first_byte = first_byte;
  return r;
}

std::vector<std::string> Record_Texts(const CatalogueRecord& r) {
  using P = CatalogueRecord::Position;
  return {r.key,
          std::to_string(r.size_limit),
          r.signature_hex,
          r.position == P::Start ? "1" : r.position == P::Run ? "nn" : std::to_string(r.offset),
          r.end_marker.empty() ? "-" : Hex_Text(r.end_marker),
          r.description,
          r.first_byte ? std::to_string(*r.first_byte) : std::string()};
}

CatalogueList Parse_Catalogue_Text(std::string_view text) {
  CatalogueList out;
  std::vector<std::string> values;
  std::optional<std::uint8_t> first_byte;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    auto end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;

    const auto colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view key = line.substr(0, colon + 1);
    const std::string_view value = Trim(line.substr(colon + 1));
    if (key == "Header :") {
      first_byte.reset();
      if (value.size() >= 2) first_byte = static_cast<std::uint8_t>(hex2int(value.substr(0, 2)));
    }
    values.push_back(Apply_Dot_Rule(value));
    if (values.size() == kLinesPerGroup) {
      out.push_back(Make_Record(values[0], values[1], values[2], values[3], values[4], values[5], first_byte));
      values.clear();
      first_byte.reset();
    }
  }
  // A trailing group of fewer than six lines is no record.
  return out;
}

CatalogueList Load_Catalogue_File(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) return {};
  return Parse_Catalogue_Text(buffer.str());
}

Catalogue Catalogue::Load(const std::filesystem::path& data_dir) {
  Catalogue c;
  c.Ext_Array = Load_Catalogue_File(data_dir / kPhotoCatalogue);
  c.Adv_Ext_Array = Load_Catalogue_File(data_dir / kPhotoThoroughCatalogue);
  c.RawFile_Array = Load_Catalogue_File(data_dir / kRawCatalogue);
  c.Adv_RawFile_Array = Load_Catalogue_File(data_dir / kRawThoroughCatalogue);
  c.Video_Array = Load_Catalogue_File(data_dir / kVideoCatalogue);
  c.Adv_Video_Array = Load_Catalogue_File(data_dir / kVideoThoroughCatalogue);
  return c;
}

const CatalogueList& Catalogue::General(RecoveryMode mode) const {
  switch (mode) {
    case RecoveryMode::Photo: return Ext_Array;
    case RecoveryMode::Video: return Video_Array;
    case RecoveryMode::RawFile: break;
  }
  return RawFile_Array;
}

const CatalogueList& Catalogue::Thorough(RecoveryMode mode) const {
  switch (mode) {
    case RecoveryMode::Photo: return Adv_Ext_Array;
    case RecoveryMode::Video: return Adv_Video_Array;
    case RecoveryMode::RawFile: break;
  }
  return Adv_RawFile_Array;
}

const CatalogueRecord* Find_Record(std::string_view key, const CatalogueList& general,
                                   const CatalogueList& thorough) {
  for (const CatalogueList* list : {&general, &thorough}) {
    for (const CatalogueRecord& r : *list) {
      if (r.key == key) return &r;
    }
  }
  return nullptr;
}

CatalogueList Without_Types(const CatalogueList& list, const std::set<std::string>& unchecked) {
  CatalogueList out;
  out.reserve(list.size());
  for (const CatalogueRecord& r : list) {
    if (unchecked.count(r.key) == 0) out.push_back(r);
  }
  return out;
}

CheckListHeaders Fill_CheckListHeaders(const CatalogueList& general, const CatalogueList& thorough,
                                       const std::set<std::string>& unchecked) {
  return {Without_Types(general, unchecked), Without_Types(thorough, unchecked)};
}

}  // namespace tamberlin
