// The verbs' options, one table each: the parser reads the arguments against
// it and the help texts are written from it, so every option a verb takes is
// also in its help. An option that takes a value accepts both "--opt VALUE"
// and "--opt=VALUE"; "--" ends the options.
#pragma once

#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "tools/cli.h"

namespace tamberlin::cli {

struct OptionSpec {
  const char* name;   // "--mode"
  const char* value;  // what it takes, as shown in the help ("photo|video|raw"); nullptr for a switch
  const char* help;
};

struct VerbSpec {
  const char* name;
  const char* operands;  // "SOURCE", "[LIST]"
  const char* summary;   // one line
  std::span<const OptionSpec> options;
  const char* details;   // more text for the verb's own help; may be empty
};

extern const VerbSpec kCatalogueVerb;
extern const VerbSpec kScanVerb;
extern const VerbSpec kMediaVerb;

// The arguments of one verb, split into options (in the order given) and
// operands. `help` is set when -h or --help came before any fault.
struct ParsedArgs {
  std::vector<std::pair<std::string, std::string>> options;  // name, value ("" for a switch)
  std::vector<std::string> operands;
  bool help = false;
};

// The parsed arguments, or the sentence saying what is wrong with them.
std::variant<ParsedArgs, std::string> Parse_Args(const Args& args, const VerbSpec& verb);

// "usage: tamberlin-cli VERB ..." and every option of the verb, one a line.
std::string Verb_Help(const VerbSpec& verb);

// The help of the whole program: every verb in `verbs` with all its options.
std::string Program_Help(std::span<const VerbSpec* const> verbs);

}  // namespace tamberlin::cli
