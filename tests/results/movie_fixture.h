// A short WebM made at test time with GStreamer's command-line tool.
#pragma once

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

namespace tamberlin::results::testing {

// Writes the movie to `path`; an empty answer means success, otherwise why not.
inline QString Make_Webm(const QString& path) {
  const QString tool = QStandardPaths::findExecutable(QStringLiteral("gst-launch-1.0"));
  if (tool.isEmpty()) return QStringLiteral("gst-launch-1.0 is not installed");
  QProcess gst;
  gst.start(tool, {QStringLiteral("-q"), QStringLiteral("videotestsrc"), QStringLiteral("num-buffers=30"),
                   QStringLiteral("!"), QStringLiteral("vp8enc"), QStringLiteral("!"),
                   QStringLiteral("webmmux"), QStringLiteral("!"), QStringLiteral("filesink"),
                   QStringLiteral("location=") + path});
  if (!gst.waitForFinished(60000) || gst.exitCode() != 0 || QFileInfo(path).size() == 0)
    return QStringLiteral("gst-launch-1.0 could not make a WebM: ") +
           QString::fromLocal8Bit(gst.readAllStandardError());
  return {};
}

}  // namespace tamberlin::results::testing
