#include "tools/cli_args.h"

#include <algorithm>
#include <cstring>

namespace tamberlin::cli {
namespace {

constexpr OptionSpec kCatalogueOptions[] = {
    {"--resources", "DIR", "read the catalogue files from DIR instead of the installed ones"},
};

constexpr OptionSpec kScanOptions[] = {
    {"--mode", "photo|video|raw", "what to look for (default photo)"},
    {"--types", "T1,T2,...", "only these types, such as JPG,PNG (default: every type of the mode)"},
    {"--no-thorough", nullptr,
     "no thorough pass; in video and raw mode it still runs when a chosen type has thorough signatures"},
    {"--range", "START:END", "sectors START up to, not including, END (default: the entire medium)"},
    {"--resources", "DIR", "read the catalogue files from DIR instead of the installed ones"},
    {"--quiet", nullptr, "no progress line on the terminal"},
    {"--recover", "DIR",
     "after the search, write every item found into DIR (made when missing; refused when it lies on "
     "SOURCE), cut to its real end where the format tells it, with DIR/recovery-report.csv"},
    {"--keep-doubtful", nullptr,
     "with --recover: also write items whose bytes are not their format, into DIR/doubtful"},
};

const OptionSpec* Find(const VerbSpec& verb, std::string_view name) {
  for (const OptionSpec& o : verb.options) {
    if (name == o.name) return &o;
  }
  return nullptr;
}

std::string Synopsis(const VerbSpec& verb) {
  std::string s = verb.name;
  if (verb.options.size() == 1 && verb.options[0].value != nullptr) {
    s += std::string(" [") + verb.options[0].name + " " + verb.options[0].value + "]";
  } else if (!verb.options.empty()) {
    s += " [OPTIONS]";
  }
  if (*verb.operands != '\0') s += std::string(" ") + verb.operands;
  return s;
}

// One option a line: the option with its value in a column, the help beside
// it, wrapped at the last space that keeps a line within 79 characters.
void Append_Options(std::string& out, const VerbSpec& verb, const char* indent) {
  constexpr std::size_t kColumn = 26, kWidth = 79;
  const std::size_t column = std::strlen(indent) + kColumn;
  for (const OptionSpec& o : verb.options) {
    std::string line = std::string(indent) + o.name + (o.value != nullptr ? std::string(" ") + o.value : "");
    line.resize(std::max(line.size() + 2, column), ' ');
    std::string_view help = o.help;
    while (line.size() + help.size() > kWidth) {
      const auto cut = help.rfind(' ', kWidth - line.size());
      if (cut == std::string_view::npos || cut == 0) break;
      out += line + std::string(help.substr(0, cut)) + "\n";
      help.remove_prefix(cut + 1);
      line.assign(column, ' ');
    }
    out += line + std::string(help) + "\n";
  }
}

}  // namespace

const VerbSpec kCatalogueVerb{
    "catalogue", "[LIST]", "print the parsed signature records", kCatalogueOptions,
    "Prints the signature records as the program reads them, tab-separated, one a line:\n"
    "type, maximum size, signature, position, end marker, description, first byte.\n"
    "LIST is one of photo, photo-thorough, raw, raw-thorough, video, video-thorough\n"
    "(default: every list, each under its name).\n"};

const VerbSpec kScanVerb{
    "scan", "SOURCE", "find lost files on a device or disk image, as CSV on standard output", kScanOptions,
    "SOURCE is a device identifier (sdb1 means /dev/sdb1) or the path of a device or disk image.\n"
    "Found items are printed as CSV (pass,name,uid,type,start_sector,end_sector,bytes), fields holding\n"
    "a comma, a quote or a line break in double quotes. On a terminal a progress line on standard error\n"
    "shows the position, the speed and the time left.\n"
    "With --recover, items whose bytes are not their format are not written unless --keep-doubtful.\n"
    "exit codes: 0 completed; 1 completed, but sectors could not be read (the count is on stderr)\n"
    "or the medium stopped answering; 2 bad usage; 3 SOURCE cannot be opened, is no disk or disk\n"
    "image, or is empty; 4 recovery refused or stopped; 5 standard output could not be written;\n"
    "130 interrupted.\n"};

const VerbSpec kMediaVerb{
    "media", "[IMAGE...]", "list removable media (and the given disk images), tab-separated",
    {},
    "Columns: identifier, volume, file system, size, parent disk, sectors.\n"
    "Says \"no removable media found\" on standard error when there is none.\n"};

std::variant<ParsedArgs, std::string> Parse_Args(const Args& args, const VerbSpec& verb) {
  ParsedArgs parsed;
  bool options_end = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options_end || a.size() < 2 || a[0] != '-') {
      parsed.operands.push_back(a);
      continue;
    }
    if (a == "--") {
      options_end = true;
      continue;
    }
    if (a == "--help" || a == "-h") {
      parsed.help = true;
      return parsed;
    }
    const auto eq = a.find('=');
    const std::string name = a.substr(0, eq);
    const OptionSpec* o = a.starts_with("--") ? Find(verb, name) : nullptr;
    if (o == nullptr) return "unknown option '" + name + "'";
    if (o->value == nullptr) {
      if (eq != std::string::npos) return name + " takes no value";
      parsed.options.emplace_back(name, "");
    } else if (eq != std::string::npos) {
      parsed.options.emplace_back(name, a.substr(eq + 1));
    } else if (i + 1 < args.size()) {
      parsed.options.emplace_back(name, args[++i]);
    } else {
      return name + " needs " + o->value;
    }
  }
  return parsed;
}

std::string Verb_Help(const VerbSpec& verb) {
  std::string out = "usage: tamberlin-cli " + Synopsis(verb) + "\n" + verb.summary + ".\n";
  std::string options;
  Append_Options(options, verb, "  ");
  if (!options.empty()) out += "\noptions (--opt VALUE or --opt=VALUE):\n" + options;
  out += "  -h, --help                this text\n\n";
  return out + verb.details;
}

std::string Program_Help(std::span<const VerbSpec* const> verbs) {
  std::string out =
      "usage: tamberlin-cli VERB [OPTIONS] [OPERANDS]\n"
      "       tamberlin-cli help [VERB] | --help | --version\n"
      "\nverbs (options taking a value accept --opt VALUE and --opt=VALUE):\n";
  for (const VerbSpec* v : verbs) {
    out += "  " + Synopsis(*v) + "\n      " + v->summary + "\n";
    Append_Options(out, *v, "      ");
  }
  out += "  help [VERB]\n      this text, or the full help of VERB\n";
  return out + "Each verb takes --help.\n";
}

}  // namespace tamberlin::cli
