// tamberlin-cli catalogue: prints the parsed records so a user can check a
// catalogue file they edited.
#include <cstdio>
#include <string>
#include <variant>

#include "engine/catalogue.h"
#include "tools/cli.h"
#include "tools/cli_args.h"

namespace tamberlin::cli {
namespace {

struct ListChoice {
  const char* name;
  const char* file;
};

constexpr ListChoice kLists[] = {
    {"photo", kPhotoCatalogue},       {"photo-thorough", kPhotoThoroughCatalogue},
    {"raw", kRawCatalogue},           {"raw-thorough", kRawThoroughCatalogue},
    {"video", kVideoCatalogue},       {"video-thorough", kVideoThoroughCatalogue},
};

void Print_Records(const CatalogueList& list) {
  for (const CatalogueRecord& r : list) {
    const std::vector<std::string> texts = Record_Texts(r);
    for (std::size_t e = 0; e < texts.size(); ++e) {
      std::fputs(texts[e].c_str(), stdout);
      std::fputc(e + 1 < texts.size() ? '\t' : '\n', stdout);
    }
  }
}

}  // namespace

int Catalogue_Verb(const Args& args) {
  const auto parsed = Parse_Args(args, kCatalogueVerb);
  if (const auto* error = std::get_if<std::string>(&parsed)) {
    std::fprintf(stderr, "tamberlin-cli catalogue: %s\n", error->c_str());
    return 2;
  }
  const ParsedArgs& p = std::get<ParsedArgs>(parsed);
  if (p.help) {
    std::fputs(Verb_Help(kCatalogueVerb).c_str(), stdout);
    return 0;
  }
  std::filesystem::path dir = Default_Data_Dir();
  for (const auto& [name, value] : p.options) {
    if (value.empty()) {
      std::fputs("tamberlin-cli catalogue: --resources needs a folder\n", stderr);
      return 2;
    }
    dir = value;  // --resources, the only option
  }
  if (p.operands.size() > 1) {
    std::fputs("tamberlin-cli catalogue: give at most one list\n", stderr);
    return 2;
  }
  const std::string only = p.operands.empty() ? std::string() : p.operands.front();
  bool known = only.empty();
  for (const auto& l : kLists) known = known || only == l.name;
  if (!known) {
    std::fprintf(stderr,
                 "tamberlin-cli catalogue: unknown list '%s' (photo, photo-thorough, raw, "
                 "raw-thorough, video, video-thorough)\n",
                 only.c_str());
    return 2;
  }
  if (!std::filesystem::is_directory(dir)) {
    std::fprintf(stderr, "tamberlin-cli catalogue: no data folder at %s\n", dir.c_str());
    return 2;
  }
  for (const auto& l : kLists) {
    if (!only.empty() && only != l.name) continue;
    if (only.empty()) std::printf("%s\n", l.name);
    Print_Records(Load_Catalogue_File(dir / l.file));
  }
  return 0;
}

}  // namespace tamberlin::cli
