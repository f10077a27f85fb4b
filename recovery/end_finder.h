// End finders: given a found item's bytes, each says how long the file that
// starts there really is, from the format's own structure. One file per
// format family under formats/; the table in end_finder.cpp maps type keys
// to finders. Finders are pure functions of the bytes; any thread may call.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "item_bytes.h"

namespace tamberlin::recovery {

// What a finder concluded about the bytes at an item's start.
enum class EndOutcome {
  Found,          // the format states where the file ends: `length`
  Unknown,        // a valid start, but the end is not stated or not reachable
  NotThisFormat,  // the bytes fail the format's own structure checks
};

struct EndFinding {
  EndOutcome outcome = EndOutcome::Unknown;
  std::uint64_t length = 0;  // bytes from the item's first byte, when found
  std::string why;           // when not found: what the check saw, for the report

  bool found() const { return outcome == EndOutcome::Found; }
  bool not_this_format() const { return outcome == EndOutcome::NotThisFormat; }

  static EndFinding Found(std::uint64_t length) { return {EndOutcome::Found, length, {}}; }
  static EndFinding Unknown(std::string why) { return {EndOutcome::Unknown, 0, std::move(why)}; }
  static EndFinding Not_This_Format(std::string why) { return {EndOutcome::NotThisFormat, 0, std::move(why)}; }
};

// A finder reads what it needs through `bytes` and returns Found with a
// length in (0, bytes.Limit()], Unknown with a short reason ("no IEND
// chunk", "size field past the limit") when the start is valid but the end
// cannot be told, or Not_This_Format when the first bytes fail the format's
// structure checks (random data that happens to match the signature). It must
// not assume the item is intact: damaged input gives Unknown or
// Not_This_Format, never a crash or a read loop that does not end.
using EndFinder = EndFinding (*)(ItemBytes& bytes);

// The finder for a catalogue type key ("JPG", "DOCX", "MP4"), or null when
// the format states no end the program can check.
EndFinder Finder_For_Type(std::string_view type);

// For types with only an end marker (the catalogue's element 4): the last
// occurrence of `marker` that ends inside the item's range, or else the
// first one after it up to the limit; the length ends after the marker, and
// after the line ending that follows a marker of printable text.
EndFinding Find_End_Marker(ItemBytes& bytes, std::span<const std::uint8_t> marker);

// The finders, one per format family (formats/*.cpp).
EndFinding Find_Jpeg_End(ItemBytes& bytes);
EndFinding Find_Png_End(ItemBytes& bytes);
EndFinding Find_Gif_End(ItemBytes& bytes);
EndFinding Find_Bmp_End(ItemBytes& bytes);
EndFinding Find_Riff_End(ItemBytes& bytes);
EndFinding Find_Pdf_End(ItemBytes& bytes);
EndFinding Find_Zip_End(ItemBytes& bytes);
EndFinding Find_Isobmff_End(ItemBytes& bytes);
EndFinding Find_Tiff_End(ItemBytes& bytes);
EndFinding Find_Gzip_End(ItemBytes& bytes);
EndFinding Find_Bzip2_End(ItemBytes& bytes);
EndFinding Find_Xz_End(ItemBytes& bytes);
EndFinding Find_Ole2_End(ItemBytes& bytes);
EndFinding Find_Mp3_End(ItemBytes& bytes);
EndFinding Find_Ico_End(ItemBytes& bytes);
EndFinding Find_Tar_End(ItemBytes& bytes);
EndFinding Find_Ogg_End(ItemBytes& bytes);
EndFinding Find_Ebml_End(ItemBytes& bytes);

}  // namespace tamberlin::recovery
