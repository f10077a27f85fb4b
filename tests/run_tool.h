// Runs an external program for a test (mkfs.vfat and mtools, GStreamer,
// tamberlin-cli) and keeps what it printed. The wait has no limit of its own:
// a tool that hangs is ended by the test runner's timeout.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace tamberlin::testing {

struct ToolRun {
  int exit_code = -1;  // -1 when the program did not start or crashed
  QByteArray out, err;
  QString problem;  // empty on exit code 0; otherwise one line for a failure message or a skip
  bool Ok() const { return problem.isEmpty(); }
};

// A program's path: PATH first, then the admin folders a plain user's PATH lacks.
inline QString Find_Tool(const QString& name) {
  const QString found = QStandardPaths::findExecutable(name);
  return found.isEmpty() ? QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")})
                         : found;
}

// `program` is a name looked up with Find_Tool or a path; `env` holds NAME=value pairs.
inline ToolRun Run_Tool(const QString& program, const QStringList& args, const QStringList& env = {},
                        const QString& folder = {}) {
  ToolRun run;
  const QString exe = program.contains(QLatin1Char('/')) ? program : Find_Tool(program);
  if (exe.isEmpty()) {
    run.problem = program + QStringLiteral(" is not installed");
    return run;
  }
  QProcess p;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const QString& pair : env)
    environment.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
  p.setProcessEnvironment(environment);
  if (!folder.isEmpty()) p.setWorkingDirectory(folder);
  p.start(exe, args);
  p.closeWriteChannel();  // no input: a program that reads some sees its end
  p.waitForFinished(-1);
  run.out = p.readAllStandardOutput();
  run.err = p.readAllStandardError();
  if (p.error() == QProcess::FailedToStart) {
    run.problem = exe + QStringLiteral(" could not be started");
  } else if (p.exitStatus() != QProcess::NormalExit) {
    run.problem = exe + QStringLiteral(" crashed");
  } else if ((run.exit_code = p.exitCode()) != 0) {
    run.problem = QStringLiteral("%1 %2 exited with %3: %4")
                      .arg(exe, args.join(QLatin1Char(' ')))
                      .arg(run.exit_code)
                      .arg(QString::fromLocal8Bit(run.err + run.out).trimmed());
  }
  return run;
}

}  // namespace tamberlin::testing
