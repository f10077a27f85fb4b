// tamberlin-cli media: the rows of the window's media table, tab-separated,
// one medium a line: identifier, volume, file system, size, parent disk,
// sectors. Disk images given as arguments are listed after the removable
// volumes, as the window lists images added to it.
#include <QCoreApplication>
#include <cstdio>
#include <variant>

#include "tools/cli.h"
#include "tools/cli_args.h"
#include "tools/cli_text.h"
#include "media/media_list.h"
#include "media/raw_access.h"

namespace tamberlin::cli {
namespace {

void Print_Row(const media::MyDataObject& r) {
  const QString line = QStringList{r.nsStrDiskIdentifier, r.nsStrVolName, r.nsStrFileSystem,
                                   r.nsStrSize, r.nsStrParentDisk, r.nsStrSectors}
                           .join(QLatin1Char('\t'));
  std::fputs(line.toUtf8().constData(), stdout);
  std::fputc('\n', stdout);
}

}  // namespace

int Media_Verb(const Args& args) {
  const auto parsed = Parse_Args(args, kMediaVerb);
  if (const auto* problem = std::get_if<std::string>(&parsed)) {
    std::fprintf(stderr, "tamberlin-cli media: %s\n", problem->c_str());
    return 2;
  }
  const ParsedArgs& p = std::get<ParsedArgs>(parsed);
  if (p.help) {
    std::fputs(Verb_Help(kMediaVerb).c_str(), stdout);
    return 0;
  }
  media::ProcessRunner runner;
  QString error;
  const auto records = media::getVolumeToFSGetInfo(runner, &error);
  for (const auto& r : records) Print_Row(r);
  int status = 0;
  if (!error.isEmpty()) {
    std::fprintf(stderr, "tamberlin-cli media: %s\n", error.toUtf8().constData());
    status = 1;
  } else if (records.empty()) {
    std::fputs("tamberlin-cli media: no removable media found\n", stderr);
  }
  // Listed or not, a stick cannot be scanned without the rights to read it.
  if (const std::string note = media::Raw_Device_Rights_Note(); !note.empty()) {
    std::fprintf(stderr, "tamberlin-cli media: %s\n", Terminal_Text(note).c_str());
  }
  const auto probe = media::Blkid_Probe(runner);
  for (const std::string& a : p.operands) {
    QString why;
    if (const auto image = media::Image_Record(QString::fromStdString(a), probe, &why)) {
      Print_Row(*image);
    } else {
      std::fprintf(stderr, "tamberlin-cli media: %s\n", Terminal_Text(why.toStdString()).c_str());
      status = 1;
    }
  }
  return status;
}

}  // namespace tamberlin::cli
