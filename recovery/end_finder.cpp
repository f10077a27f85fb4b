#include "recovery/end_finder.h"

#include <utility>

namespace tamberlin::recovery {

namespace {

// Type keys as the catalogue names them (the extension, upper case).
constexpr std::pair<std::string_view, EndFinder> kFinders[] = {
    {"JPG", Find_Jpeg_End},   {"JPEG", Find_Jpeg_End},  {"PNG", Find_Png_End},     {"GIF", Find_Gif_End},
    {"BMP", Find_Bmp_End},    {"WAV", Find_Riff_End},   {"AVI", Find_Riff_End},    {"WEBP", Find_Riff_End},
    {"PDF", Find_Pdf_End},    {"ZIP", Find_Zip_End},    {"DOCX", Find_Zip_End},    {"XLSX", Find_Zip_End},
    {"PPTX", Find_Zip_End},   {"ODT", Find_Zip_End},    {"ODS", Find_Zip_End},     {"ODP", Find_Zip_End},
    {"EPUB", Find_Zip_End},   {"JAR", Find_Zip_End},    {"MP4", Find_Isobmff_End}, {"MOV", Find_Isobmff_End},
    {"3GP", Find_Isobmff_End}, {"3G2", Find_Isobmff_End}, {"M4V", Find_Isobmff_End}, {"M4A", Find_Isobmff_End},
    {"F4V", Find_Isobmff_End}, {"TIF", Find_Tiff_End},  {"TIFF", Find_Tiff_End},   {"DNG", Find_Tiff_End},
    {"NEF", Find_Tiff_End},   {"CR2", Find_Tiff_End},   {"GZ", Find_Gzip_End},     {"BZ2", Find_Bzip2_End},
    {"XZ", Find_Xz_End},      {"DOC", Find_Ole2_End},   {"XLS", Find_Ole2_End},    {"PPT", Find_Ole2_End},
    {"MSI", Find_Ole2_End},   {"MSG", Find_Ole2_End},   {"VSD", Find_Ole2_End},    {"MP3", Find_Mp3_End},
    {"HEIC", Find_Isobmff_End}, {"AVIF", Find_Isobmff_End}, {"CR3", Find_Isobmff_End},
    {"ICO", Find_Ico_End},    {"CUR", Find_Ico_End},    {"TAR", Find_Tar_End},     {"OGG", Find_Ogg_End},
    {"OGV", Find_Ogg_End},    {"OGA", Find_Ogg_End},    {"OPUS", Find_Ogg_End},    {"SPX", Find_Ogg_End},
    {"MKV", Find_Ebml_End},   {"WEBM", Find_Ebml_End},  {"MKA", Find_Ebml_End},    {"MK3D", Find_Ebml_End},
    // pictures, sound and video
    {"PSD", Find_Psd_End},    {"PSB", Find_Psd_End},    {"CRW", Find_Crw_End},     {"ORF", Find_Tiff_End},
    {"RW2", Find_Tiff_End},   {"RAF", Find_Raf_End},    {"MRW", Find_Mrw_End},     {"X3F", Find_X3f_End},
    {"JP2", Find_Jp2_End},    {"J2K", Find_J2k_End},    {"JXL", Find_Jxl_End},     {"EXR", Find_Exr_End},
    {"PCX", Find_Pcx_End},    {"AIFF", Find_Aiff_End},  {"AIFC", Find_Aiff_End},   {"AIF", Find_Aiff_End},
    {"FLAC", Find_Flac_End},  {"MID", Find_Midi_End},   {"MIDI", Find_Midi_End},   {"AMR", Find_Amr_End},
    {"WMA", Find_Asf_End},    {"WMV", Find_Asf_End},    {"ASF", Find_Asf_End},     {"AU", Find_Au_End},
    {"SND", Find_Au_End},     {"AAC", Find_Aac_End},    {"WV", Find_Wavpack_End},  {"APE", Find_Ape_End},
    {"FLV", Find_Flv_End},    {"SWF", Find_Swf_End},    {"MPG", Find_Mpeg_Ps_End}, {"MPEG", Find_Mpeg_Ps_End},
    {"VOB", Find_Mpeg_Ps_End}, {"M2V", Find_Mpeg_Video_End}, {"TS", Find_Mpeg_Ts_End}, {"RM", Find_Realmedia_End},
    {"RMVB", Find_Realmedia_End}, {"MXF", Find_Mxf_End}, {"Y4M", Find_Y4m_End},    {"IVF", Find_Ivf_End},
    {"BIK", Find_Bink_End},
    // archives, executables, documents, fonts and text
    {"SQLITE", Find_Sqlite_End}, {"RAR", Find_Rar_End},   {"7Z", Find_7z_End},       {"ZST", Find_Zstd_End},
    {"LZ4", Find_Lz4_End},    {"CAB", Find_Cab_End},    {"DEB", Find_Deb_End},     {"RPM", Find_Rpm_End},
    {"Z", Find_Z_End},        {"LZH", Find_Lzh_End},    {"ARJ", Find_Arj_End},     {"ELF", Find_Elf_End},
    {"EXE", Find_Pe_End},     {"DLL", Find_Pe_End},     {"CLASS", Find_Class_End}, {"MACHO", Find_Macho_End},
    {"TTF", Find_Sfnt_End},   {"OTF", Find_Sfnt_End},   {"TTC", Find_Ttc_End},     {"WOFF", Find_Woff_End},
    {"WOFF2", Find_Woff_End}, {"PST", Find_Pst_End},    {"MDB", Find_Jet_End},     {"ACCDB", Find_Jet_End},
    {"ONE", Find_One_End},    {"WPD", Find_Wpd_End},    {"DJVU", Find_Djvu_End},   {"CHM", Find_Chm_End},
    {"MOBI", Find_Mobi_End},  {"KDBX", Find_Kdbx_End},  {"DWG", Find_Dwg_End},     {"BLEND", Find_Blend_End},
    {"TORRENT", Find_Torrent_End}, {"VMDK", Find_Vmdk_End}, {"VHD", Find_Vhd_End}, {"VCF", Find_Vcf_End},
    {"ICS", Find_Ics_End},    {"XML", Find_Xml_End},    {"HTML", Find_Html_End},   {"SVG", Find_Svg_End},
    {"EPS", Find_Ps_End},     {"PS", Find_Ps_End},      {"RTF", Find_Rtf_End},
};

}  // namespace

EndFinder Finder_For_Type(std::string_view type) {
  for (const auto& [key, finder] : kFinders) {
    if (key == type) return finder;
  }
  return nullptr;
}

namespace {

// A text marker ("}" of RTF) ends a line: the line ending after it belongs
// to the file. Binary markers end where they end.
std::uint64_t With_Line_End(ItemBytes& bytes, std::span<const std::uint8_t> marker, std::uint64_t end) {
  for (const std::uint8_t b : marker) {
    if (b < 0x20 || b > 0x7E) return end;
  }
  std::uint8_t next[2] = {};
  const std::size_t got = bytes.Read(end, next, 2);
  if (got >= 1 && next[0] == '\n') return end + 1;
  if (got >= 1 && next[0] == '\r') return end + ((got == 2 && next[1] == '\n') ? 2 : 1);
  return end;
}

}  // namespace

EndFinding Find_End_Marker(ItemBytes& bytes, std::span<const std::uint8_t> marker) {
  if (marker.empty()) return EndFinding::Unknown("no end marker for this type");
  const std::uint64_t range = bytes.Range();
  const std::uint64_t in_range =
      range >= marker.size() ? bytes.Find_Last(marker, 1, range - marker.size() + 1) : ItemBytes::npos;
  if (in_range != ItemBytes::npos) return EndFinding::Found(With_Line_End(bytes, marker, in_range + marker.size()));
  const std::uint64_t from = range >= marker.size() ? range - marker.size() + 1 : 1;
  const std::uint64_t after = bytes.Find(marker, from, bytes.Limit());
  if (after != ItemBytes::npos) return EndFinding::Found(With_Line_End(bytes, marker, after + marker.size()));
  return EndFinding::Unknown("end marker not found before the type's maximum size");
}

}  // namespace tamberlin::recovery
