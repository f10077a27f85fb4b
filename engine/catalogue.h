// The signature catalogue: six flat lists of seven-string records loaded from
// the text files in the data folder, and the working lists filtered by the
// user's choice of types. Owned by the window (or the command-line front end);
// filled on the UI thread before a scan and only read while one runs.
#pragma once

#include <cstddef>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace tamberlin {

// A flat list of strings in which record r occupies elements 7r to 7r+6:
// 0 type key, 1 maximum size, 2 signature (hex), 3 position ("1", "nn" or a
// 1-based byte offset), 4 end marker (hex or "-", not read by the scans),
// 5 description, 6 first signature byte in decimal ("" when the group had no
// "Header :" line).
using StringList = std::vector<std::string>;
inline constexpr std::size_t kRecordWidth = 7;

inline std::size_t Record_Count(const StringList& list) { return list.size() / kRecordWidth; }

// Parses one catalogue text. Lines split at LF only; a line counts only when
// it holds a colon; values are trimmed; the "Header :" line sets the record's
// first-byte element; a value holding a full stop becomes the upper-cased text
// after its first full stop. A trailing group of fewer than six lines is
// dropped, so the result always holds whole records.
StringList Parse_Catalogue_Text(std::string_view text);

// Reads and parses a catalogue file; a missing or unreadable file gives an
// empty list and no message.
StringList Load_Catalogue_File(const std::filesystem::path& path);

enum class RecoveryMode : int { Photo = 0, Video = 1, RawFile = 2 };

// The file names of the catalogue, relative to the data folder.
inline constexpr const char* kPhotoCatalogue = "USBExt2.dll";
inline constexpr const char* kPhotoThoroughCatalogue = "USBExt2Adv.dll";
inline constexpr const char* kRawCatalogue = "USBRaw.dll";
inline constexpr const char* kRawThoroughCatalogue = "USBRawAdv.dll";
inline constexpr const char* kVideoCatalogue = "USBVideo.dll";
inline constexpr const char* kVideoThoroughCatalogue = "USBVideoAdv.dll";

struct Catalogue {
  StringList Ext_Array;          // photo, general pass
  StringList Adv_Ext_Array;      // photo, thorough pass
  StringList Video_Array;        // video, general pass
  StringList Adv_Video_Array;    // video, thorough pass
  StringList RawFile_Array;      // raw file, general pass
  StringList Adv_RawFile_Array;  // raw file, thorough pass

  // Loads every list from the files in `data_dir`; missing files leave
  // their list empty.
  static Catalogue Load(const std::filesystem::path& data_dir);

  const StringList& General(RecoveryMode mode) const;
  const StringList& Thorough(RecoveryMode mode) const;
};

// The working header lists of a video or raw scan: copies of the mode's
// general and thorough lists without the records whose type key is in
// `unchecked`. Record order is kept.
struct CheckListHeaders {
  StringList CheckListHeader_Array;
  StringList CheckListHeader_Adv_Array;
};
StringList Without_Types(const StringList& list, const std::set<std::string>& unchecked);
CheckListHeaders Fill_CheckListHeaders(const StringList& general, const StringList& thorough,
                                       const std::set<std::string>& unchecked);

}  // namespace tamberlin
