// tamberlin-cli given sources that are not disks, and outputs that fail: each
// case must end at once with its own message and a non-zero exit, never hang
// on the source or pass a lost write off as success.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct FaultCase {
  const char* name;
  std::string args;    // DIR stands for a scratch folder holding the files below
  std::string stdout_to;  // empty: a file
  int exit_code;
  std::string in_stderr;  // must appear on standard error
  std::string in_stdout;  // must appear on standard output
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class CliFaultTest : public ::testing::TestWithParam<FaultCase> {
 protected:
  void SetUp() override {
    dir = fs::path(::testing::TempDir()) / ("cli_faults_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "folder");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    std::ofstream(dir / "empty.img", std::ios::binary);
    std::ofstream(dir / "short.img", std::ios::binary) << std::string(300, 'x');
    std::string image(16 * 512, '\0');
    image.replace(2 * 512, 4, "\xFF\xD8\xFF\xE0");
    std::ofstream(dir / "card.img", std::ios::binary) << image;
  }
  void TearDown() override { fs::remove_all(dir); }

  static std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  fs::path dir;
};

TEST_P(CliFaultTest, EndsAtOnceWithItsOwnMessage) {
  const FaultCase& c = GetParam();
  std::string args = c.args;
  for (auto at = args.find("DIR"); at != std::string::npos; at = args.find("DIR", at)) args.replace(at, 3, dir.string());
  const std::string out = c.stdout_to.empty() ? (dir / "out.txt").string() : c.stdout_to;
  // Run from the scratch folder so relative names resolve there.
  const std::string cmd = "cd '" + dir.string() + "' && " + TAMBERLIN_CLI + " " + args + " >" + out + " 2>'" +
                          (dir / "err.txt").string() + "' </dev/null";
  const int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status)) << cmd;
  const std::string err = Slurp(dir / "err.txt");
  EXPECT_EQ(WEXITSTATUS(status), c.exit_code) << err;
  EXPECT_NE(err.find(c.in_stderr), std::string::npos) << err;
  if (c.exit_code != 0 && c.in_stderr.find("Error in storage") == std::string::npos) {
    EXPECT_EQ(err.find("Error in storage media reading"), std::string::npos) << err;
  }
  if (c.stdout_to.empty()) {
    EXPECT_NE(Slurp(out).find(c.in_stdout), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliFaultTest,
    ::testing::Values(
        FaultCase{"FolderAsSourceIsRefused", "scan --quiet DIR/folder", "", 3, "is a folder, not a disk or disk image",
                  ""},
        FaultCase{"FifoWithNoWriterIsRefusedWithoutWaiting", "scan --quiet DIR/fifo", "", 3,
                  "is not a disk or disk image", ""},
        FaultCase{"EmptyImageIsEmptyNotAReadError", "scan --quiet DIR/empty.img", "", 3,
                  "the medium is empty or its size cannot be read", ""},
        FaultCase{"SubSectorImageIsEmptyNotAReadError", "scan --quiet DIR/short.img", "", 3,
                  "the medium is empty or its size cannot be read", ""},
        FaultCase{"MissingRelativeImageIsFileNotFound", "scan --quiet no-such-card.img", "", 3, "file not found", ""},
        FaultCase{"FailedWriteToStdoutIsAnError", "scan --quiet DIR/card.img", "/dev/full", 5,
                  "cannot write to standard output", ""},
        FaultCase{"CatalogueHelp", "catalogue --help", "", 0, "", "usage: tamberlin-cli catalogue"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
