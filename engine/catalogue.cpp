#include "engine/catalogue.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

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

}  // namespace

StringList Parse_Catalogue_Text(std::string_view text) {
  StringList out;
  std::string pending_first_byte;
  std::size_t accepted = 0;
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
      pending_first_byte =
          value.size() >= 2 ? std::to_string(hex2int(value.substr(0, 2))) : std::string();
    }
    out.push_back(Apply_Dot_Rule(value));
    if (++accepted == kLinesPerGroup) {
      out.push_back(std::move(pending_first_byte));
      pending_first_byte.clear();
      accepted = 0;
    }
  }
  // A trailing group of fewer than six lines is no record: drop it so every
  // list holds whole records.
  out.resize(out.size() - accepted);
  return out;
}

StringList Load_Catalogue_File(const std::filesystem::path& path) {
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

const StringList& Catalogue::General(RecoveryMode mode) const {
  switch (mode) {
    case RecoveryMode::Photo: return Ext_Array;
    case RecoveryMode::Video: return Video_Array;
    case RecoveryMode::RawFile: break;
  }
  return RawFile_Array;
}

const StringList& Catalogue::Thorough(RecoveryMode mode) const {
  switch (mode) {
    case RecoveryMode::Photo: return Adv_Ext_Array;
    case RecoveryMode::Video: return Adv_Video_Array;
    case RecoveryMode::RawFile: break;
  }
  return Adv_RawFile_Array;
}

StringList Without_Types(const StringList& list, const std::set<std::string>& unchecked) {
  StringList out;
  out.reserve(list.size());
  for (std::size_t r = 0; r + kRecordWidth <= list.size(); r += kRecordWidth) {
    if (unchecked.count(list[r]) != 0) continue;
    out.insert(out.end(), list.begin() + static_cast<std::ptrdiff_t>(r),
               list.begin() + static_cast<std::ptrdiff_t>(r + kRecordWidth));
  }
  return out;
}

CheckListHeaders Fill_CheckListHeaders(const StringList& general, const StringList& thorough,
                                       const std::set<std::string>& unchecked) {
  return {Without_Types(general, unchecked), Without_Types(thorough, unchecked)};
}

}  // namespace tamberlin
