// RIFF files (WAV, AVI, WebP, ...): the length is in the header. OpenDML AVI
// files go on with "RIFF" "AVIX" chunks, which belong to the same file.
// A header whose size or first chunk makes no sense is no RIFF file.
#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

bool Is_Chunk_Id(ItemBytes& bytes, std::uint64_t offset) {
  std::uint8_t id[4] = {};
  if (bytes.Read(offset, id, 4) != 4) return false;
  for (const auto c : id) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

// The end of the RIFF chunk at `offset`, 0 when its header is not one, or
// ItemBytes::npos when it runs past what the item can hold.
std::uint64_t Chunk_End(ItemBytes& bytes, std::uint64_t offset) {
  if (!bytes.Has(offset, 12) || !Is_Chunk_Id(bytes, offset + 8)) return 0;
  const std::uint32_t size = bytes.U32le(offset + 4);
  if (size < 4) return 0;
  const std::uint64_t end = offset + 8 + size;
  if (!bytes.Has(end - 1, 1)) return ItemBytes::npos;
  // The pad byte after an odd size is often left out of the last chunk.
  return (size & 1) != 0 && bytes.Has(end, 1) ? end + 1 : end;
}

}  // namespace

EndFinding Find_Riff_End(ItemBytes& bytes) {
  if (!bytes.Matches(0, "RIFF")) return EndFinding::Not_This_Format("no RIFF header");
  std::uint64_t end = Chunk_End(bytes, 0);
  // Recorders that never finished a file leave its size zero.
  if (end == 0 && bytes.U32le(4) == 0 && Is_Chunk_Id(bytes, 8) && Is_Chunk_Id(bytes, 12)) {
    return EndFinding::Unknown("RIFF size not stated");
  }
  if (end == 0) return EndFinding::Not_This_Format("bad RIFF size or form type");
  // The form's first chunk: a printable id and a size inside the form.
  if (bytes.U32le(4) > 4 && (!Is_Chunk_Id(bytes, 12) || bytes.U32le(16) > bytes.U32le(4) - 12)) {
    return EndFinding::Not_This_Format("first chunk of the form is not a chunk");
  }
  if (end == ItemBytes::npos) return EndFinding::Unknown("RIFF size runs past the limit");
  if (!bytes.Matches(8, "AVI ")) return EndFinding::Found(end);

  // Each AVIX chunk is at least 12 bytes, so the walk always advances.
  while (bytes.Matches(end, "RIFF") && bytes.Matches(end + 8, "AVIX")) {
    const std::uint64_t next = Chunk_End(bytes, end);
    if (next == 0) break;
    if (next == ItemBytes::npos) return EndFinding::Unknown("AVIX chunk runs past the limit");
    end = next;
  }
  return EndFinding::Found(end);
}

}  // namespace tamberlin::recovery
