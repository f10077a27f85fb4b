// tamberlin-cli scan as a script sees it: CSV on stdout, exit codes, and the
// recovery folder it makes.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "run_tool.h"

namespace {

class CliScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // 64 sectors: a JPEG header at 4, a Word header at 20.
    QByteArray bytes(64 * 512, '\0');
    bytes.replace(4 * 512, 4, QByteArray::fromHex("FFD8FFE0"));
    bytes.replace(20 * 512, 8, QByteArray::fromHex("D0CF11E0A1B11AE1"));
    QFile f(image);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
  }
  tamberlin::testing::ToolRun Scan(QString args) {
    args.replace(QStringLiteral("IMAGE"), image).replace(QStringLiteral("DIR"), dir.filePath("out/new"));
    return tamberlin::testing::Run_Tool(TAMBERLIN_CLI, QStringList{"scan", "--quiet"} + QProcess::splitCommand(args));
  }
  QTemporaryDir dir;
  QString image = dir.filePath("card.img");
};

TEST_F(CliScanTest, ExitCodesAndRowsByOptions) {
  struct Case {
    const char* args;
    int exit_code;
    const char* rows;  // what stdout holds after the header, when the scan ran
  };
  const Case cases[] = {
      {"--no-thorough IMAGE", 0, "GEN,GND00001.JPG,GND00001.JPG,JPG,4,64,30720\n"},
      {"--mode raw --types DOC --range 10:40 --no-thorough IMAGE", 0,
       "GEN,DOC00001.DOC,DOC00001.DOC,DOC,20,40,10240\n"},
      {"--mode raw --types NOPE IMAGE", 2, nullptr},
      {"--range 0:65 IMAGE", 2, nullptr},
      {"/nonexistent/card.img", 3, nullptr},
      {"--recover IMAGE IMAGE", 4, nullptr},
  };
  for (const Case& c : cases) {
    const auto run = Scan(c.args);
    EXPECT_EQ(run.exit_code, c.exit_code) << c.args << ": " << run.err.toStdString();
    if (c.rows) {
      EXPECT_EQ(run.out.toStdString(), std::string("pass,name,uid,type,start_sector,end_sector,bytes\n") + c.rows);
    }
  }
}

TEST_F(CliScanTest, RecoverMakesTheFolderAndReportsAnItemThatIsNotItsFormatAsNotWritten) {
  const auto run = Scan("--mode raw --types DOC --recover DIR IMAGE");
  ASSERT_EQ(run.exit_code, 0) << run.err.toStdString();
  const QDir out(dir.filePath("out/new"));
  EXPECT_FALSE(QFileInfo::exists(out.filePath("DOC00001.DOC")));  // a bare OLE2 magic is no document
  QFile report(out.filePath("recovery-report.csv"));
  ASSERT_TRUE(report.open(QIODevice::ReadOnly));
  EXPECT_EQ(report.readLine(), "name,type,start_sector,end_sector,bytes_written,end,sha256,note\n");
  EXPECT_TRUE(report.readLine().startsWith("DOC00001.DOC,DOC,20,64,0,not written,,not a DOC file"));
}

TEST(CliProgram, HelpListsEveryOptionAndVersionNamesTheRelease) {
  const std::pair<QStringList, const char*> cases[] = {
      {{"--help"}, "--recover DIR"},
      {{"help"}, "--keep-doubtful"},
      {{"scan", "--help"}, "--range START:END"},
      {{"--version"}, "tamberlin " TAMBERLIN_VERSION "\n"},
  };
  for (const auto& [args, expected] : cases) {
    const auto run = tamberlin::testing::Run_Tool(TAMBERLIN_CLI, args);
    EXPECT_TRUE(run.Ok()) << run.problem.toStdString();
    EXPECT_TRUE(run.out.contains(expected)) << args.join(' ').toStdString() << ": " << run.out.toStdString();
  }
}

}  // namespace
