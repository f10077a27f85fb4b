#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/cli.h"
#include "tools/cli_args.h"

namespace tamberlin::cli {

std::filesystem::path Default_Data_Dir() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "share/tamberlin";
  return (exe.parent_path() / ".." / "share" / "tamberlin").lexically_normal();
}

}  // namespace tamberlin::cli

namespace {

// The verbs in the order the help lists them.
constexpr const tamberlin::cli::VerbSpec* kVerbs[] = {
    &tamberlin::cli::kCatalogueVerb,
#ifdef TAMBERLIN_CLI_HAS_SCAN
    &tamberlin::cli::kScanVerb,
#endif
#ifdef TAMBERLIN_CLI_HAS_MEDIA
    &tamberlin::cli::kMediaVerb,
#endif
};

constexpr int kExitOutputFailed = 5;

// Output that could not be written (a full disk) is a failure
// even when the verb itself went well: a script must not take a cut-off list
// for the whole one.
int Checked_Output(int status) {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  const int err = errno;
  if (flushed && std::ferror(stdout) == 0) return status;
  std::fprintf(stderr, "tamberlin-cli: cannot write to standard output%s%s\n", err != 0 ? ": " : "",
               err != 0 ? std::strerror(err) : "");
  return status == 0 ? kExitOutputFailed : status;
}

}  // namespace

// `tamberlin-cli help [VERB]`: the program's help, or the verb's own.
static int Help_Verb(const tamberlin::cli::Args& args) {
  using namespace tamberlin::cli;
  if (args.empty()) {
    std::fputs(Program_Help(kVerbs).c_str(), stdout);
    return 0;
  }
  for (const VerbSpec* v : kVerbs) {
    if (args.size() == 1 && args[0] == v->name) {
      std::fputs(Verb_Help(*v).c_str(), stdout);
      return 0;
    }
  }
  std::fprintf(stderr, "tamberlin-cli help: no verb '%s'\n\n%s", args[0].c_str(), Program_Help(kVerbs).c_str());
  return 2;
}

int main(int argc, char** argv) {
  using namespace tamberlin::cli;
  if (argc < 2) {
    std::fputs(Program_Help(kVerbs).c_str(), stderr);
    return 2;
  }
  const std::string verb = argv[1];
  const Args args(argv + 2, argv + argc);
  if (verb == "--help" || verb == "-h") return Checked_Output(Help_Verb({}));
  if (verb == "--version") {
    std::fputs("tamberlin " TAMBERLIN_VERSION "\n", stdout);
    return Checked_Output(0);
  }
  if (verb == "help") return Checked_Output(Help_Verb(args));
  if (verb == "catalogue") return Checked_Output(Catalogue_Verb(args));
#ifdef TAMBERLIN_CLI_HAS_SCAN
  if (verb == "scan") return Checked_Output(Scan_Verb(args));
#endif
#ifdef TAMBERLIN_CLI_HAS_MEDIA
  if (verb == "media") return Checked_Output(Media_Verb(args));
#endif
  std::fprintf(stderr, "tamberlin-cli: unknown verb '%s'\n\n%s", verb.c_str(), Program_Help(kVerbs).c_str());
  return 2;
}
