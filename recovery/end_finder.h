// End finders: given a found item's bytes, each says how long the file that
// starts there really is, from the format's own structure. One file per
// format family under formats/; the table in end_finder.cpp maps type keys
// to finders. Finders are pure functions of the bytes; any thread may call.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "recovery/item_bytes.h"

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
  // Unknown only: where the format's own structure stops holding (the end of
  // the last whole part the finder could walk), or 0 when it cannot tell. A
  // file whose end is gone (overwritten, or fragmented) is cut there instead
  // of running on over whatever follows it.
  std::uint64_t structure_end = 0;

  bool found() const { return outcome == EndOutcome::Found; }
  bool not_this_format() const { return outcome == EndOutcome::NotThisFormat; }

  static EndFinding Found(std::uint64_t length) { return {EndOutcome::Found, length, {}}; }
  static EndFinding Unknown(std::string why) { return {EndOutcome::Unknown, 0, std::move(why)}; }
  static EndFinding Unknown_After(std::string why, std::uint64_t structure_end) {
    return {EndOutcome::Unknown, 0, std::move(why), structure_end};
  }
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
// Archives, executables, documents, fonts and text.
EndFinding Find_Sqlite_End(ItemBytes& bytes);
EndFinding Find_Rar_End(ItemBytes& bytes);
EndFinding Find_7z_End(ItemBytes& bytes);
EndFinding Find_Zstd_End(ItemBytes& bytes);
EndFinding Find_Lz4_End(ItemBytes& bytes);
EndFinding Find_Cab_End(ItemBytes& bytes);
EndFinding Find_Deb_End(ItemBytes& bytes);
EndFinding Find_Rpm_End(ItemBytes& bytes);
EndFinding Find_Z_End(ItemBytes& bytes);
EndFinding Find_Lzh_End(ItemBytes& bytes);
EndFinding Find_Arj_End(ItemBytes& bytes);
EndFinding Find_Elf_End(ItemBytes& bytes);
EndFinding Find_Pe_End(ItemBytes& bytes);
EndFinding Find_Class_End(ItemBytes& bytes);
EndFinding Find_Macho_End(ItemBytes& bytes);
EndFinding Find_Sfnt_End(ItemBytes& bytes);
EndFinding Find_Ttc_End(ItemBytes& bytes);
EndFinding Find_Woff_End(ItemBytes& bytes);
EndFinding Find_Pst_End(ItemBytes& bytes);
EndFinding Find_Jet_End(ItemBytes& bytes);
EndFinding Find_One_End(ItemBytes& bytes);
EndFinding Find_Wpd_End(ItemBytes& bytes);
EndFinding Find_Djvu_End(ItemBytes& bytes);
EndFinding Find_Chm_End(ItemBytes& bytes);
EndFinding Find_Mobi_End(ItemBytes& bytes);
EndFinding Find_Kdbx_End(ItemBytes& bytes);
EndFinding Find_Dwg_End(ItemBytes& bytes);
EndFinding Find_Blend_End(ItemBytes& bytes);
EndFinding Find_Torrent_End(ItemBytes& bytes);
EndFinding Find_Vmdk_End(ItemBytes& bytes);
EndFinding Find_Vhd_End(ItemBytes& bytes);
EndFinding Find_Vcf_End(ItemBytes& bytes);
EndFinding Find_Ics_End(ItemBytes& bytes);
EndFinding Find_Xml_End(ItemBytes& bytes);
EndFinding Find_Html_End(ItemBytes& bytes);
EndFinding Find_Svg_End(ItemBytes& bytes);
EndFinding Find_Ps_End(ItemBytes& bytes);
EndFinding Find_Rtf_End(ItemBytes& bytes);
// Pictures, sound and video.
EndFinding Find_Psd_End(ItemBytes& bytes);
EndFinding Find_Crw_End(ItemBytes& bytes);
EndFinding Find_Raf_End(ItemBytes& bytes);
EndFinding Find_Mrw_End(ItemBytes& bytes);
EndFinding Find_X3f_End(ItemBytes& bytes);
EndFinding Find_Jp2_End(ItemBytes& bytes);
EndFinding Find_J2k_End(ItemBytes& bytes);
EndFinding Find_Jxl_End(ItemBytes& bytes);
EndFinding Find_Exr_End(ItemBytes& bytes);
EndFinding Find_Pcx_End(ItemBytes& bytes);
EndFinding Find_Aiff_End(ItemBytes& bytes);
EndFinding Find_Flac_End(ItemBytes& bytes);
EndFinding Find_Midi_End(ItemBytes& bytes);
EndFinding Find_Amr_End(ItemBytes& bytes);
EndFinding Find_Asf_End(ItemBytes& bytes);
EndFinding Find_Au_End(ItemBytes& bytes);
EndFinding Find_Aac_End(ItemBytes& bytes);
EndFinding Find_Wavpack_End(ItemBytes& bytes);
EndFinding Find_Ape_End(ItemBytes& bytes);
EndFinding Find_Flv_End(ItemBytes& bytes);
EndFinding Find_Swf_End(ItemBytes& bytes);
EndFinding Find_Mpeg_Ps_End(ItemBytes& bytes);
EndFinding Find_Mpeg_Video_End(ItemBytes& bytes);
EndFinding Find_Mpeg_Ts_End(ItemBytes& bytes);
EndFinding Find_Realmedia_End(ItemBytes& bytes);
EndFinding Find_Mxf_End(ItemBytes& bytes);
EndFinding Find_Y4m_End(ItemBytes& bytes);
EndFinding Find_Ivf_End(ItemBytes& bytes);
EndFinding Find_Bink_End(ItemBytes& bytes);

}  // namespace tamberlin::recovery
