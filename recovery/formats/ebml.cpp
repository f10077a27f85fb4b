// Matroska and WebM: the EBML header, then the Segment, whose size gives the
// file's end. A walk over the Segment's top-level elements must not cross
// that end, which catches a size field that is too small. A header without
// a Matroska or WebM DocType is not this format.
#include <algorithm>
#include <bit>
#include <optional>
#include <string_view>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint32_t kEbmlId = 0x1A45DFA3, kDocTypeId = 0x4282, kSegmentId = 0x18538067;
constexpr std::uint32_t kVoidId = 0xEC, kCrcId = 0xBF;
constexpr std::uint32_t kTopLevelIds[] = {
    0x114D9B74,  // SeekHead
    0x1549A966,  // Info
    0x1654AE6B,  // Tracks
    0x1F43B675,  // Cluster
    0x1C53BB6B,  // Cues
    0x1941A469,  // Attachments
    0x1043A770,  // Chapters
    0x1254C367,  // Tags
    kVoidId,    kCrcId,
};
constexpr std::uint64_t kMaxHeaderBytes = 64 * 1024;  // real ones are under 100
constexpr int kMaxFillers = 64;                       // Void and CRC elements before the Segment
constexpr int kMaxTopLevelSteps = 1 << 20;

struct Vint {
  std::uint64_t value;  // the marker bit kept for IDs, removed for sizes
  std::uint64_t length;
  bool unknown;  // a size with all its value bits set
};

// An EBML variable-length integer: the count of leading zero bits of the
// first byte gives its length, at most `max_length`.
std::optional<Vint> Read_Vint(ItemBytes& b, std::uint64_t at, int max_length, bool is_id) {
  std::uint8_t raw[8] = {};
  if (b.Read(at, raw, 1) != 1 || raw[0] == 0) return std::nullopt;
  const int length = std::countl_zero(raw[0]) + 1;
  if (length > max_length || b.Read(at + 1, raw + 1, static_cast<std::size_t>(length - 1)) != std::size_t(length - 1)) {
    return std::nullopt;
  }
  std::uint64_t v = is_id ? raw[0] : raw[0] & (0xFFu >> length);
  for (int i = 1; i < length; ++i) v = v << 8 | raw[i];
  const std::uint64_t all_ones = (std::uint64_t{1} << (7 * length)) - 1;
  return Vint{v, static_cast<std::uint64_t>(length), !is_id && v == all_ones};
}

struct Element {
  std::uint32_t id;
  std::uint64_t data;  // offset of its data
  std::uint64_t size;
  bool unknown_size;
};

std::optional<Element> Read_Element(ItemBytes& b, std::uint64_t at) {
  const auto id = Read_Vint(b, at, 4, true);
  if (!id) return std::nullopt;
  const auto size = Read_Vint(b, at + id->length, 8, false);
  if (!size) return std::nullopt;
  return Element{static_cast<std::uint32_t>(id->value), at + id->length + size->length, size->value, size->unknown};
}

bool Is_Top_Level(std::uint32_t id) {
  return std::find(std::begin(kTopLevelIds), std::end(kTopLevelIds), id) != std::end(kTopLevelIds);
}

// Checks the header's children stay inside it and its DocType is one we know.
const char* Check_Header(ItemBytes& b, std::uint64_t from, std::uint64_t to) {
  bool doc_type_seen = false;
  for (std::uint64_t pos = from; pos < to;) {
    const auto child = Read_Element(b, pos);
    if (!child || child->unknown_size || child->size > to - child->data) return "damaged EBML header";
    if (child->id == kDocTypeId) {
      char text[16] = {};
      if (child->size > sizeof text) return "unknown DocType";
      b.Read(child->data, reinterpret_cast<std::uint8_t*>(text), static_cast<std::size_t>(child->size));
      std::string_view doc_type(text, static_cast<std::size_t>(child->size));
      while (!doc_type.empty() && doc_type.back() == '\0') doc_type.remove_suffix(1);
      if (doc_type != "matroska" && doc_type != "webm") return "unknown DocType";
      doc_type_seen = true;
    }
    pos = child->data + child->size;
  }
  return doc_type_seen ? nullptr : "no DocType";
}

}  // namespace

EndFinding Find_Ebml_End(ItemBytes& b) {
  const auto header = Read_Element(b, 0);
  if (!header || header->id != kEbmlId) return EndFinding::Not_This_Format("no EBML header");
  if (header->unknown_size || header->size > kMaxHeaderBytes) {
    return EndFinding::Not_This_Format("implausible EBML header size");
  }
  const std::uint64_t header_end = header->data + header->size;
  if (!b.Has(header->data, header->size)) return EndFinding::Not_This_Format("EBML header cut short");
  if (const char* why = Check_Header(b, header->data, header_end)) return EndFinding::Not_This_Format(why);

  std::uint64_t pos = header_end;
  std::optional<Element> segment;
  for (int fillers = 0;; ++fillers) {
    segment = Read_Element(b, pos);
    if (!segment || fillers > kMaxFillers) return EndFinding::Unknown("no Segment after the EBML header");
    if (segment->id == kSegmentId) break;
    if ((segment->id != kVoidId && segment->id != kCrcId) || segment->unknown_size) {
      return EndFinding::Unknown("no Segment after the EBML header");
    }
    pos = segment->data + segment->size;
  }
  if (segment->unknown_size) return EndFinding::Unknown("segment size unknown");
  if (segment->size == 0) return EndFinding::Unknown("empty segment");
  if (segment->size > b.Limit() || !b.Has(segment->data, segment->size)) {
    return EndFinding::Unknown("segment runs past the limit");
  }
  const std::uint64_t end = segment->data + segment->size;

  // Elements we do not know, or of unknown size, end the check: past them the
  // walk could only guess, and the size field stands.
  pos = segment->data;
  for (int step = 0; step < kMaxTopLevelSteps && pos < end; ++step) {
    const auto child = Read_Element(b, pos);
    if (!child || !Is_Top_Level(child->id)) {
      if (step == 0) return EndFinding::Unknown("segment does not start with a top-level element");
      break;
    }
    if (child->unknown_size) break;
    if (child->data > end || child->size > end - child->data) {
      return EndFinding::Unknown("an element crosses the segment's end");
    }
    pos = child->data + child->size;
  }
  return EndFinding::Found(end);
}

}  // namespace tamberlin::recovery
