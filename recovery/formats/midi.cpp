// Standard MIDI files: the MThd chunk (format, track count, division), then
// chunks; the file ends after the last of the header's MTrk chunks.
#include <string_view>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

EndFinding Find_Midi_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  if (!b.Matches(0, std::string_view("MThd\0\0\0\x06", 8)) || !b.Has(0, 14)) return no("no MThd chunk");
  const std::uint16_t format = b.U16be(8), tracks = b.U16be(10), division = b.U16be(12);
  if (format > 2 || tracks == 0 || (format == 0 && tracks != 1) || division == 0) return no("implausible MThd fields");
  std::uint64_t at = 14;
  for (unsigned seen = 0; seen < tracks;) {
    if (!b.Has(at, 8)) return seen > 0 ? EndFinding::Unknown("tracks past the limit") : no("no track chunk");
    const bool track = b.Matches(at, "MTrk");
    std::uint8_t id[4] = {};
    b.Read(at, id, 4);
    for (const std::uint8_t c : id) {
      if (c < 0x20 || c > 0x7E) return seen > 0 ? EndFinding::Unknown("damaged chunk") : no("chunk id not text");
    }
    if (seen == 0 && !track) return no("first chunk after MThd is not a track");
    at += 8 + std::uint64_t{b.U32be(at + 4)};
    seen += track ? 1 : 0;
  }
  if (at > b.Limit() || !b.Has(at - 1, 1)) return EndFinding::Unknown("last track past the limit");
  return EndFinding::Found(at);
}

}  // namespace tamberlin::recovery
