// The command line's pure parts: argument reading, CSV fields, the type
// column, terminal wording and the speed behind the progress line.
#include <gtest/gtest.h>

#include "tools/cli_progress.h"
#include "tools/cli_scan_options.h"
#include "tools/cli_text.h"

namespace tamberlin::cli {
namespace {

std::string Describe(const std::variant<ScanOptions, std::string>& parsed) {
  if (const auto* error = std::get_if<std::string>(&parsed)) return "error: " + *error;
  const ScanOptions& o = std::get<ScanOptions>(parsed);
  if (o.help) return "help";
  std::string s = "mode=" + std::to_string(static_cast<int>(o.mode));
  if (o.types) for (const auto& t : *o.types) s += " type=" + t;
  s += std::string(o.thorough ? "" : " no-thorough") + (o.range ? " range=" + *o.range : "");
  s += (o.resources.empty() ? "" : " resources=" + o.resources.string()) + (o.quiet ? " quiet" : "");
  s += (o.recover ? " recover=" + *o.recover : "") + (o.keep_doubtful ? " keep" : "");
  return s + " source=" + o.source;
}

TEST(CliParts, ScanOptionsInBothFormsAndBadValues) {
  const std::pair<Args, std::string> cases[] = {
      {{"--mode", "raw", "--types=DOC,,PDF", "--range=10:40", "img"}, "mode=2 type=DOC type=PDF range=10:40 source=img"},
      {{"--mode=video", "--resources", "r=1", "--quiet", "--no-thorough", "img"},
       "mode=1 no-thorough resources=r=1 quiet source=img"},
      {{"--recover=out", "--keep-doubtful", "--", "--odd-name"}, "mode=0 recover=out keep source=--odd-name"},
      {{"img", "--range"}, "error: --range needs START:END"},
      {{"--mode=disk", "img"}, "error: unknown mode 'disk' (photo, video or raw)"},
      {{"--quiet=yes", "img"}, "error: --quiet takes no value"},
      {{"--recover=", "img"}, "error: --recover needs a destination folder"},
      {{"--types=,", "img"}, "error: --types needs a comma-separated list such as JPG,PNG"},
      {{"--keep-doubtful", "img"}, "error: --keep-doubtful needs --recover DIR"},
      {{"--mod=raw", "img"}, "error: unknown option '--mod'"},
      {{"-x", "img"}, "error: unknown option '-x'"},
      {{"a", "b"}, "error: give one SOURCE only"},
      {{}, "error: no SOURCE given"},
      {{"--bogus", "--help"}, "error: unknown option '--bogus'"},
      {{"--help", "--bogus"}, "help"},
  };
  for (const auto& [args, expected] : cases) EXPECT_EQ(Describe(Parse_Scan_Options(args)), expected) << expected;
}

TEST(CliParts, CsvFieldsAndTypeColumn) {
  const std::pair<std::string, std::string> fields[] = {
      {"A.JPG", "A.JPG"}, {"a,b", "\"a,b\""}, {"say \"hi\"", "\"say \"\"hi\"\"\""}, {"c\rl\nf", "\"c\rl\nf\""}, {"", ""}};
  for (const auto& [in, out] : fields) EXPECT_EQ(Csv_Field(in), out) << in;

  const std::set<std::string> types = {"C", "B.C", "JPG", "TAR.GZ"};
  const std::pair<std::string, std::string> names[] = {
      {"GND00001.B.C", "B.C"}, {"B.C00002.B.C", "B.C"}, {"GND00003.C", "C"}, {"GND00004.XYZ", "XYZ"}};
  for (const auto& [name, type] : names) EXPECT_EQ(Type_Of(name, types), type) << name;
}

TEST(CliParts, WindowTextsSaidForATerminal) {
  const std::pair<std::string, std::string> cases[] = {
      {"Permission denied opening /dev/sdb. Reading a device needs administrator rights or membership of the "
       "\"disk\" group: run Tamberlin with sudo, or add yourself to the disk group and log in again.",
       "cannot open /dev/sdb: permission denied; run as root or join the disk group (sudo usermod -aG disk $USER, "
       "then log in again)"},
      {"Permission denied opening /home/a/x.img. Your account may not read this disk image file.",
       "cannot open /home/a/x.img: permission denied"},
      {"/dev/sdc1 does not exist. The medium may have been removed: plug it in again and refresh the list.",
       "cannot open /dev/sdc1: no such device; the medium may have been removed (tamberlin-cli media lists what is "
       "there)"},
      {"\u201c/x\u201d is a file. Please choose a folder.", "\u201c/x\u201d is a file. Give --recover a folder."},
  };
  for (const auto& [window, terminal] : cases) EXPECT_EQ(Terminal_Text(window), terminal);
}

TEST(CliParts, RateTextOnTheProgressLine) {
  const struct {
    std::vector<std::pair<double, std::uint64_t>> samples;  // seconds, bytes read
    std::optional<std::uint64_t> total;
    const char* text;
  } cases[] = {
      {{{0.5, 1'000'000}}, 10, "-- MB/s"},
      {{{0, 0}, {1, 10'000'000}, {2, 20'000'000}}, 70'000'000, "10.0 MB/s, 0:05 left"},
      {{{0, 0}, {1, 1'000'000}}, 3'601'000'000, "1.0 MB/s, 1:00:00 left"},
      {{{0, 0}, {1, 1'000'000}}, std::nullopt, "1.0 MB/s"},  // the pass's last line
  };
  for (const auto& c : cases) {
    ProgressRate rate;
    for (const auto& [t, b] : c.samples) rate.Add(t, b);
    EXPECT_EQ(Rate_Text(rate, c.total), c.text);
  }
}

}  // namespace
}  // namespace tamberlin::cli
