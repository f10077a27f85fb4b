#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/cli.h"

namespace tamberlin::cli {

std::filesystem::path Default_Data_Dir() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "share/tamberlin";
  return (exe.parent_path() / ".." / "share" / "tamberlin").lexically_normal();
}

}  // namespace tamberlin::cli

namespace {

constexpr const char* kUsage =
    "usage: tamberlin-cli VERB [OPTIONS]\n"
    "\n"
    "verbs:\n"
    "  catalogue [--resources DIR] [LIST]   print the parsed signature records\n"
    "      LIST: photo, photo-thorough, raw, raw-thorough, video, video-thorough\n"
#ifdef TAMBERLIN_CLI_HAS_SCAN
    "  scan [--mode photo|video|raw] [--types T1,T2,...] [--no-thorough]\n"
    "       [--range START:END] [--resources DIR] [--quiet] SOURCE\n"
    "                                        find lost files on a device or disk image\n"
#endif
#ifdef TAMBERLIN_CLI_HAS_MEDIA
    "  media                                 list removable media, tab-separated\n"
#endif
    "Each verb takes --help.\n";

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

int main(int argc, char** argv) {
  using namespace tamberlin::cli;
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::string verb = argv[1];
  const Args args(argv + 2, argv + argc);
  if (verb == "catalogue") return Checked_Output(Catalogue_Verb(args));
#ifdef TAMBERLIN_CLI_HAS_SCAN
  if (verb == "scan") return Checked_Output(Scan_Verb(args));
#endif
#ifdef TAMBERLIN_CLI_HAS_MEDIA
  if (verb == "media") return Checked_Output(Media_Verb(args));
#endif
  std::fprintf(stderr, "tamberlin-cli: unknown verb '%s'\n\n%s", verb.c_str(), kUsage);
  return 2;
}
