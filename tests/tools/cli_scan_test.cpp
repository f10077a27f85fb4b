// tamberlin-cli scan as a script sees it: CSV on stdout, exit codes, the
// recovery folder it makes, what it says of sources and outputs that fail,
// and what a signal mid-recovery leaves.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
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

// Sources that are not disks, and outputs that fail: each ends at once with
// its own message and exit code, never hangs on the source or passes a lost
// write off as success. Run from the scratch folder, so relative names resolve there.
TEST_F(CliScanTest, SourcesThatAreNoDisksAndFailedOutputsEndAtOnceWithTheirOwnMessage) {
  ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
  ASSERT_EQ(::mkfifo(qPrintable(dir.filePath("fifo")), 0600), 0);  // no writer: a blocking open never returns
  QFile empty(dir.filePath("empty.img")), part(dir.filePath("short.img"));
  ASSERT_TRUE(empty.open(QIODevice::WriteOnly) && part.open(QIODevice::WriteOnly) && part.write(QByteArray(300, 'x')));
  const struct {
    const char* command;
    int exit_code;
    const char* in_stderr;
    const char* in_stdout;
  } cases[] = {
      {"scan --quiet folder", 3, "is a folder, not a disk or disk image", ""},
      {"scan --quiet fifo", 3, "is not a disk or disk image", ""},
      {"scan --quiet empty.img", 3, "the medium is empty or its size cannot be read", ""},
      {"scan --quiet short.img", 3, "the medium is empty or its size cannot be read", ""},
      {"scan --quiet no-such-card.img", 3, "file not found", ""},
      {"scan --quiet card.img >/dev/full", 5, "cannot write to standard output", ""},
      {"catalogue --help", 0, "", "usage: tamberlin-cli catalogue"},
  };
  for (const auto& c : cases) {
    const auto run = tamberlin::testing::Run_Tool(
        "sh", {"-c", QStringLiteral("'%1' %2 </dev/null").arg(TAMBERLIN_CLI, c.command)}, {}, dir.path());
    EXPECT_EQ(run.exit_code, c.exit_code) << c.command << ": " << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(c.in_stderr)) << c.command << ": " << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(c.in_stdout)) << c.command;
    EXPECT_FALSE(run.err.contains("Error in storage media reading")) << c.command << ": not a read error";
  }
}

// Stopped by a signal in the middle of a recovery, no unfinished file stays
// behind; the ones a run killed outright (SIGKILL) left are removed by the
// next recovery there. Mostly holes: ten items of 18 MB, each behind an
// Outlook store's magic, which the recovery keeps as doubtful ones.
class CliSignalsTest : public CliScanTest {
 protected:
  void SetUp() override {
    QFile f(image);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(10 * kItemBytes));
    for (qint64 i = 0; i < 10; ++i) ASSERT_TRUE(f.seek(i * kItemBytes) && f.write("!BDN") == 4);
  }
  void Start(QProcess& p, const QString& folder) {
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(TAMBERLIN_CLI, {"scan", "--quiet", "--mode", "raw", "--types", "PST", "--recover", folder,
                            "--keep-doubtful", image});
    ASSERT_TRUE(p.waitForStarted());
  }
  static QStringList Part_Files(const QString& folder) {
    QStringList out;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
      if (const QString name = QFileInfo(it.next()).fileName(); name.contains(".part.")) out << name;
    return out;
  }
  static constexpr qint64 kItemBytes = 36864 * 512;  // a raw item's longest run
};

TEST_F(CliSignalsTest, TermAndHangUpDuringARecoveryLeaveNoPartFile) {
  for (const int sig : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    const QString folder = dir.filePath(QString::number(sig));
    ASSERT_TRUE(QDir().mkpath(folder));
    QProcess p;
    Start(p, folder);
    // Waits for the first unfinished file, looking every millisecond; the
    // recovery writes 180 MB, so one is there for most of it.
    bool signalled = false;
    while (!signalled && !p.waitForFinished(1))
      if (!Part_Files(folder).isEmpty()) signalled = ::kill(static_cast<pid_t>(p.processId()), sig) == 0;
    if (!signalled) p.kill();
    p.waitForFinished(-1);
    ASSERT_TRUE(signalled) << "the recovery ended before an unfinished file was seen";
    ASSERT_EQ(p.exitStatus(), QProcess::NormalExit) << "ended by the signal itself, not by the stop it asks for";
    EXPECT_EQ(p.exitCode(), 128 + sig);
    EXPECT_EQ(Part_Files(folder), QStringList());
    EXPECT_TRUE(p.readAllStandardError().contains("no partial file was left"));
  }
}

TEST_F(CliSignalsTest, NextRecoveryRemovesTheUnfinishedFilesOfAKilledOne) {
  const QString folder = dir.filePath("out");
  ASSERT_TRUE(QDir().mkpath(folder));
  // As a SIGKILL leaves them: an unfinished copy, an hour old.
  QFile stale(folder + "/.PST00001.PST.part.Qx3k9Z");
  ASSERT_TRUE(stale.open(QIODevice::WriteOnly) && stale.write(QByteArray(4096, 'p')) == 4096);
  ASSERT_TRUE(stale.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
  stale.close();
  QProcess p;
  Start(p, folder);
  ASSERT_TRUE(p.waitForFinished(-1));
  const QByteArray errors = p.readAllStandardError();
  EXPECT_TRUE(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0) << errors.toStdString();
  EXPECT_FALSE(stale.exists());
  EXPECT_EQ(Part_Files(folder), QStringList());
  EXPECT_TRUE(errors.contains(("Removed 1 unfinished files left in " + folder).toUtf8())) << errors.toStdString();
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
