// What `tamberlin-cli scan` was asked to do, read from its arguments alone:
// nothing here looks at the medium or the catalogue.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "engine/catalogue.h"
#include "tools/cli.h"

namespace tamberlin::cli {

struct ScanOptions {
  bool help = false;  // --help: nothing else was read
  RecoveryMode mode = RecoveryMode::Photo;
  std::optional<std::vector<std::string>> types;  // never empty when given
  bool thorough = true;
  std::optional<std::string> range;  // "START:END" as given
  std::filesystem::path resources;   // empty: the installed data folder
  bool quiet = false;
  std::optional<std::string> recover;  // never empty when given
  bool keep_doubtful = false;
  std::string source;
};

// The options, or what is wrong with the arguments.
std::variant<ScanOptions, std::string> Parse_Scan_Options(const Args& args);

}  // namespace tamberlin::cli
