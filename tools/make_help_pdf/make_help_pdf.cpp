// make_help_pdf GUIDE.html OUT.pdf: lays out the HTML user guide on A4 pages.
// Run with QT_QPA_PLATFORM=offscreen; the GUI application is needed for fonts.
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPdfWriter>
#include <QTextDocument>
#include <QUrl>
#include <cstdio>

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 3) {
    std::fputs("usage: make_help_pdf GUIDE.html OUT.pdf\n", stderr);
    return 2;
  }
  QFile html(QString::fromLocal8Bit(argv[1]));
  if (!html.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "make_help_pdf: cannot read %s\n", argv[1]);
    return 1;
  }
  QTextDocument document;
  document.setBaseUrl(QUrl::fromLocalFile(QFileInfo(html).absolutePath() + QLatin1Char('/')));
  document.setDefaultFont(QFont(QStringLiteral("DejaVu Sans"), 10));
  document.setHtml(QString::fromUtf8(html.readAll()));

  const QString out = QString::fromLocal8Bit(argv[2]);
  {
    QPdfWriter writer(out);
    writer.setTitle(QStringLiteral("Tamberlin User Guide"));
    writer.setCreator(QStringLiteral("Tamberlin"));
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(20, 18, 20, 18), QPageLayout::Millimeter));
    writer.setResolution(300);
    document.print(&writer);
  }
  if (QFileInfo(out).size() == 0) {
    std::fprintf(stderr, "make_help_pdf: %s was not written\n", argv[2]);
    return 1;
  }
  return 0;
}
