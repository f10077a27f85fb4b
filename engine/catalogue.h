// The signature catalogue: six lists of records loaded from the text files in
// the data folder, and the working lists filtered by the user's choice of
// types. Each record is read once, when its file is parsed; the scans, the
// type list and the recovery only read its fields. Owned by the window (or
// the command-line front end); filled on the UI thread before a scan and only
// read while one runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tamberlin {

// One file type signature.
struct CatalogueRecord {
  // Where the header stands in a sector.
  enum class Position {
    Start,   // "1": at byte 0
    Run,     // "nn": at byte 0, after any leading repeats of its first byte
    Offset,  // a decimal 1-based byte offset (see `offset`)
  };

  std::string key;              // "JPG": the type list, summary and item-name key
  // Largest item in bytes. A negative number in the file wraps to a very large
  // limit, so such an item runs until something else ends it.
  std::uint64_t size_limit = 0;
  std::string signature_hex;    // the header as written, two hexadecimal digits a byte
  std::vector<std::uint8_t> signature;  // those bytes; an odd last digit is dropped
  Position position = Position::Start;
  // Offset: the 1-based byte the header begins at, as written (its leading
  // number; 0 when it has none). Start and Run: 1.
  std::uint64_t offset = 1;
  std::vector<std::uint8_t> end_marker;  // empty for "-" or anything but whole hex bytes
  std::string description;
  // The first byte of the group's "Header :" line; none when the group has no
  // such line (the header tests then want a 0 there).
  std::optional<std::uint8_t> first_byte;

  bool operator==(const CatalogueRecord&) const = default;
};

using CatalogueList = std::vector<CatalogueRecord>;

// A record from the six values of one group of lines, in file order (type,
// size, signature, position, end marker, description), already trimmed and
// through the full-stop rule.
CatalogueRecord Make_Record(std::string_view key, std::string_view size, std::string_view signature,
                            std::string_view position, std::string_view end_marker, std::string_view description,
                            std::optional<std::uint8_t> first_byte);

// The record's values written back as text, as the command line prints them:
// type, size limit, signature, position, end marker ("-" when none),
// description, first byte ("" when none).
std::vector<std::string> Record_Texts(const CatalogueRecord& record);

// Parses one catalogue text. Lines split at LF only; a line counts only when
// it holds a colon; values are trimmed; the "Header :" line gives the record's
// first byte; a value holding a full stop becomes the upper-cased text after
// its first full stop. A trailing group of fewer than six lines is dropped.
CatalogueList Parse_Catalogue_Text(std::string_view text);

// Reads and parses a catalogue file; a missing or unreadable file gives an
// empty list and no message.
CatalogueList Load_Catalogue_File(const std::filesystem::path& path);

enum class RecoveryMode : int { Photo = 0, Video = 1, RawFile = 2 };

// The file names of the catalogue, relative to the data folder.
inline constexpr const char* kPhotoCatalogue = "USBExt2.dll";
inline constexpr const char* kPhotoThoroughCatalogue = "USBExt2Adv.dll";
inline constexpr const char* kRawCatalogue = "USBRaw.dll";
inline constexpr const char* kRawThoroughCatalogue = "USBRawAdv.dll";
inline constexpr const char* kVideoCatalogue = "USBVideo.dll";
inline constexpr const char* kVideoThoroughCatalogue = "USBVideoAdv.dll";

struct Catalogue {
  CatalogueList Ext_Array;          // photo, general pass
  CatalogueList Adv_Ext_Array;      // photo, thorough pass
  CatalogueList Video_Array;        // video, general pass
  CatalogueList Adv_Video_Array;    // video, thorough pass
  CatalogueList RawFile_Array;      // raw file, general pass
  CatalogueList Adv_RawFile_Array;  // raw file, thorough pass

  // Loads every list from the files in `data_dir`; missing files leave
  // their list empty.
  static Catalogue Load(const std::filesystem::path& data_dir);

  const CatalogueList& General(RecoveryMode mode) const;
  const CatalogueList& Thorough(RecoveryMode mode) const;
};

// The first record keyed `key` in `general`, else in `thorough`; none when
// neither has one.
const CatalogueRecord* Find_Record(std::string_view key, const CatalogueList& general,
                                   const CatalogueList& thorough);

// The working header lists of a scan: copies of the mode's general and
// thorough lists without the records whose type key is in `unchecked`.
// Record order is kept.
struct CheckListHeaders {
  CatalogueList CheckListHeader_Array;
  CatalogueList CheckListHeader_Adv_Array;
};
CatalogueList Without_Types(const CatalogueList& list, const std::set<std::string>& unchecked);
CheckListHeaders Fill_CheckListHeaders(const CatalogueList& general, const CatalogueList& thorough,
                                       const std::set<std::string>& unchecked);

}  // namespace tamberlin
