#include "tools/cli_scan_options.h"

#include <sstream>

#include "tools/cli_args.h"

namespace tamberlin::cli {

std::variant<ScanOptions, std::string> Parse_Scan_Options(const Args& args) {
  const auto parsed = Parse_Args(args, kScanVerb);
  if (const auto* error = std::get_if<std::string>(&parsed)) return *error;
  const ParsedArgs& p = std::get<ParsedArgs>(parsed);
  ScanOptions o;
  if (p.help) {
    o.help = true;
    return o;
  }
  for (const auto& [name, value] : p.options) {
    if (name == "--mode") {
      if (value == "photo") o.mode = RecoveryMode::Photo;
      else if (value == "video") o.mode = RecoveryMode::Video;
      else if (value == "raw") o.mode = RecoveryMode::RawFile;
      else return "unknown mode '" + value + "' (photo, video or raw)";
    } else if (name == "--types") {
      std::vector<std::string> types;
      std::stringstream in(value);
      for (std::string t; std::getline(in, t, ',');) {
        if (!t.empty()) types.push_back(t);
      }
      if (types.empty()) return "--types needs a comma-separated list such as JPG,PNG";
      o.types = std::move(types);
    } else if (name == "--no-thorough") {
      o.thorough = false;
    } else if (name == "--range") {
      o.range = value;
    } else if (name == "--resources") {
      if (value.empty()) return "--resources needs a folder";
      o.resources = value;
    } else if (name == "--quiet") {
      o.quiet = true;
    } else if (name == "--recover") {
      if (value.empty()) return "--recover needs a destination folder";
      o.recover = value;
    } else if (name == "--keep-doubtful") {
      o.keep_doubtful = true;
    }
  }
  if (p.operands.empty() || p.operands.front().empty()) return "no SOURCE given";
  if (p.operands.size() > 1) return "give one SOURCE only";
  if (o.keep_doubtful && !o.recover) return "--keep-doubtful needs --recover DIR";
  o.source = p.operands.front();
  return o;
}

}  // namespace tamberlin::cli
