// tamberlin-cli scan as a script sees it: CSV on stdout, exit codes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

struct CliRun {
  int exit_code;
  std::string out;
};

class CliScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image = std::filesystem::path(::testing::TempDir()) / ("cli_scan_" + std::to_string(::getpid()) + ".img");
    std::string bytes(64 * 512, '\0');
    const std::string jpeg = "\xFF\xD8\xFF\xE0";
    const std::string doc = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
    bytes.replace(4 * 512, jpeg.size(), jpeg);
    bytes.replace(20 * 512, doc.size(), doc);
    std::ofstream(image, std::ios::binary) << bytes;
  }
  void TearDown() override { std::filesystem::remove(image); }

  CliRun Scan(const std::string& args) {
    const std::string cmd = std::string(TAMBERLIN_CLI) + " scan --quiet " + args + " 2>/dev/null";
    FILE* p = ::popen(cmd.c_str(), "r");
    std::string out;
    std::array<char, 4096> buf{};
    while (std::fgets(buf.data(), buf.size(), p) != nullptr) out += buf.data();
    const int status = ::pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
  }

  std::filesystem::path image;
};

TEST_F(CliScanTest, PhotoScanPrintsOneRowPerItem) {
  const CliRun r = Scan("--no-thorough " + image.string());
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out,
            "pass,name,uid,type,start_sector,end_sector,bytes\n"
            "GEN,GND00001.JPG,GND00001.JPG,JPG,4,64,30720\n");
}

TEST_F(CliScanTest, RawScanOfOneTypeInARange) {
  const CliRun r = Scan("--mode raw --types DOC --range 10:40 " + image.string());
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("GEN,DOC00001.DOC,DOC00001.DOC,DOC,20,40,10240\n"), std::string::npos) << r.out;
}

TEST_F(CliScanTest, RecoverMakesTheFolderAndWritesEveryItemWithAReport) {
  const auto folder = image.parent_path() / ("recovered_" + std::to_string(::getpid())) / "new";
  const CliRun r = Scan("--mode raw --types DOC --recover " + folder.string() + " " + image.string());
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(std::filesystem::file_size(folder / "DOC00001.DOC"), 44u * 512);  // no sound OLE2 header: as found
  std::ifstream report(folder / "recovery-report.csv");
  std::string header, row;
  std::getline(report, header);
  std::getline(report, row);
  EXPECT_EQ(header, "name,type,start_sector,end_sector,bytes_written,end,sha256,note");
  EXPECT_EQ(row.rfind("DOC00001.DOC,DOC,20,64,22528,as found,", 0), 0u) << row;
  std::filesystem::remove_all(folder.parent_path());
}

struct ExitCase {
  const char* name;
  std::string args;  // IMAGE stands for the test image
  int exit_code;
};

class CliExitTest : public CliScanTest, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(CliExitTest, ExitCode) {
  std::string args = GetParam().args;
  for (auto at = args.find("IMAGE"); at != std::string::npos; at = args.find("IMAGE", at))
    args.replace(at, 5, image.string());
  EXPECT_EQ(Scan(args).exit_code, GetParam().exit_code);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliExitTest,
    ::testing::Values(ExitCase{"NoSource", "", 2}, ExitCase{"UnknownMode", "--mode audio IMAGE", 2},
                      ExitCase{"UnknownType", "--mode raw --types NOPE IMAGE", 2},
                      ExitCase{"EndPastTheMedium", "--range 0:65 IMAGE", 2},
                      ExitCase{"EndNotAfterStart", "--range 9:9 IMAGE", 2},
                      ExitCase{"RangeNotNumbers", "--range a:b IMAGE", 2},
                      ExitCase{"MissingImage", "/nonexistent/card.img", 3},
                      ExitCase{"RecoverNeedsAFolder", "IMAGE --recover", 2},
                      ExitCase{"RecoverIntoAFile", "--recover IMAGE IMAGE", 4},
                      ExitCase{"WholeMedium", "--range 0:64 IMAGE", 0}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
