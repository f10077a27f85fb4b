// tamberlin-cli catalogue: prints the parsed records so a user can check a
// catalogue file they edited.
#include <cstdio>
#include <string>

#include "engine/catalogue.h"
#include "tools/cli.h"

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

constexpr const char* kCatalogueUsage =
    "usage: tamberlin-cli catalogue [--resources DIR] [LIST]\n"
    "Prints the signature records as the program reads them, tab-separated, one a line:\n"
    "type, maximum size, signature, position, end marker, description, first byte.\n"
    "LIST is one of photo, photo-thorough, raw, raw-thorough, video, video-thorough\n"
    "(default: every list, each under its name). DIR is the folder holding the catalogue files.\n";

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
  std::filesystem::path dir = Default_Data_Dir();
  std::string only;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      std::fputs(kCatalogueUsage, stdout);
      return 0;
    }
    if (args[i] == "--resources") {
      if (i + 1 >= args.size()) {
        std::fputs("tamberlin-cli catalogue: --resources needs a folder\n", stderr);
        return 2;
      }
      dir = args[++i];
    } else if (!args[i].empty() && args[i][0] == '-') {
      std::fprintf(stderr, "tamberlin-cli catalogue: unknown option '%s'\n", args[i].c_str());
      return 2;
    } else if (only.empty()) {
      only = args[i];
    } else {
      std::fputs("tamberlin-cli catalogue: give at most one list\n", stderr);
      return 2;
    }
  }
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
